#include "ui/win32/overwriteprompt.h"

namespace corv {

namespace {

constexpr int kIcon = 1063;
constexpr int kQuestion = 1033;
constexpr int kReplace = 1034;
constexpr int kWithNew = 1064;
constexpr int kExisting = 1061;
constexpr int kNew = 1062;
constexpr int kYes = 1012;
constexpr int kNo = 1013;
constexpr int kYesToAll = 1014;
constexpr int kCancel = 1000;

}  // namespace

int OverwritePrompt::ask(File& existing, FileTime newTime, int64_t newSize) {
  UIWindow* page = ui().waitCurrentWindow();
  if (!page) return static_cast<int>(OverwriteAnswer::Cancel);
  owner_ = static_cast<HWND>(page->windowHandle());
  existingFile_ = &existing;
  newTime_ = newTime;
  newSize_ = newSize;
  INT_PTR answer = runPage();
  existingFile_ = nullptr;
  return static_cast<int>(answer);
}

bool OverwritePrompt::onInitDialog() {
  setTitle(FormatMessageTextWide(1581));
  SendDlgItemMessageA(hwnd(), kIcon, STM_SETICON, reinterpret_cast<WPARAM>(resources().messageIcon()), 0);
  setItemMessage(kQuestion, 1582, existingFile_->widePath());
  setItemMessage(kReplace, 1583);
  setItemMessage(kWithNew, 1584);
  setItemText(kExisting, OverwriteFileText(existingFile_->modificationTime(), existingFile_->size()));
  setItemText(kNew, OverwriteFileText(newTime_, newSize_));
  SetForegroundWindow(hwnd());
  return true;
}

INT_PTR OverwritePrompt::handleMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_CLOSE) {
    onCancel();
    return TRUE;
  }
  if (message != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case kYes:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::Yes));
      return TRUE;
    case kNo:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::No));
      return TRUE;
    case kYesToAll:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::YesToAll));
      return TRUE;
    case kCancel:
    case IDCANCEL:  // Escape
      onCancel();
      return TRUE;
    default:
      return 0;
  }
}

void OverwritePrompt::onCancel() {
  AnsiString caption = FormatMessageText(1406);
  AnsiString text = FormatMessageText(1405);
  if (MessageBoxA(hwnd(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES) {
    endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::Cancel));
  }
}

}  // namespace corv

#include "ui/win32/overwriteprompt.h"

namespace corv {

OverwriteAnswer OverwritePrompt::ask(File& existing, FileTime newTime, int64_t newSize) {
  UIWindow* page = ui().waitCurrentWindow();
  if (!page) return OverwriteAnswer::Cancel;
  owner_ = static_cast<HWND>(page->windowHandle());
  existingFile_ = &existing;
  newTime_ = newTime;
  newSize_ = newSize;
  INT_PTR answer = runPage();
  existingFile_ = nullptr;
  return static_cast<OverwriteAnswer>(answer);
}

bool OverwritePrompt::onInitDialog() {
  setTitle(FormatMessageTextWide(msg::kConfirmReplacement));
  SendDlgItemMessageA(hwnd(), IDC_MESSAGE_ICON, STM_SETICON, reinterpret_cast<WPARAM>(resources().messageIcon()), 0);
  setItemMessage(IDC_TEXT, msg::kFileExists, existingFile_->widePath());
  setItemMessage(IDC_SECOND_TEXT, msg::kReplaceExisting);
  setItemMessage(IDC_NOTE, msg::kWithNewOne);
  setItemText(IDC_EXISTING_FILE, OverwriteFileText(existingFile_->modificationTime(), existingFile_->size()));
  setItemText(IDC_NEW_FILE, OverwriteFileText(newTime_, newSize_));
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
    case IDC_YES_BUTTON:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::Yes));
      return TRUE;
    case IDC_NO_BUTTON:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::No));
      return TRUE;
    case IDC_YES_ALL_BUTTON:
      endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::YesToAll));
      return TRUE;
    case IDC_CANCEL_BUTTON:
    case IDCANCEL:  // Escape
      onCancel();
      return TRUE;
    default:
      return 0;
  }
}

void OverwritePrompt::onCancel() {
  AnsiString caption = FormatMessageText(msg::kExitConfirmation);
  AnsiString text = FormatMessageText(msg::kConfirmExit);
  if (MessageBoxA(hwnd(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES) {
    endDialog(hwnd(), static_cast<INT_PTR>(OverwriteAnswer::Cancel));
  }
}

}  // namespace corv

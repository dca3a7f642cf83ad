#include "ui/win32/progresspage.h"

#include <commctrl.h>

#include "kernel/installinfo.h"
#include "util/exceptions.h"

namespace corv {

namespace {

XString PackageName(const InstallInfo& info) { return info.record().packageName.value_or(XString()); }

}  // namespace

ProgressPage::ProgressPage(UserInterface& ui, const UIResources& resources, const InstallInfo& info)
    : WizardPage(ui, resources), info_(info), compact_(resources.splashPicture() != nullptr), updater_(*this) {}

ProgressPage::~ProgressPage() { updater_.dropNote(); }

void ProgressPage::abandon() {
  updater_.dropNote();
  abandoned_.store(true);
}

bool ProgressPage::onInitDialog() {
  bool result = WizardPage::onInitDialog();
  // The worker may have given up before the page was current, when there
  // was nothing yet to close: the page ends itself.
  if (abandoned_.load()) PostMessageA(hwnd(), kEndWithCancel, 0, 0);
  return result;
}

bool ProgressPage::onInitPage() {
  XString name = PackageName(info_);
  setItemMessage(IDC_HEADER, msg::kProgressHeader);
  setItemMessage(IDC_SUBHEADER, msg::kProgressSubheader);
  setItemMessage(IDC_ITEM_NAME, msg::kExtractingFile, XString());
  setItemMessage(IDC_OVERALL_LABEL, msg::kOverallProgress);
  enableItem(IDC_BACK_BUTTON, false);
  enableItem(IDC_NEXT_BUTTON, false);
  if (compact_) {
    SendMessageA(splashWindow_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(resources().windowIcon()));
    SetWindowTextA(splashWindow_, ToAnsi(FormatMessageTextWide(titleMessage(), name)).c_str());
    PlaceWindow(hwnd(), 10, 10, 1, 1);
    setItemMessage(IDC_TEXT, msg::kPleaseWait);
  } else {
    setItemMessage(IDC_TEXT, msg::kProgressText, name);
  }
  return true;
}

INT_PTR ProgressPage::run() { return compact_ ? runCompact() : WizardPage::run(); }

INT_PTR ProgressPage::runCompact() {
  HMODULE library = resources().library();
  ModelessDialogThread splashThread;
  splashWindow_ = splashThread.start(library, IDD_SPLASH, nullptr, SplashProc, reinterpret_cast<LPARAM>(this));
  if (!splashWindow_) {
    splashThread.join();
    throw FatalError(msg::kDialogFailed, splashThread.creationError(), IDD_SPLASH);
  }
  modelessResult_ = 0;
  ModelessDialogThread progressThread;
  HWND progress = progressThread.start(library, templateId(), splashWindow_, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
  if (!progress) {
    progressThread.join();
    SendMessageA(splashWindow_, kCloseFromOtherThread, 0, 0);
    splashThread.join();
    splashWindow_ = nullptr;
    throw FatalError(msg::kDialogFailed, progressThread.creationError(), templateId());
  }
  ShowWindow(splashWindow_, SW_SHOW);
  // The progress window's thread ends when the window is destroyed.
  progressThread.join();
  SendMessageA(splashWindow_, kCloseFromOtherThread, 0, 0);
  splashThread.join();
  splashWindow_ = nullptr;
  forgetWindow();
  return modelessResult_;
}

void ProgressPage::endDialog(HWND window, INT_PTR result) {
  if (!compact_) {
    WizardPage::endDialog(window, result);
    return;
  }
  modelessResult_ = result;
  DestroyWindow(window);
}

INT_PTR ProgressPage::defaultHandler(UINT message, WPARAM, LPARAM) {
  if (compact_ && message == WM_DESTROY) PostQuitMessage(static_cast<int>(modelessResult_));
  return 0;
}

INT_PTR CALLBACK ProgressPage::SplashProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<ProgressPage*>(lParam);
      SetPropA(window, kThisProperty, self);
      HBITMAP picture = self->resources().splashPicture();
      BITMAP info = {};
      GetObjectA(picture, sizeof info, &info);
      // The whole picture below the caption: the window is sized to it.
      RECT bounds = {0, 0, info.bmWidth, info.bmHeight};
      AdjustWindowRectEx(&bounds, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
      SetWindowPos(window, nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top,
                   SWP_NOMOVE | SWP_NOZORDER);
      PlaceWindow(window, 1, 1, 1, 1);
      HWND control = GetDlgItem(window, IDC_SPLASH_PICTURE);
      SetWindowPos(control, nullptr, 0, 0, info.bmWidth, info.bmHeight, SWP_NOZORDER);
      SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
      return TRUE;
    }
    case kCloseFromOtherThread:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      RemovePropA(window, kThisProperty);
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

void ProgressPage::Updater::initOverallBar() {
  // Nothing is drawn before the page is on screen.
  UIWindow* current = page_.ui().waitCurrentWindow();
  window_.store(current ? static_cast<HWND>(current->windowHandle()) : nullptr);
  setRange(IDC_OVERALL_BAR);
}

void ProgressPage::Updater::setOverallBar(uint32_t value) { setBar(IDC_OVERALL_BAR, value); }

void ProgressPage::Updater::initItemBar() {
  if (!page_.compact()) setRange(IDC_ITEM_BAR);
}

void ProgressPage::Updater::setItemBar(uint32_t value) {
  if (!page_.compact()) setBar(IDC_ITEM_BAR, value);
}

void ProgressPage::Updater::setItemName(const XString& name) {
  if (HWND window = window_.load()) {
    SetDlgItemTextA(window, IDC_ITEM_NAME, ToAnsi(FormatMessageTextWide(msg::kExtractingFile, name)).c_str());
  }
}

void ProgressPage::Updater::done(bool complete) {
  HWND window = window_.load();
  if (!complete) {
    CORV_ASSERT(finishingNote_ == nullptr);
    finishingNote_ = std::make_unique<MessageWindow>(page_.resources(), window, page_.resources().windowIcon(), true);
    finishingNote_->show(FormatMessageTextWide(msg::kFinishingSetup));
    noteWindow_.store(finishingNote_->window());
    return;
  }
  dropNote();
  if (window) SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_NEXT_BUTTON, BN_CLICKED), 0);
}

void ProgressPage::Updater::dropNote() {
  if (!finishingNote_) return;
  noteWindow_.store(nullptr);
  finishingNote_->hide();
  finishingNote_.reset();
}

void ProgressPage::Updater::setRange(int bar) {
  if (HWND window = window_.load()) SendDlgItemMessageA(window, bar, PBM_SETRANGE, 0, MAKELPARAM(0, kRange));
}

void ProgressPage::Updater::setBar(int bar, uint32_t value) {
  if (HWND window = window_.load()) SendDlgItemMessageA(window, bar, PBM_SETPOS, value, 0);
}

}  // namespace corv

#include "ui/win32/wizardpages.h"

#include "kernel/installinfo.h"

namespace corv {

namespace {

XString NameOf(const OptString& name) { return name.value_or(XString()); }

// The edit controls' own procedure, kept by the first replacement.
WNDPROC g_editProc = nullptr;

// A read-only text that focus never selects: the dialog manager selects the
// whole text of an edit control that asks for it whenever the focus lands
// there (the page opening, Tab, the window coming back to the front).
LRESULT CALLBACK UnselectedTextProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = CallWindowProcA(g_editProc, control, message, wParam, lParam);
  return message == WM_GETDLGCODE ? result & ~LRESULT{DLGC_HASSETSEL} : result;
}

}  // namespace

bool WelcomePage::onInitPage() {
  bool update = info_.record().isUpdate();
  XString name = NameOf(info_.record().packageName);
  setItemMessage(IDC_HEADER, Either(update, msg::kUpdateWelcomeHeader, msg::kWelcomeHeader), name);
  setItemMessage(IDC_SUBHEADER, Either(update, msg::kUpdateWelcomeText, msg::kWelcomeText));
  enableItem(IDC_BACK_BUTTON, false);
  return true;
}

bool SummaryPage::onInitPage() {
  XString product = NameOf(info_.record().productOrPackageName());
  setItemMessage(IDC_HEADER, msg::kSummaryHeader);
  setItemMessage(IDC_SUBHEADER, msg::kSummarySubheader);
  setItemMessage(IDC_TEXT, Either(info_.record().isUpdate(), msg::kUpdateSummaryText, msg::kSummaryText), product);
  setItemMessage(IDC_SECOND_TEXT, msg::kSummaryLabel);
  HWND settings = item(IDC_SETTINGS);
  SetWindowTextA(settings, info_.summaryText().c_str());
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(settings, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnselectedTextProc)));
  if (!g_editProc) g_editProc = previous;
  SendMessageA(settings, EM_SETSEL, 0, 0);  // the caret at the start
  return true;
}

bool FinishPage::onInitPage() {
  enableItem(IDC_BACK_BUTTON, false);
  enableItem(IDC_CANCEL_BUTTON, false);
  return errorText_ ? initFailure() : initSuccess();
}

bool FinishPage::initSuccess() {
  XString product = NameOf(info_.record().productOrPackageName());
  setItemMessage(IDC_HEADER, msg::kFinishHeader);
  for (int control : {int{IDC_SUBHEADER}, IDC_TEXT, IDC_RESTART_NOW, IDC_RESTART_LATER}) paintWhite(control);
  if (reboot_) {
    setItemMessage(IDC_SUBHEADER, msg::kFinishRestartDue, product);
    setItemMessage(IDC_TEXT, msg::kRemoveDisks);
    setItemMessage(IDC_RESTART_NOW, msg::kRestartNow);
    setItemMessage(IDC_RESTART_LATER, msg::kRestartLater);
    CheckRadioButton(hwnd(), IDC_RESTART_NOW, IDC_RESTART_LATER, IDC_RESTART_LATER);
  } else {
    setItemMessage(IDC_SUBHEADER, Either(info_.record().isUpdate(), msg::kFinishUpdated, msg::kFinishInstalled),
                   product);
    for (int control : {IDC_TEXT, IDC_RESTART_NOW, IDC_RESTART_LATER}) showItem(control, false);
  }
  return true;
}

bool FinishPage::initFailure() {
  setItemMessage(IDC_HEADER, msg::kFailureHeader);
  setItemText(IDC_SUBHEADER, XString());
  setItemMessage(IDC_TEXT, Either(info_.record().isUpdate(), msg::kUpdateFailed, msg::kInstallationFailed),
                 NameOf(info_.record().productOrPackageName()), XString());
  setItemText(IDC_SECOND_TEXT, *errorText_);
  if (boldFont()) SendMessageA(item(IDC_SECOND_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont()), TRUE);
  setItemMessage(IDC_NOTE, msg::kFailureNote);
  return true;
}

void FinishPage::onNext() {
  // The failure form has no restart buttons: no restart.
  bool restartNow = !errorText_ && reboot_ && IsDlgButtonChecked(hwnd(), IDC_RESTART_NOW) == BST_CHECKED;
  info_.choices().rebootRequired = restartNow;
  WizardPage::onNext();
}

}  // namespace corv

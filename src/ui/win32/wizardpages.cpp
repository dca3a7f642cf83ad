#include "ui/win32/wizardpages.h"

#include "kernel/installinfo.h"

namespace corv {

namespace {

// Controls of the pages besides the standard ones.
constexpr int kText = 1033;
constexpr int kLabel = 1034;
constexpr int kSettings = 1035;
constexpr int kNote = 1064;
constexpr int kRestartNow = 1077;
constexpr int kRestartLater = 1078;

XString NameOf(const OptString& name) { return name.value_or(XString()); }

}  // namespace

bool WelcomePage::onInitPage() {
  bool update = info_.record().isUpdate();
  XString name = NameOf(info_.record().packageName);
  setItemMessage(kHeader, update ? 1433 : 1431, name);
  setItemMessage(kSubheader, update ? 1434 : 1432);
  enableItem(kBackButton, false);
  return true;
}

bool SummaryPage::onInitPage() {
  XString product = NameOf(info_.record().productOrPackageName());
  setItemMessage(kHeader, 1511);
  setItemMessage(kSubheader, 1512);
  setItemMessage(kText, info_.record().isUpdate() ? 1514 : 1513, product);
  setItemMessage(kLabel, 1515);
  SetDlgItemTextA(hwnd(), kSettings, info_.summaryText().c_str());
  return true;
}

bool FinishPage::onInitPage() {
  enableItem(kBackButton, false);
  enableItem(kCancelButton, false);
  return errorText_ ? initFailure() : initSuccess();
}

bool FinishPage::initSuccess() {
  XString product = NameOf(info_.record().productOrPackageName());
  setItemMessage(kHeader, 1530);
  for (int control : {int{kSubheader}, kText, kRestartNow, kRestartLater}) paintWhite(control);
  if (reboot_) {
    setItemMessage(kSubheader, 1537, product);
    setItemMessage(kText, 1540);
    setItemMessage(kRestartNow, 1538);
    setItemMessage(kRestartLater, 1539);
    CheckRadioButton(hwnd(), kRestartNow, kRestartLater, kRestartLater);
  } else {
    setItemMessage(kSubheader, info_.record().isUpdate() ? 1536 : 1532, product);
    for (int control : {kText, kRestartNow, kRestartLater}) showItem(control, false);
  }
  return true;
}

bool FinishPage::initFailure() {
  setItemMessage(kHeader, 1531);
  setItemText(kSubheader, XString());
  setItemMessage(kText, info_.record().isUpdate() ? 1314 : 1313, NameOf(info_.record().productOrPackageName()),
                 XString());
  setItemText(kLabel, *errorText_);
  if (boldFont()) SendMessageA(item(kLabel), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont()), TRUE);
  setItemMessage(kNote, 1535);
  return true;
}

void FinishPage::onNext() {
  // The failure form has no restart buttons: no restart.
  bool restartNow = !errorText_ && reboot_ && IsDlgButtonChecked(hwnd(), kRestartNow) == BST_CHECKED;
  info_.choices().rebootRequired = restartNow;
  WizardPage::onNext();
}

}  // namespace corv

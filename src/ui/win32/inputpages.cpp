#include "ui/win32/inputpages.h"

#include <algorithm>

#include "infrastructure/integrator.h"
#include "kernel/installinfo.h"
#include "kernel/installprofile.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

namespace corv {

namespace {

constexpr int kText = 1033;

// Licence page.
constexpr int kLicenseText = 1021;
constexpr int kAccept = 1022;
constexpr int kRefuse = 1023;

// Installation type page.
constexpr int kPersonal = 1024;
constexpr int kCommon = 1025;

// Program folder page.
constexpr int kFolderEdit = 1031;
constexpr int kFolderList = 1032;

// Check box pages.
constexpr int kFirstBox = 1081;

// Service page.
constexpr int kServiceDescription = 1034;
constexpr int kLocalSystem = 1045;
constexpr int kThisAccount = 1046;
constexpr int kInteract = 1047;
constexpr int kAccount = 1050;
constexpr int kPassword = 1051;
constexpr int kConfirmation = 1052;
constexpr int kPasswordLabel = 1053;
constexpr int kConfirmationLabel = 1054;
constexpr int kServiceList = 1056;
constexpr int kStartupGroup = 1059;
constexpr int kAutomatic = 1073;
constexpr int kDisabled = 1075;
constexpr int kLogOnGroup = 1076;

}  // namespace

// ---- LicensePage

bool LicensePage::onInitPage() {
  setItemMessage(kHeader, 1451);
  setItemMessage(kSubheader, 1452, info_.record().packageName.value_or(XString()));
  setItemMessage(kAccept, 1453);
  setItemMessage(kRefuse, 1454);
  SetDlgItemTextA(hwnd(), kLicenseText, ToAnsi(info_.record().licenseText.value_or(XString())).c_str());
  CheckRadioButton(hwnd(), kAccept, kRefuse, licenseChoice_);
  refresh();
  return true;
}

INT_PTR LicensePage::defaultHandler(UINT message, WPARAM, LPARAM) {
  if (message == WM_COMMAND) refresh();
  return 0;
}

void LicensePage::refresh() {
  bool accepted = IsDlgButtonChecked(hwnd(), kAccept) == BST_CHECKED;
  enableItem(kNextButton, accepted);
  licenseChoice_ = accepted ? kAccept : kRefuse;
}

// ---- InstallTypePage

bool InstallTypePage::onInitPage() {
  setItemMessage(kHeader, 1461);
  setItemMessage(kSubheader, 1462);
  setItemMessage(kPersonal, 1463);
  setItemMessage(kCommon, 1464);
  setItemMessage(kText, 1465);
  // The profile is unset until this page stored it: common is proposed.
  bool personal = shown_ && info_.choices().installProfile() == kProfilePersonal;
  CheckRadioButton(hwnd(), kPersonal, kCommon, personal ? kPersonal : kCommon);
  return true;
}

void InstallTypePage::store() {
  info_.choices().setInstallProfile(IsDlgButtonChecked(hwnd(), kCommon) == BST_CHECKED ? kProfileCommon
                                                                                   : kProfilePersonal);
  shown_ = true;
}

void InstallTypePage::onNext() {
  store();
  WizardPage::onNext();
}

void InstallTypePage::onBack() {
  store();
  WizardPage::onBack();
}

// ---- ProgramFolderPage

bool ProgramFolderPage::onInitPage() {
  setItemMessage(kHeader, 1501);
  setItemMessage(kSubheader, 1502);
  setItemMessage(kText, 1503);
  CORV_ASSERT(info_.tempFolder().has_value());
  XString shfolder = File(*info_.tempFolder(), XString(u"shfolder.dll")).widePath();
  for (const XString& group : ListProgramGroups(info_.choices().installProfile() == kProfileCommon, shfolder)) {
    SendDlgItemMessageA(hwnd(), kFolderList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToAnsi(group).c_str()));
  }
  setItemText(kFolderEdit, info_.choices().programFolder.value_or(XString()));
  return true;
}

INT_PTR ProgramFolderPage::defaultHandler(UINT message, WPARAM wParam, LPARAM) {
  int notification = HIWORD(wParam);
  if (message != WM_COMMAND || LOWORD(wParam) != kFolderList ||
      (notification != LBN_SELCHANGE && notification != LBN_DBLCLK)) {
    return 0;
  }
  LRESULT index = SendDlgItemMessageA(hwnd(), kFolderList, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return 0;
  LRESULT length = SendDlgItemMessageA(hwnd(), kFolderList, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return 0;
  AnsiString text(static_cast<size_t>(length) + 1, '\0');
  SendDlgItemMessageA(hwnd(), kFolderList, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  SetDlgItemTextA(hwnd(), kFolderEdit, text.c_str());
  return 0;
}

void ProgramFolderPage::onNext() {
  XString folder = itemText(kFolderEdit);
  // The backslash separates nested folders; these characters no folder
  // name may hold.
  if (folder.find_first_of(u"\"*/:<>?|") != XString::npos) {
    ui().showMessage(Severity::SevereError, FormatMessageText(1312));
    return;
  }
  info_.choices().programFolder = folder;
  WizardPage::onNext();
}

// ---- CheckBoxPage

void CheckBoxPage::hideBoxes() {
  for (int i = 0; i < kBoxCount; ++i) {
    showItem(kFirstBox + i, false);
    enableItem(kFirstBox + i, false);
  }
}

void CheckBoxPage::showBox(int index, const XString& text, bool checked) {
  CORV_ASSERT(index >= 0 && index < kBoxCount);
  setItemText(kFirstBox + index, text);
  CheckDlgButton(hwnd(), kFirstBox + index, checked ? BST_CHECKED : BST_UNCHECKED);
  showItem(kFirstBox + index, true);
  enableItem(kFirstBox + index, true);
}

bool CheckBoxPage::boxChecked(int index) const {
  return IsDlgButtonChecked(hwnd(), kFirstBox + index) == BST_CHECKED;
}

void CheckBoxPage::onNext() {
  store();
  WizardPage::onNext();
}

void CheckBoxPage::onBack() {
  store();
  WizardPage::onBack();
}

// ---- ShortcutsPage

bool ShortcutsPage::onInitPage() {
  setItemMessage(kHeader, 1471);
  setItemMessage(kSubheader, 1472);
  setItemMessage(kText, 1473);
  hideBoxes();
  locations_.clear();
  const Infrastructure& entries = info_.infrastructure();
  for (auto [location, label] : {std::pair{int{kLocationDesktop}, 1474}, std::pair{int{kLocationStartMenu}, 1475}}) {
    if (entries.shortcutCountAt(location) == 0) continue;
    showBox(static_cast<int>(locations_.size()), FormatMessageTextWide(label), entries.locationEnabled(location));
    locations_.push_back(location);
  }
  return true;
}

void ShortcutsPage::store() {
  for (size_t i = 0; i < locations_.size(); ++i) {
    info_.infrastructure().setLocationEnabled(locations_[i], boxChecked(static_cast<int>(i)));
  }
}

// ---- AssociationsPage

size_t AssociationsPage::groupEnd() const {
  return std::min(first_ + kBoxCount, info_.infrastructure().associationCount());
}

bool AssociationsPage::onInitPage() {
  setItemMessage(kHeader, 1591);
  setItemMessage(kSubheader, 1592);
  setItemMessage(kText, 1593);
  hideBoxes();
  for (size_t i = first_; i < groupEnd(); ++i) {
    const AssociationEntry& entry = info_.infrastructure().association(i);
    showBox(static_cast<int>(i - first_), FormatMessageTextWide(1594, entry.extension, entry.label), entry.selected);
  }
  return true;
}

void AssociationsPage::store() {
  for (size_t i = first_; i < groupEnd(); ++i) {
    info_.infrastructure().association(i).selected = boxChecked(static_cast<int>(i - first_));
  }
}

bool AssociationsPage::nextGroup() {
  if (groupEnd() >= info_.infrastructure().associationCount()) return false;
  first_ += kBoxCount;
  return true;
}

bool AssociationsPage::previousGroup() {
  if (first_ == 0) return false;
  first_ -= kBoxCount;
  return true;
}

// ---- ServicePage

ServicePage::ServicePage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
    : WizardPage(ui, resources), info_(info), confirmed_(info.services().count(), false) {}

bool ServicePage::onInitPage() {
  const NTServices& services = info_.services();
  CORV_ASSERT(services.count() > 0);
  setItemMessage(kHeader, 1551);
  setItemMessage(kSubheader, 1552);
  setItemMessage(kText, 1553);
  setItemMessage(kLogOnGroup, 1555);
  setItemMessage(kLocalSystem, 1556);
  setItemMessage(kInteract, 1557);
  setItemMessage(kThisAccount, 1558);
  setItemMessage(kPasswordLabel, 1559);
  setItemMessage(kConfirmationLabel, 1560);
  setItemMessage(kStartupGroup, 1561);
  setItemMessage(kAutomatic, 1562);
  setItemMessage(kAutomatic + 1, 1563);
  setItemMessage(kDisabled, 1564);
  for (size_t i = 0; i < services.count(); ++i) {
    SendDlgItemMessageA(hwnd(), kServiceList, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(ToAnsi(services.entry(i).displayName).c_str()));
  }
  SendDlgItemMessageA(hwnd(), kServiceList, LB_SETCURSEL, static_cast<WPARAM>(serviceIndex_), 0);
  show(serviceIndex_);
  return true;
}

bool ServicePage::checked(int control) const { return IsDlgButtonChecked(hwnd(), control) == BST_CHECKED; }

void ServicePage::enableAccountFields(bool userAccount) {
  enableItem(kInteract, !userAccount);
  for (int control = kAccount; control <= kConfirmationLabel; ++control) enableItem(control, userAccount);
}

void ServicePage::show(int index) {
  const ServiceEntry& service = info_.services().entry(static_cast<size_t>(index));
  serviceIndex_ = index;
  setItemMessage(kServiceDescription, 1554, service.description);
  CheckDlgButton(hwnd(), kInteract, service.interactive ? BST_CHECKED : BST_UNCHECKED);
  setItemText(kAccount, service.userName);
  if (confirmed_[static_cast<size_t>(index)]) {
    setItemText(kPassword, service.password);
    setItemText(kConfirmation, service.password);
  } else {
    // Two different numbers: fields left as they are never confirm.
    uint32_t base = 10000 + GetTickCount() % 80000;
    setItemText(kPassword, Format(u"%u", base));
    setItemText(kConfirmation, Format(u"%u", base + 1));
  }
  bool userAccount = service.accountKind == ServiceEntry::kUserAccount;
  CheckRadioButton(hwnd(), kLocalSystem, kThisAccount, userAccount ? kThisAccount : kLocalSystem);
  enableAccountFields(userAccount);
  CORV_ASSERT(service.startKind >= ServiceEntry::kAutomatic && service.startKind <= ServiceEntry::kDisabled);
  CheckRadioButton(hwnd(), kAutomatic, kDisabled, kAutomatic + service.startKind - 1);
}

void ServicePage::store() {
  ServiceEntry& service = info_.services().entry(static_cast<size_t>(serviceIndex_));
  int kind = checked(kLocalSystem) ? ServiceEntry::kLocalSystem : ServiceEntry::kUserAccount;
  XString password = itemText(kPassword);
  bool confirmed = password == itemText(kConfirmation);
  confirmed_[static_cast<size_t>(serviceIndex_)] = confirmed;
  service.SetAccount(kind, itemText(kAccount), confirmed ? password : XString());
  if (kind == ServiceEntry::kLocalSystem) service.interactive = checked(kInteract);
  int start = 0;
  for (int control = kAutomatic; control <= kDisabled; ++control) {
    if (checked(control)) start = control - kAutomatic + 1;
  }
  CORV_ASSERT(start != 0);
  service.startKind = static_cast<ServiceEntry::StartKind>(start);
}

void ServicePage::onNext() {
  store();
  const NTServices& services = info_.services();
  for (size_t i = 0; i < services.count(); ++i) {
    const ServiceEntry& service = services.entry(i);
    if (service.accountKind != ServiceEntry::kUserAccount) continue;
    int problem = service.userName.empty() ? 1566 : !confirmed_[i] ? 1565 : 0;
    if (problem) {
      ui().showMessage(Severity::Warning, FormatMessageText(problem, service.displayName));
      return;
    }
  }
  WizardPage::onNext();
}

void ServicePage::onBack() {
  store();
  WizardPage::onBack();
}

INT_PTR ServicePage::defaultHandler(UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_COMMAND) return 0;
  int control = LOWORD(wParam);
  if (control == kLocalSystem || control == kThisAccount) {
    enableAccountFields(checked(kThisAccount));
  } else if (control == kServiceList && HIWORD(wParam) == LBN_SELCHANGE) {
    LRESULT selected = SendDlgItemMessageA(hwnd(), kServiceList, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR && selected != serviceIndex_) {
      store();
      show(static_cast<int>(selected));
    }
  }
  return 0;
}

}  // namespace corv

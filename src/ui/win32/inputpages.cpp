#include "ui/win32/inputpages.h"

#include <algorithm>
#include <utility>

#include "infrastructure/integrator.h"
#include "kernel/installinfo.h"
#include "kernel/installprofile.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

namespace corv {

// ---- LicensePage

bool LicensePage::onInitPage() {
  setItemMessage(IDC_HEADER, msg::kLicenseHeader);
  setItemMessage(IDC_SUBHEADER, msg::kLicenseSubheader, info_.record().packageName.value_or(XString()));
  setItemMessage(IDC_ACCEPT, msg::kLicenseAccept);
  setItemMessage(IDC_REFUSE, msg::kLicenseRefuse);
  SetDlgItemTextA(hwnd(), IDC_LICENSE_TEXT, ToAnsi(info_.record().licenseText.value_or(XString())).c_str());
  CheckRadioButton(hwnd(), IDC_ACCEPT, IDC_REFUSE, licenseChoice_);
  refresh();
  return true;
}

INT_PTR LicensePage::defaultHandler(UINT message, WPARAM, LPARAM) {
  if (message == WM_COMMAND) refresh();
  return 0;
}

void LicensePage::refresh() {
  bool accepted = IsDlgButtonChecked(hwnd(), IDC_ACCEPT) == BST_CHECKED;
  enableItem(IDC_NEXT_BUTTON, accepted);
  licenseChoice_ = accepted ? IDC_ACCEPT : IDC_REFUSE;
}

// ---- InstallTypePage

bool InstallTypePage::onInitPage() {
  setItemMessage(IDC_HEADER, msg::kInstallTypeHeader);
  setItemMessage(IDC_SUBHEADER, msg::kInstallTypeSubheader);
  setItemMessage(IDC_PERSONAL, msg::kPersonalProfile);
  setItemMessage(IDC_COMMON, msg::kCommonProfile);
  setItemMessage(IDC_TEXT, msg::kInstallTypeText);
  // The profile is unset until this page stored it: common is proposed.
  bool personal = shown_ && info_.choices().installProfile() == kProfilePersonal;
  CheckRadioButton(hwnd(), IDC_PERSONAL, IDC_COMMON, personal ? IDC_PERSONAL : IDC_COMMON);
  return true;
}

void InstallTypePage::store() {
  info_.choices().setInstallProfile(IsDlgButtonChecked(hwnd(), IDC_COMMON) == BST_CHECKED ? kProfileCommon
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
  setItemMessage(IDC_HEADER, msg::kProgramFolderHeader);
  setItemMessage(IDC_SUBHEADER, msg::kProgramFolderSubheader);
  setItemMessage(IDC_TEXT, msg::kProgramFolderText);
  CORV_ASSERT(info_.tempFolder().has_value());
  XString shfolder = File(*info_.tempFolder(), XString(u"shfolder.dll")).widePath();
  for (const XString& group : ListProgramGroups(info_.choices().installProfile() == kProfileCommon, shfolder)) {
    SendDlgItemMessageA(hwnd(), IDC_PROGRAM_FOLDER_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(ToAnsi(group).c_str()));
  }
  setItemText(IDC_PROGRAM_FOLDER_EDIT, info_.choices().programFolder.value_or(XString()));
  return true;
}

INT_PTR ProgramFolderPage::defaultHandler(UINT message, WPARAM wParam, LPARAM) {
  int notification = HIWORD(wParam);
  if (message != WM_COMMAND || LOWORD(wParam) != IDC_PROGRAM_FOLDER_LIST ||
      (notification != LBN_SELCHANGE && notification != LBN_DBLCLK)) {
    return 0;
  }
  LRESULT index = SendDlgItemMessageA(hwnd(), IDC_PROGRAM_FOLDER_LIST, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return 0;
  LRESULT length = SendDlgItemMessageA(hwnd(), IDC_PROGRAM_FOLDER_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return 0;
  AnsiString text(static_cast<size_t>(length) + 1, '\0');
  SendDlgItemMessageA(hwnd(), IDC_PROGRAM_FOLDER_LIST, LB_GETTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  SetDlgItemTextA(hwnd(), IDC_PROGRAM_FOLDER_EDIT, text.c_str());
  return 0;
}

void ProgramFolderPage::onNext() {
  XString folder = itemText(IDC_PROGRAM_FOLDER_EDIT);
  // The backslash separates nested folders; these characters no folder
  // name may hold.
  if (folder.find_first_of(u"\"*/:<>?|") != XString::npos) {
    ui().showMessage(Severity::SevereError, FormatMessageText(msg::kInvalidFolderName));
    return;
  }
  info_.choices().programFolder = folder;
  WizardPage::onNext();
}

// ---- CheckBoxPage

void CheckBoxPage::hideBoxes() {
  for (int i = 0; i < kBoxCount; ++i) {
    showItem(IDC_FIRST_BOX + i, false);
    enableItem(IDC_FIRST_BOX + i, false);
  }
}

void CheckBoxPage::showBox(int index, const XString& text, bool checked) {
  CORV_ASSERT(index >= 0 && index < kBoxCount);
  setItemText(IDC_FIRST_BOX + index, text);
  CheckDlgButton(hwnd(), IDC_FIRST_BOX + index, checked ? BST_CHECKED : BST_UNCHECKED);
  showItem(IDC_FIRST_BOX + index, true);
  enableItem(IDC_FIRST_BOX + index, true);
}

bool CheckBoxPage::boxChecked(int index) const {
  return IsDlgButtonChecked(hwnd(), IDC_FIRST_BOX + index) == BST_CHECKED;
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
  setItemMessage(IDC_HEADER, msg::kShortcutsHeader);
  setItemMessage(IDC_SUBHEADER, msg::kShortcutsSubheader);
  setItemMessage(IDC_TEXT, msg::kShortcutsText);
  hideBoxes();
  locations_.clear();
  const Infrastructure& entries = info_.infrastructure();
  for (auto [location, label] : {std::pair<int, Message<0>>{kLocationDesktop, msg::kDesktopLocation},
                                 std::pair<int, Message<0>>{kLocationStartMenu, msg::kStartMenuLocation}}) {
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
  setItemMessage(IDC_HEADER, msg::kAssociationsHeader);
  setItemMessage(IDC_SUBHEADER, msg::kAssociationsSubheader);
  setItemMessage(IDC_TEXT, msg::kAssociationsText);
  hideBoxes();
  for (size_t i = first_; i < groupEnd(); ++i) {
    const AssociationEntry& entry = info_.infrastructure().association(i);
    showBox(static_cast<int>(i - first_), FormatMessageTextWide(msg::kAssociationLabel, entry.extension, entry.label),
            entry.selected);
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
  static const std::pair<int, Message<0>> kLabels[] = {
      {IDC_HEADER, msg::kServicesHeader}, {IDC_SUBHEADER, msg::kServicesSubheader}, {IDC_TEXT, msg::kServicesText},
      {IDC_LOGON_GROUP, msg::kLogOnAs}, {IDC_LOCAL_SYSTEM, msg::kLocalSystemAccount},
      {IDC_INTERACT, msg::kInteractWithDesktop}, {IDC_THIS_ACCOUNT, msg::kThisAccount},
      {IDC_PASSWORD_LABEL, msg::kPasswordLabel}, {IDC_CONFIRMATION_LABEL, msg::kConfirmPasswordLabel},
      {IDC_STARTUP_GROUP, msg::kStartupType}, {IDC_AUTOMATIC, msg::kAutomatic}, {IDC_MANUAL, msg::kManual},
      {IDC_DISABLED, msg::kDisabled},
  };
  for (const auto& [control, label] : kLabels) setItemMessage(control, label);
  for (size_t i = 0; i < services.count(); ++i) {
    SendDlgItemMessageA(hwnd(), IDC_SERVICE_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(ToAnsi(services.entry(i).displayName).c_str()));
  }
  SendDlgItemMessageA(hwnd(), IDC_SERVICE_LIST, LB_SETCURSEL, static_cast<WPARAM>(serviceIndex_), 0);
  show(serviceIndex_);
  return true;
}

bool ServicePage::checked(int control) const { return IsDlgButtonChecked(hwnd(), control) == BST_CHECKED; }

void ServicePage::enableAccountFields(bool userAccount) {
  enableItem(IDC_INTERACT, !userAccount);
  for (int control = IDC_ACCOUNT; control <= IDC_CONFIRMATION_LABEL; ++control) enableItem(control, userAccount);
}

void ServicePage::show(int index) {
  const ServiceEntry& service = info_.services().entry(static_cast<size_t>(index));
  serviceIndex_ = index;
  setItemMessage(IDC_SECOND_TEXT, msg::kServiceDescription, service.description);
  CheckDlgButton(hwnd(), IDC_INTERACT, service.interactive ? BST_CHECKED : BST_UNCHECKED);
  setItemText(IDC_ACCOUNT, service.userName);
  if (confirmed_[static_cast<size_t>(index)]) {
    setItemText(IDC_PASSWORD, service.password);
    setItemText(IDC_CONFIRMATION, service.password);
  } else {
    // Two different numbers: fields left as they are never confirm.
    uint32_t base = 10000 + GetTickCount() % 80000;
    setItemText(IDC_PASSWORD, Format(u"%u", base));
    setItemText(IDC_CONFIRMATION, Format(u"%u", base + 1));
  }
  bool userAccount = service.accountKind == ServiceEntry::kUserAccount;
  CheckRadioButton(hwnd(), IDC_LOCAL_SYSTEM, IDC_THIS_ACCOUNT, userAccount ? IDC_THIS_ACCOUNT : IDC_LOCAL_SYSTEM);
  enableAccountFields(userAccount);
  CORV_ASSERT(service.startKind >= ServiceEntry::kAutomatic && service.startKind <= ServiceEntry::kDisabled);
  CheckRadioButton(hwnd(), IDC_AUTOMATIC, IDC_DISABLED, IDC_AUTOMATIC + service.startKind - 1);
}

void ServicePage::store() {
  ServiceEntry& service = info_.services().entry(static_cast<size_t>(serviceIndex_));
  int kind = checked(IDC_LOCAL_SYSTEM) ? ServiceEntry::kLocalSystem : ServiceEntry::kUserAccount;
  XString password = itemText(IDC_PASSWORD);
  bool confirmed = password == itemText(IDC_CONFIRMATION);
  confirmed_[static_cast<size_t>(serviceIndex_)] = confirmed;
  service.SetAccount(kind, itemText(IDC_ACCOUNT), confirmed ? password : XString());
  if (kind == ServiceEntry::kLocalSystem) service.interactive = checked(IDC_INTERACT);
  int start = 0;
  for (int control = IDC_AUTOMATIC; control <= IDC_DISABLED; ++control) {
    if (checked(control)) start = control - IDC_AUTOMATIC + 1;
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
    if (service.userName.empty() || !confirmed_[i]) {
      Message<1> problem = Either(service.userName.empty(), msg::kUserNameInvalid, msg::kPasswordNotConfirmed);
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
  if (control == IDC_LOCAL_SYSTEM || control == IDC_THIS_ACCOUNT) {
    enableAccountFields(checked(IDC_THIS_ACCOUNT));
  } else if (control == IDC_SERVICE_LIST && HIWORD(wParam) == LBN_SELCHANGE) {
    LRESULT selected = SendDlgItemMessageA(hwnd(), IDC_SERVICE_LIST, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR && selected != serviceIndex_) {
      store();
      show(static_cast<int>(selected));
    }
  }
  return 0;
}

}  // namespace corv

// The wizard's question pages besides the folder pages: licence,
// installation type, program folder, shortcut icons, file associations and
// Windows NT services. Each shows what the install-info record holds and
// stores the user's choice there.
#pragma once

#include <cstddef>
#include <vector>

#include "ui/win32/wizardpage.h"

namespace corv {

class InstallInfo;

// Template IDD_LICENSE: Next only while "I accept" (IDC_ACCEPT) is checked; the
// last choice is shown again when the user comes back.
class LicensePage : public WizardPage {
public:
  LicensePage(UserInterface& ui, const UIResources& resources, const InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  int templateId() const override { return IDD_LICENSE; }
  bool onInitPage() override;
  INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void refresh();

  const InstallInfo& info_;
  int licenseChoice_ = IDC_REFUSE;  // the refusal
};

// Template IDD_INSTALL_PROFILE: personal (IDC_PERSONAL) or common (IDC_COMMON)
// profile, stored on Next and on Back.
class InstallTypePage : public WizardPage {
public:
  InstallTypePage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  int templateId() const override { return IDD_INSTALL_PROFILE; }
  bool onInitPage() override;
  void onNext() override;
  void onBack() override;

private:
  void store();

  InstallInfo& info_;
  bool shown_ = false;
};

// Template IDD_PROGRAM_FOLDER: the Start-menu program folder, typed or taken
// from the existing ones. A name with / : * ? " < > | is refused with 1312.
class ProgramFolderPage : public WizardPage {
public:
  ProgramFolderPage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  int templateId() const override { return IDD_PROGRAM_FOLDER; }
  bool onInitPage() override;
  void onNext() override;
  INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  InstallInfo& info_;
};

// A page of template IDD_CHECK_BOXES: up to six check boxes (IDC_FIRST_BOX to
// IDC_SIXTH_BOX), stored on Next and on Back.
class CheckBoxPage : public WizardPage {
public:
  static constexpr int kBoxCount = 6;

  using WizardPage::WizardPage;
  int templateId() const override { return IDD_CHECK_BOXES; }
  void onNext() override;
  void onBack() override;

protected:
  // Hides and disables every box.
  void hideBoxes();
  // Shows box `index` (0 to 5) with `text`, checked or not.
  void showBox(int index, const XString& text, bool checked);
  bool boxChecked(int index) const;
  // Stores the shown boxes into their choices.
  virtual void store() = 0;
};

// The shortcut locations the package uses, desktop (1474) before Start
// menu (1475), each on or off.
class ShortcutsPage : public CheckBoxPage {
public:
  ShortcutsPage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : CheckBoxPage(ui, resources), info_(info) {}
  bool onInitPage() override;

private:
  void store() override;

  InstallInfo& info_;
  std::vector<int> locations_;  // the location of each shown box
};

// The package's file associations, each registered or not (1594). The page
// holds six: a package with more shows them six at a time on consecutive
// showings of the page, Next moving on to the next six and Back to the
// previous six (see nextGroup and previousGroup).
class AssociationsPage : public CheckBoxPage {
public:
  AssociationsPage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : CheckBoxPage(ui, resources), info_(info) {}
  bool onInitPage() override;
  // Moves on to the next six, if any: true when there were more.
  bool nextGroup();
  // Moves back to the previous six, if any: true when there were some.
  bool previousGroup();

private:
  void store() override;
  size_t groupEnd() const;

  InstallInfo& info_;
  size_t first_ = 0;  // the association of the first box
};

// Template IDD_SERVICES: log-on account, interaction with the desktop and start
// type of each service. A password counts only when typed the same twice; an
// unconfirmed one is shown as two different placeholders, so that an untouched
// pair of fields never confirms.
class ServicePage : public WizardPage {
public:
  ServicePage(UserInterface& ui, const UIResources& resources, InstallInfo& info);
  int templateId() const override { return IDD_SERVICES; }
  bool onInitPage() override;
  // Stores; then every service under a user account needs an account name
  // (1566) and a confirmed password (1565).
  void onNext() override;
  void onBack() override;
  INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void show(int index);
  void store();
  void enableAccountFields(bool userAccount);
  bool checked(int control) const;

  InstallInfo& info_;
  int serviceIndex_ = 0;
  std::vector<bool> confirmed_;  // per service: its password was confirmed
};

}  // namespace corv

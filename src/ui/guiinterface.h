// The graphical wizard, the front end when /batch is not given: one modal
// page per wizard step, built from the templates of the UI resource library
// that begin loads from the temporary folder.
//
// Every page exists: the input pages are asked for in the driver's order,
// the installation runs under the progress page, and a package that asks
// before overwriting files asks through the overwrite prompt.
#pragma once

#include <memory>

#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"
#include "kernel/userinterface.h"
#include "ui/uioverwritepolicy.h"

namespace corv {

class InstallInfo;
class UIResources;
class WelcomePage;
class SummaryPage;
class ProgressPage;
class FinishPage;
class LicensePage;
class InstallTypePage;
class DestinationPage;
class JrePage;
class UpdateDestinationPage;
class ProgramFolderPage;
class ShortcutsPage;
class AssociationsPage;
class ServicePage;

class GuiInterface : public UserInterface {
public:
  GuiInterface();
  ~GuiInterface() override;

  // Loads the UI resources from the record's temporary folder (a second
  // load while loaded is an assertion failure), creates the pages, and
  // makes waitCurrentWindow wait for the next page.
  void begin() override;
  // Releases the UI resources; waitCurrentWindow returns at once again.
  void end() override;
  // A yes/no question, caption 1403 and text 1407 with the package name:
  // Yes proceeds, anything else stops.
  PreviousVersionAnswer confirmOverPreviousVersion() override;

  PageResult showWelcome() override;
  PageResult askLicenseAgreement() override;
  PageResult askInstallProfile() override;
  PageResult askDestination() override;
  PageResult askJre() override;
  PageResult askProgramFolder() override;
  PageResult askShortcuts() override;
  // Six associations a showing: the page is shown again for the next six
  // on Next and for the previous six on Back.
  PageResult askFileAssociations() override;
  PageResult askServiceAccounts() override;
  PageResult askUpdateLocation() override;
  PageResult showSummary() override;
  // The progress page, until the worker's work is done (Next) or the user
  // cancelled or the worker gave up (Cancel).
  PageResult runProgress() override;
  void finishProgress() override;
  UIProgressUpdater& progressUpdater() override;
  // Asks the user about each existing file (overwrite mode 4).
  AbstractOverwritePolicy& overwritePolicy() override;
  // The finish page: its success form without an error text, its failure
  // form with one.
  PageResult showResult(const OptString& errorText, bool reboot) override;
  // Drops the finishing note and ends the progress page with Cancel.
  void abortProgress() override;

protected:
  // The finishing window while it is up, which stands in front of the
  // progress page; else the current page.
  void* messageOwner() const override;

private:
  InstallInfo& info() const;

  std::unique_ptr<UIResources> resources_;
  std::unique_ptr<WelcomePage> welcome_;
  std::unique_ptr<LicensePage> license_;
  std::unique_ptr<InstallTypePage> installType_;
  std::unique_ptr<DestinationPage> destination_;
  std::unique_ptr<JrePage> jre_;  // made when first shown, as is the next
  std::unique_ptr<UpdateDestinationPage> updateDestination_;
  std::unique_ptr<ProgramFolderPage> programFolder_;
  std::unique_ptr<ShortcutsPage> shortcuts_;
  std::unique_ptr<AssociationsPage> associations_;
  std::unique_ptr<ServicePage> services_;
  std::unique_ptr<SummaryPage> summary_;
  std::unique_ptr<ProgressPage> progress_;
  std::unique_ptr<FinishPage> finish_;
  std::unique_ptr<UIOverwritePolicy> overwriteAsker_;
};

}  // namespace corv

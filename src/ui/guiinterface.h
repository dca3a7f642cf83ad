// The graphical wizard, the front end when /batch is not given: one modal
// page per wizard step, built from the templates of the UI resource library
// that begin loads from the temporary folder.
//
// The welcome, summary, progress and finish pages exist. Until the input
// pages are built, the destination stays the package's default, and a
// package that needs another input page (licence, installation type, JRE,
// program folder, shortcuts, associations, services, update location) stops
// with message 1058.
#pragma once

#include <memory>

#include "kernel/overwritepolicy.h"
#include "ui/uiprogressupdater.h"
#include "ui/userinterface.h"
#include "ui/uioverwritepolicy.h"

namespace corv {

class InstallInfo;
class UIResources;
class WelcomePage;
class SummaryPage;
class ProgressPage;
class FinishPage;

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
  int confirmOverPreviousVersion() override;

  PageResult showWelcome() override;
  PageResult askLicenseAgreement() override;
  PageResult askInstallProfile() override;
  // Keeps the record's destination.
  PageResult askDestination() override;
  PageResult askJre() override;
  PageResult askProgramFolder() override;
  PageResult askShortcuts() override;
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

private:
  InstallInfo& info() const;

  std::unique_ptr<UIResources> resources_;
  std::unique_ptr<WelcomePage> welcome_;
  std::unique_ptr<SummaryPage> summary_;
  std::unique_ptr<ProgressPage> progress_;
  std::unique_ptr<FinishPage> finish_;
  std::unique_ptr<UIOverwritePolicy> overwriteAsker_;
};

}  // namespace corv

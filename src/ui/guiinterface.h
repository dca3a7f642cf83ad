// The graphical wizard, the front end when /batch is not given.
//
// NOT AVAILABLE YET: the wizard's pages are not built. begin() fails with a
// message saying so; the driver shows it in a message box and the run ends
// with exit code 1. Before begin the front end works as it will: the usage
// text and failures appear in message boxes, and the previous-version
// question is asked. The page operations are unreachable (begin never
// succeeds) and fail with an assertion.
#pragma once

#include "kernel/installationsteps.h"
#include "ui/userinterface.h"

namespace corv {

class GuiInterface : public UserInterface {
public:
  // `installation` outlives the front end.
  explicit GuiInterface(InstallationSteps& installation);
  ~GuiInterface() override;

  // Fails: the wizard is not available.
  void begin() override;
  void end() override;
  // A yes/no question, caption 1403 and text 1407 with the package name:
  // Yes proceeds, anything else stops.
  int confirmOverPreviousVersion() override;

  PageResult showWelcome() override;
  PageResult askLicenseAgreement() override;
  PageResult askInstallProfile() override;
  PageResult askDestination() override;
  PageResult askJre() override;
  PageResult askProgramFolder() override;
  PageResult askShortcuts() override;
  PageResult askFileAssociations() override;
  PageResult askServiceAccounts() override;
  PageResult askUpdateLocation() override;
  PageResult showSummary() override;
  PageResult runProgress() override;
  void finishProgress() override;
  UIProgressUpdater& progressUpdater() override;
  AbstractOverwritePolicy& overwritePolicy() override;
  PageResult showResult(const OptString& errorText, bool reboot) override;

private:
  InstallationSteps& installation_;
};

}  // namespace corv

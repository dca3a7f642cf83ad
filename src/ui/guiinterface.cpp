#include "ui/guiinterface.h"

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

namespace {

// The pages of the wizard are not built; begin() never succeeds, so no page
// operation can be reached.
[[noreturn]] void NoWizard(int line) { throw AssertionFailedError(__FILE__, line); }

}  // namespace

GuiInterface::GuiInterface(InstallationSteps& installation) : installation_(installation) {}

GuiInterface::~GuiInterface() = default;

void GuiInterface::begin() {
  throw FatalError(XString(
      u"The installation wizard is not available in this version of Corvantis Installer. "
      u"Run the installer with the /batch option to install from the command line."));
}

void GuiInterface::end() {
  windowEvent().set();
  setActive(false);
}

int GuiInterface::confirmOverPreviousVersion() {
  YesNoAnswer answer =
      askYesNo(FormatMessageText(1403), FormatMessageText(1407, installation_.packageName()));
  return answer == YesNoAnswer::Yes ? kProceed : kStop;
}

PageResult GuiInterface::showWelcome() { NoWizard(__LINE__); }
PageResult GuiInterface::askLicenseAgreement() { NoWizard(__LINE__); }
PageResult GuiInterface::askInstallProfile() { NoWizard(__LINE__); }
PageResult GuiInterface::askDestination() { NoWizard(__LINE__); }
PageResult GuiInterface::askJre() { NoWizard(__LINE__); }
PageResult GuiInterface::askProgramFolder() { NoWizard(__LINE__); }
PageResult GuiInterface::askShortcuts() { NoWizard(__LINE__); }
PageResult GuiInterface::askFileAssociations() { NoWizard(__LINE__); }
PageResult GuiInterface::askServiceAccounts() { NoWizard(__LINE__); }
PageResult GuiInterface::askUpdateLocation() { NoWizard(__LINE__); }
PageResult GuiInterface::showSummary() { NoWizard(__LINE__); }
PageResult GuiInterface::runProgress() { NoWizard(__LINE__); }
void GuiInterface::finishProgress() { NoWizard(__LINE__); }
UIProgressUpdater& GuiInterface::progressUpdater() { NoWizard(__LINE__); }
AbstractOverwritePolicy& GuiInterface::overwritePolicy() { NoWizard(__LINE__); }
PageResult GuiInterface::showResult(const OptString&, bool) { NoWizard(__LINE__); }

}  // namespace corv

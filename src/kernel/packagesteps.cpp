#include "kernel/packagesteps.h"

#include "util/exceptions.h"

namespace corv {

namespace {

class PackageSteps : public InstallationSteps {
public:
  // None of the process-wide objects exists yet.
  void createProcessObjects() override {}
  void destroyProcessObjects() override {}

  // Without a package reader no file counts as carrying a package.
  void readPackage() override { throw FatalError(1181); }
  bool hasRecord() const override { return false; }

  // Everything below needs the record that readPackage never yields.
  int languageSetting() const override { NoRecord(); }
  bool representableInCodePage() const override { NoRecord(); }
  void setFrontEnd(UserInterface&) override { NoRecord(); }
  bool warnAboutPreviousVersion() const override { NoRecord(); }
  int searchInstalledCopies() override { NoRecord(); }
  void createTempFolder() override { NoRecord(); }
  void extractAuxiliaryFiles() override { NoRecord(); }
  XString packageName() const override { NoRecord(); }
  bool isInstallation() const override { NoRecord(); }
  bool isUpdate() const override { NoRecord(); }
  bool hasLicense() const override { NoRecord(); }
  bool hasShortcuts() const override { NoRecord(); }
  bool hasShortcutAt(ShortcutLocation) const override { NoRecord(); }
  bool namesProgramFolder() const override { NoRecord(); }
  bool hasAssociations() const override { NoRecord(); }
  bool hasServices() const override { NoRecord(); }
  bool hasJreRequirement() const override { NoRecord(); }
  bool takePrimaryJre() override { NoRecord(); }
  void setInstallProfile(int) override { NoRecord(); }
  OptString fixedDestination() const override { NoRecord(); }
  void setDestination(const XString&) override { NoRecord(); }
  void setProgramFolder(const XString&) override { NoRecord(); }
  bool rebootRequired() const override { NoRecord(); }
  bool isWindowsNT() const override { NoRecord(); }
  bool isAdministrator() const override { NoRecord(); }
  void callPreInstall() override { NoRecord(); }
  bool extractMainFiles(UserInterface&) override { NoRecord(); }
  void abortExtraction() override { NoRecord(); }
  bool bindsExecutables() const override { NoRecord(); }
  void bindExecutables() override { NoRecord(); }
  void installSystemIntegration() override { NoRecord(); }
  void installServices() override { NoRecord(); }
  OptString pathEntry() const override { NoRecord(); }
  bool addToPath(const XString&) override { NoRecord(); }
  void callPostInstall() override { NoRecord(); }
  void runInstallRunProgram() override { NoRecord(); }
  void writeInstallLog() override { NoRecord(); }
  void undoTemporaryFiles() override { NoRecord(); }
  void undoInstallation() override { NoRecord(); }
  bool hasAfterRunProgram() const override { NoRecord(); }
  void startAfterRunProgram() override { NoRecord(); }
  void restartComputer() override { NoRecord(); }

private:
  [[noreturn]] static void NoRecord() { throw AssertionFailedError(__FILE__, __LINE__); }
};

}  // namespace

std::unique_ptr<InstallationSteps> CreatePackageSteps() { return std::make_unique<PackageSteps>(); }

}  // namespace corv

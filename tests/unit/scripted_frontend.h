// Scripted stand-ins for the driver's tests: a front end whose page results
// are scripted, and installation steps whose record facts are plain fields.
// Both write every action into one CallLog, so a test can check the order of
// the driver's steps.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/driver.h"
#include "kernel/installationsteps.h"
#include "kernel/overwritepolicy.h"
#include "ui/uiprogressupdater.h"
#include "ui/userinterface.h"
#include "util/thread.h"

namespace corv {

// Calls in order; calls made on another thread than the log's creator (the
// installation worker) are kept with the prefix "worker:".
class CallLog {
public:
  CallLog();
  void add(const std::string& call);
  std::vector<std::string> all() const;
  void clear();
  // Only the calls of the creating thread, or only the worker's (without
  // the prefix).
  std::vector<std::string> main() const;
  std::vector<std::string> worker() const;
  // Position of the first call equal to `call` (npos when absent).
  size_t indexOf(const std::string& call) const;
  bool contains(const std::string& call) const { return indexOf(call) != std::string::npos; }

private:
  // A spin lock: the Windows tests have no std::mutex.
  class Lock;
  mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  const void* main_;
  std::vector<std::string> calls_;
};

// Failure injection: the named operation calls the function (which throws)
// instead of doing its work.
using Failures = std::map<std::string, std::function<void()>>;

struct Box {
  void* owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

class ScriptedInterface : public UserInterface {
public:
  explicit ScriptedInterface(CallLog& log) : log_(log), done_(true, false) {}

  // Page results by operation, consumed in order; Next once none is left.
  // runProgress answering Next waits for finishProgress or abortProgress
  // first, as the text front end does.
  std::map<std::string, std::deque<PageResult>> answers;
  Failures failures;
  int previousVersionAnswer = kProceed;
  // The result of every message box, and the boxes shown.
  int boxResult = kBoxIdOk;
  std::vector<Box> boxes;
  // showResult's arguments.
  std::vector<std::pair<OptString, bool>> results;

  UIProgressUpdater& progressUpdater() override { return updater_; }
  AbstractOverwritePolicy& overwritePolicy() override { return policy_; }
  void begin() override;
  void end() override;
  int confirmOverPreviousVersion() override;
  PageResult showWelcome() override { return page("showWelcome"); }
  PageResult askLicenseAgreement() override { return page("askLicenseAgreement"); }
  PageResult askInstallProfile() override { return page("askInstallProfile"); }
  PageResult askDestination() override { return page("askDestination"); }
  PageResult askJre() override { return page("askJre"); }
  PageResult askProgramFolder() override { return page("askProgramFolder"); }
  PageResult askShortcuts() override { return page("askShortcuts"); }
  PageResult askFileAssociations() override { return page("askFileAssociations"); }
  PageResult askServiceAccounts() override { return page("askServiceAccounts"); }
  PageResult askUpdateLocation() override { return page("askUpdateLocation"); }
  PageResult showSummary() override { return page("showSummary"); }
  PageResult runProgress() override;
  void finishProgress() override;
  PageResult showResult(const OptString& errorText, bool reboot) override;
  void abortProgress() override;
  void showMessage(Severity severity, const AnsiString& text) override;

  // The page operations run, in order.
  std::vector<std::string> pages() const;

protected:
  int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                 uint32_t style) override;

private:
  PageResult page(const std::string& name);
  PageResult next(const std::string& name);
  void maybeFail(const std::string& name);

  CallLog& log_;
  Event done_;
  SilentProgressUpdater updater_;
  OverwritePolicy policy_{OverwritePolicy::kAlways};
};

class ScriptedSteps : public InstallationSteps {
public:
  explicit ScriptedSteps(CallLog& log) : log_(log), aborted_(true, false) {}

  // The record: by default a plain installation with nothing optional, run
  // by an administrator on Windows NT.
  int language = 2;
  bool representable = true;
  bool warnPrevious = false;
  int installedCopies = 0;
  XString name = u"Hello";
  bool installation = true;
  bool license = false;
  std::map<int, bool> shortcutsAt;
  bool programFolderNamed = true;
  bool associations = false;
  bool services = false;
  bool jre = false;
  bool primaryJre = false;
  OptString acceptedJre;  // what acceptJre answers
  OptString foundJre;     // what firstFoundJre answers
  OptString userService;  // what firstUserAccountService answers
  OptString fixed;
  bool reboot = false;
  bool windowsNT = true;
  bool administrator = true;
  bool binds = false;
  OptString path;
  bool pathAdded = true;
  bool afterRun = false;
  // An interrupted installation's journal is found (and undone) at start-up.
  bool interrupted = false;
  // extractMainFiles blocks until abortExtraction, then logs (and may fail
  // as) "extractMainFiles aborted" and returns false.
  bool extractionWaitsForAbort = false;
  Failures failures;

  void createProcessObjects() override { act("createProcessObjects"); }
  void readPackage() override;
  bool hasRecord() const override { return record_; }
  int languageSetting() const override { return language; }
  bool representableInCodePage() const override { return representable; }
  void setFrontEnd(UserInterface&) override { act("setFrontEnd"); }
  bool warnAboutPreviousVersion() const override { return warnPrevious; }
  int searchInstalledCopies() override;
  XString productName() const override { return name; }
  OptString primaryName() const override { return std::nullopt; }
  int considerPrimary(const XString&) override { return -1; }
  OptString firstInstalledPrimary() override { return std::nullopt; }
  bool undoInterruptedInstallations() override { return interrupted; }
  void createTempFolder() override { act("createTempFolder"); }
  void extractAuxiliaryFiles() override { act("extractAuxiliaryFiles"); }
  XString packageName() const override { return name; }
  bool isInstallation() const override { return installation; }
  bool isUpdate() const override { return !installation; }
  bool hasLicense() const override { return license; }
  bool hasShortcuts() const override;
  bool hasShortcutAt(ShortcutLocation location) const override;
  bool namesProgramFolder() const override { return programFolderNamed; }
  bool hasAssociations() const override { return associations; }
  bool hasServices() const override { return services; }
  bool hasJreRequirement() const override { return jre; }
  XString requiredJreVersion() const override { return u"1.4.2"; }
  OptString acceptJre(const XString& folder) override;
  OptString firstFoundJre() override;
  OptString firstUserAccountService() const override { return userService; }
  void setUserAccounts(const XString& user, const XString& password) override;
  void setJreFolder(const XString& folder) override;
  bool takePrimaryJre() override;
  void setInstallProfile(int profile) override;
  void takePrimaryProfile() override;
  OptString fixedDestination() const override { return fixed; }
  void setDestination(const XString& folder) override;
  void setProgramFolder(const XString& folder) override;
  bool rebootRequired() const override { return reboot; }
  bool isWindowsNT() const override { return windowsNT; }
  bool isAdministrator() const override { return administrator; }
  void callPreInstall() override { act("callPreInstall"); }
  bool extractMainFiles(UserInterface& ui) override;
  void abortExtraction() override;
  bool bindsExecutables() const override { return binds; }
  void bindExecutables() override { act("bindExecutables"); }
  void installSystemIntegration() override { act("installSystemIntegration"); }
  void installServices() override { act("installServices"); }
  OptString pathEntry() const override { return path; }
  bool addToPath(const XString& folder) override;
  void callPostInstall() override { act("callPostInstall"); }
  void runInstallRunProgram() override { act("runInstallRunProgram"); }
  void writeInstallLog() override { act("writeInstallLog"); }
  void undoTemporaryFiles() override { act("undoTemporaryFiles"); }
  void undoInstallation() override { act("undoInstallation"); }
  bool hasAfterRunProgram() const override { return afterRun; }
  void startAfterRunProgram() override { act("startAfterRunProgram"); }
  void destroyProcessObjects() override;
  void restartComputer() override { act("restartComputer"); }

private:
  void act(const std::string& name);

  CallLog& log_;
  bool record_ = false;
  Event aborted_;
};

// A driver over the scripted stand-ins. The stand-ins belong to the driver;
// the pointers stay valid while it exists.
struct ScriptedRun {
  CallLog log;
  std::unique_ptr<Driver> driver;
  ScriptedSteps* steps = nullptr;
  ScriptedInterface* ui = nullptr;
  FrontEndKind kind = FrontEndKind::Gui;

  // Constructs the driver with the program name "setup.exe" and `args`.
  explicit ScriptedRun(std::vector<std::string> args);
  int run() { return driver->run(); }

private:
  std::vector<std::string> argStore_;
  std::vector<const char*> argv_;
};

}  // namespace corv

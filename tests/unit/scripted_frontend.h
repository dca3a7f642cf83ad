// Scripted stand-ins for the driver's tests: a front end whose page results
// are scripted, and installation steps over a record built from a sample
// install-info record, which keep what the installation did as outcomes.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kernel/driver.h"
#include "kernel/installationsteps.h"
#include "kernel/installinfo.h"
#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"
#include "kernel/userinterface.h"
#include "util/thread.h"

namespace corv {

// What an operation does first, by name: store a choice, or throw.
using Hooks = std::map<std::string, std::function<void()>>;

// A thread that runs a function.
class FunctionThread : public Thread {
public:
  explicit FunctionThread(std::function<void()> body) : body_(std::move(body)) {}
  void run() override { body_(); }

private:
  std::function<void()> body_;
};

struct Box {
  void* owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

class ScriptedInterface : public UserInterface {
public:
  ScriptedInterface() : done_(true, false) {}

  // Page results by operation, consumed in order; Next once none is left.
  // runProgress answering Next waits for finishProgress or abortProgress
  // first, as the text front end does.
  std::map<std::string, std::deque<PageResult>> answers;
  Hooks hooks;
  PreviousVersionAnswer previousVersionAnswer = PreviousVersionAnswer::Proceed;
  bool previousVersionAsked = false;
  // The result of every message box, and the boxes shown.
  int boxResult = kBoxIdOk;
  std::vector<Box> boxes;
  // showResult's arguments.
  std::vector<std::pair<OptString, bool>> results;
  // The page operations run, in order.
  std::vector<std::string> pages;

  UIProgressUpdater& progressUpdater() override { return updater_; }
  AbstractOverwritePolicy& overwritePolicy() override { return policy_; }
  void begin() override;
  void end() override;
  PreviousVersionAnswer confirmOverPreviousVersion() override;
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
  void finishProgress() override { done_.set(); }
  PageResult showResult(const OptString& errorText, bool reboot) override;
  void abortProgress() override { done_.set(); }
  void showMessage(Severity severity, const AnsiString& text) override;

protected:
  int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                 uint32_t style) override;

private:
  PageResult page(const std::string& name);
  void hook(const std::string& name);

  Event done_;
  SilentProgressUpdater updater_;
  OverwritePolicy policy_{OverwritePolicy::kAlways};
};

class ScriptedSteps : public InstallationSteps {
public:
  ScriptedSteps();

  // The package's record (by default the minimal installation package in
  // English) and the system: an administrator on Windows NT.
  InstallRecord record;
  bool windowsNT = true;
  bool administrator = true;
  // What the registry names: the product's install path, a JavaHome.
  OptString installedCopy;
  OptString javaHome;
  // The runtime an update finds bound in its primary installation.
  OptString primaryJre;
  bool pathAdded = true;
  // An interrupted installation's journal is found (and undone) at start-up.
  bool interrupted = false;
  // The extraction blocks until abortExtraction, then returns false.
  bool extractionWaitsForAbort = false;
  // By action name ("readPackage", "extractMainFiles", ...; "extraction
  // aborted" after the abort).
  Hooks hooks;

  // ---- Outcomes.
  // The record read; it outlives destroyProcessObjects for the checks.
  InstallInfo* info() const { return info_.get(); }
  // What the installation did: "files", "bound", "integration", "services",
  // "PATH <folder>", "hooks", "install-run", "install.log"; a rollback
  // empties it.
  std::set<std::string> installed;
  int rollbacks = 0;
  // A rollback ran while the worker was still extracting.
  bool undoneWhileExtracting = false;
  bool tempFolder = false;
  bool afterRunStarted = false;
  bool destroyed = false;
  bool restarted = false;

  void createProcessObjects() override {}
  InstallInfo& readPackage() override;
  bool undoInterruptedInstallations() override { return interrupted; }
  void createTempFolder() override;
  void extractAuxiliaryFiles() override { hook("extractAuxiliaryFiles"); }
  bool isWindowsNT() const override { return windowsNT; }
  bool isAdministrator() const override { return administrator; }
  bool takePrimaryJre() override;
  void takePrimaryProfile() override { info_->choices().setInstallProfile(kProfilePersonal); }
  void callPreInstall() override { act("hooks"); }
  bool extractMainFiles(UserInterface& ui) override;
  void abortExtraction() override { aborted_.set(); }
  void bindExecutables() override { act("bound"); }
  void installSystemIntegration() override { act("integration"); }
  void installServices() override { act("services"); }
  bool addToPath(const XString& folder) override;
  void callPostInstall() override { act("hooks"); }
  void runInstallRunProgram() override { act("install-run"); }
  void writeInstallLog() override { act("install.log"); }
  void undoTemporaryFiles() override;
  void undoInstallation() override;
  void startAfterRunProgram() override;
  void destroyProcessObjects() override;
  void restartComputer() override { restarted = true; }

private:
  void hook(const std::string& name);
  // The hook, then `name` is installed.
  void act(const std::string& name);

  std::unique_ptr<InstallInfo> info_;
  std::atomic<bool> extracting_{false};
  Event aborted_;
};

// A driver over the scripted stand-ins. The stand-ins belong to the driver;
// the pointers stay valid while it exists.
struct ScriptedRun {
  std::unique_ptr<Driver> driver;
  ScriptedSteps* steps = nullptr;
  ScriptedInterface* ui = nullptr;
  FrontEndKind kind = FrontEndKind::Gui;

  // Constructs the driver with the program name "setup.exe" and `args`.
  explicit ScriptedRun(std::vector<std::string> args);
  int run() { return driver->run(); }
  InstallInfo& info() const { return *steps->info(); }

private:
  std::vector<std::string> argStore_;
  std::vector<const char*> argv_;
};

}  // namespace corv

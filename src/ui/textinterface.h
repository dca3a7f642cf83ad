// Batch mode (/batch): no wizard. Every page operation takes its answer from
// the command line or the package's defaults, stores it in the process-wide
// InstallInfo and returns Next at once, or raises the exception that ends the
// installation. Messages go to standard
// output when the process has one (in the OEM code page, with the caption of
// their severity), as message boxes otherwise.
#pragma once

#include "kernel/options.h"
#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"
#include "kernel/userinterface.h"
#include "util/thread.h"

namespace corv {

// The progress display of batch mode: it draws nothing; runProgress waits
// for its doneEvent.
class ConsoleUpdater : public WaitableProgressUpdater {};

// True when the process has a standard-output handle.
bool HasStandardOutput();

// Batch mode's output of a message on standard output, in the OEM code page:
// information as the text alone, the other severities after their caption
// and ": ". A text the OEM code page cannot hold raises FatalError 1055; a
// severity outside 1..4 is an assertion failure.
void PrintConsoleMessage(Severity severity, const AnsiString& text);

class TextInterface : public UserInterface {
public:
  // `options` outlives the front end. The process has a console when it has
  // a standard-output handle now.
  explicit TextInterface(const Options& options);
  ~TextInterface() override;

  bool hasConsole() const { return hasConsole_; }

  void begin() override { setActive(true); }
  void end() override { setActive(false); }
  // Proceed with /force or /no-reg. Otherwise Stop, after printing 1408
  // with the package name when there is a console.
  PreviousVersionAnswer confirmOverPreviousVersion() override;

  PageResult showWelcome() override { return PageResult::Next; }
  PageResult askLicenseAgreement() override { return PageResult::Next; }
  // Stores /personal or /common, if given.
  PageResult askInstallProfile() override;
  // Stores /dest, if given; a /dest other than the folder the vendor fixed
  // raises Error 1411.
  PageResult askDestination() override;
  // Stores the runtime of /jre (FatalError 1308 when it holds none of the
  // required version), or else the first one the search finds (1309 when
  // there is none).
  PageResult askJre() override;
  // Stores /folder, if given.
  PageResult askProgramFolder() override;
  PageResult askShortcuts() override { return PageResult::Next; }
  PageResult askFileAssociations() override { return PageResult::Next; }
  // Gives /user and /password to every service that runs under a user
  // account (FatalError 1306 without /user).
  PageResult askServiceAccounts() override;
  // Stores /primary when it holds the primary package (FatalError 1310
  // otherwise), or else the first installation the search finds (1311 when
  // there is none).
  PageResult askUpdateLocation() override;
  PageResult showSummary() override { return PageResult::Next; }
  // Waits until the worker's work is done or the worker gave up.
  PageResult runProgress() override;
  // The work is done: the updater's finish, and runProgress returns even
  // when no extraction reported to the updater before.
  void finishProgress() override {
    consoleUpdater_.finish();
    consoleUpdater_.doneEvent().set();
  }
  UIProgressUpdater& progressUpdater() override { return consoleUpdater_; }
  // Batch mode never asks: existing files are always replaced.
  AbstractOverwritePolicy& overwritePolicy() override { return fixedPolicy_; }
  // Failure: 1313 (1314 for an update) with the package name and the error
  // text, as a severe error. Success: 1409 (1410), then 1307 when a reboot
  // is needed.
  PageResult showResult(const OptString& errorText, bool reboot) override;
  // Signals doneEvent, so that a waiting runProgress returns.
  void abortProgress() override { consoleUpdater_.doneEvent().set(); }
  // With a console: information as the text alone, the other severities
  // after their caption and ": ". Without one: the base's message box. A
  // text the OEM code page cannot hold raises FatalError 1055.
  void showMessage(Severity severity, const AnsiString& text) override;

  ConsoleUpdater& consoleUpdater() { return consoleUpdater_; }

protected:
  TextInterface(const Options& options, bool hasConsole);

private:
  const Options& options_;
  ConsoleUpdater consoleUpdater_;
  OverwritePolicy fixedPolicy_{OverwritePolicy::kAlways};
  bool hasConsole_;
};

}  // namespace corv

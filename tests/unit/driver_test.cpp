// The driver over a scripted front end and scripted installation steps:
// start-up order, the wizard walk, cancel, completion and failure handling.
#include "kernel/driver.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "scripted_frontend.h"
#include "test_support.h"
#include "util/messages.h"

namespace corv {
namespace {

using Calls = std::vector<std::string>;

class DriverTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLanguage(); }
  void TearDown() override { ResetLanguage(); }

  // A package on which every wizard step shows its page.
  static void ShowEveryStep(ScriptedSteps& steps) {
    steps.license = true;
    steps.shortcutsAt = {{kLocationProgramFolder, true}, {kLocationDesktop, true}};
    steps.jre = true;
    steps.associations = true;
    steps.services = true;
  }
};

// The failure an assertion of the driver reports on the finish page.
bool ReportsDriverAssertion(const ScriptedRun& run, size_t result) {
  return run.ui->results.size() > result && run.ui->results[result].first &&
         ToUtf8(*run.ui->results[result].first).rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0) == 0;
}

// Runs, expecting exit code 1; returns what went to standard output, with
// line ends as "\n" (the C runtime writes "\r\n" to a text-mode stream).
std::string RunCapturingStdout(ScriptedRun& run) {
  std::string text;
  {
    CapturedStdout out;
    int code = run.run();
    text = out.take();
    if (code != 1) text += "(exit code " + std::to_string(code) + ")";
  }
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

// ---- Construction and start-up

TEST_F(DriverTest, BatchChoosesTheTextFrontEndAnythingElseTheWizard) {
  EXPECT_EQ(ScriptedRun({"/batch"}).kind, FrontEndKind::Text);
  EXPECT_EQ(ScriptedRun({"-BATCH", "/dest", "C:\\x"}).kind, FrontEndKind::Text);
  EXPECT_EQ(ScriptedRun({}).kind, FrontEndKind::Gui);
  EXPECT_EQ(ScriptedRun({"/gui"}).kind, FrontEndKind::Gui);
  // A value is never a mode option.
  EXPECT_EQ(ScriptedRun({"/dest", "/batch"}).kind, FrontEndKind::Gui);
}

TEST_F(DriverTest, OptionsExistOncePerProcess) {
  ScriptedRun first({});
  EXPECT_EQ(Options::Instance()->programName(), std::nullopt);  // not parsed yet
  EXPECT_THROW(ScriptedRun({}), AssertionFailedError);
  first.driver.reset();
  EXPECT_EQ(Options::Instance(), nullptr);
  EXPECT_NO_THROW(ScriptedRun({}));
}

TEST_F(DriverTest, SecondModeOptionFailsBeforeAnyFrontEndAndLeavesNoOptions) {
  try {
    ScriptedRun run({"/batch", "/gui"});
    FAIL() << "no assertion";
  } catch (const AssertionFailedError& e) {
    EXPECT_EQ(e.message(), u"ASSERT: file ..\\src\\kernel\\options.cpp, line 141");
  }
  EXPECT_EQ(Options::Instance(), nullptr);
}

TEST_F(DriverTest, StartUpRunsInOrderThenTheWizardAndTheCompletion) {
  ScriptedRun run({"/batch"});
  EXPECT_EQ(run.run(), 0);
  Calls expected = {"createProcessObjects", "readPackage", "setFrontEnd", "createTempFolder",
                    "extractAuxiliaryFiles", "begin", "showWelcome",
                    "setInstallProfile(1)",  // an administrator, no shortcuts: common
                    "askDestination", "showSummary", "callPreInstall", "runProgress", "showResult",
                    "writeInstallLog", "end", "undoTemporaryFiles", "destroyProcessObjects"};
  EXPECT_EQ(run.log.main(), expected);
  Calls worker = {"extractMainFiles", "installSystemIntegration", "callPostInstall",
                  "runInstallRunProgram", "finishProgress"};
  EXPECT_EQ(run.log.worker(), worker);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, std::nullopt);
  EXPECT_FALSE(run.ui->results[0].second);
}

TEST_F(DriverTest, HelpShowsTheUsageWithoutOpeningThePackage) {
  for (const char* help : {"/help", "-h", "/?", "/HELP"}) {
    ScriptedRun run({"/batch", help});
    EXPECT_EQ(run.run(), 1) << help;
    EXPECT_EQ(run.log.main(), (Calls{"createProcessObjects", "showMessage"})) << help;
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(run.ui->boxes[0].caption, "Information");
    EXPECT_EQ(run.ui->boxes[0].text.rfind("Usage of setup.exe\n\n/gui - GUI installation wizard", 0), 0u);
  }
}

TEST_F(DriverTest, CommandLineFailuresAreSevereErrorsBeforeThePackage) {
  struct Case {
    std::vector<std::string> args;
    std::string text;
  } cases[] = {
      {{"/batch", "/bogus"}, "Unknown option /bogus\n"},
      {{"/batch", "install"}, "Unknown option install\n"},
      {{"/batch", "//dest", "x"}, "Unknown option //dest\n"},
      {{"/batch", "/dest"}, "Value of the option '/dest' was not specified"},
      // The full parse comes before the help check.
      {{"/batch", "/help", "/bogus"}, "Unknown option /bogus\n"},
  };
  for (const Case& c : cases) {
    ScriptedRun run(c.args);
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.log.main(), Calls{"showMessage"});
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
    EXPECT_EQ(run.ui->boxes[0].text, c.text);
  }
}

TEST_F(DriverTest, PackageLanguageIsSelectedFromTheRecord) {
  ScriptedRun run({"/batch"});
  run.steps->language = 5;  // German
  run.steps->services = true;
  run.steps->windowsNT = false;
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(CurrentLanguage().base, 2000);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, ToAnsi(LoadMessage(1403)));
  EXPECT_EQ(run.ui->boxes[0].text, ToAnsi(LoadMessage(1141)));
  EXPECT_NE(run.ui->boxes[0].caption, "Warning");
}

TEST_F(DriverTest, AnUndoneInterruptedInstallationIsToldInTheLanguageOfThePackageAndTheRunGoesOn) {
  ScriptedRun run({"/batch"});
  run.steps->language = 5;  // German
  run.steps->interrupted = true;
  EXPECT_EQ(run.run(), 0);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, ToAnsi(LoadMessage(1401)));
  EXPECT_EQ(run.ui->boxes[0].text, ToAnsi(LoadMessage(1262)));
  EXPECT_NE(run.ui->boxes[0].text.find("Installation"), std::string::npos);
}

TEST_F(DriverTest, RecordLanguageOutsideTheSettingsIsAnAssertion) {
  for (int setting : {0, 7}) {
    ScriptedRun run({"/batch"});
    run.steps->language = setting;
    EXPECT_EQ(run.run(), 1);
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(run.ui->boxes[0].text.rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0), 0u);
  }
}

TEST_F(DriverTest, TextsOutsideTheCodePageStopWith1056AndRollBack) {
  ScriptedRun run({"/batch"});
  run.steps->representable = false;
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].text, ToAnsi(LoadMessage(1056)));
  EXPECT_EQ(run.log.main(), (Calls{"createProcessObjects", "readPackage", "showMessage",
                                   "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, PreviousVersionQuestionCanStopTheRunBeforeAnythingIsWritten) {
  {
    ScriptedRun stopped({"/batch"});
    stopped.steps->warnPrevious = true;
    stopped.steps->installedCopies = 1;
    stopped.ui->previousVersionAnswer = kStop;
    EXPECT_EQ(stopped.run(), 1);
    EXPECT_EQ(stopped.log.main(), (Calls{"createProcessObjects", "readPackage", "setFrontEnd",
                                         "searchInstalledCopies", "confirmOverPreviousVersion"}));
  }
  {
    ScriptedRun proceeding({"/batch"});
    proceeding.steps->warnPrevious = true;
    proceeding.steps->installedCopies = 2;
    EXPECT_EQ(proceeding.run(), 0);
    EXPECT_TRUE(proceeding.log.contains("confirmOverPreviousVersion"));
  }
  {
    ScriptedRun noneFound({"/batch"});
    noneFound.steps->warnPrevious = true;
    EXPECT_EQ(noneFound.run(), 0);
    EXPECT_TRUE(noneFound.log.contains("searchInstalledCopies"));
    EXPECT_FALSE(noneFound.log.contains("confirmOverPreviousVersion"));
  }
  {
    // An update never looks for a previous version.
    ScriptedRun update({"/batch"});
    update.steps->warnPrevious = true;
    update.steps->installation = false;
    update.steps->installedCopies = 1;
    EXPECT_EQ(update.run(), 0);
    EXPECT_FALSE(update.log.contains("searchInstalledCopies"));
  }
}

// ---- The wizard walk

TEST_F(DriverTest, BackSkipsTheSkippedStepsInBothDirections) {
  ScriptedRun run({});
  run.steps->license = true;
  run.steps->shortcutsAt = {{kLocationDesktop, true}};
  // Steps 5 (JRE), 6 (program folder), 7 (associations) and 9 (services)
  // are skipped.
  run.ui->answers["askShortcuts"] = {PageResult::Back, PageResult::Next};
  run.ui->answers["askDestination"] = {PageResult::Next, PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages(),
            (Calls{"showWelcome", "askLicenseAgreement", "askInstallProfile", "askDestination",
                   "askShortcuts", "askDestination", "askInstallProfile", "askDestination",
                   "askShortcuts", "showSummary", "runProgress", "showResult"}));
}

TEST_F(DriverTest, BackFromTheJrePageOverTheSkippedProfileStep) {
  ScriptedRun run({});
  run.steps->jre = true;  // no shortcuts: the profile step sets common and is skipped
  run.ui->answers["askJre"] = {PageResult::Back, PageResult::Next};
  run.ui->answers["askDestination"] = {PageResult::Next, PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages(),
            (Calls{"showWelcome", "askDestination", "askJre", "askDestination", "showWelcome",
                   "askDestination", "askJre", "showSummary", "runProgress", "showResult"}));
  // Passing the skipped step sets the profile each time, whatever the direction.
  Calls main = run.log.main();
  EXPECT_EQ(std::count(main.begin(), main.end(), "setInstallProfile(1)"), 3);
}

TEST_F(DriverTest, BackFromTheSummaryPassesTheServiceWarningAgain) {
  ScriptedRun run({});
  run.steps->services = true;
  run.steps->windowsNT = false;
  run.steps->shortcutsAt = {{kLocationStartMenu, true}};
  run.ui->answers["showSummary"] = {PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages(),
            (Calls{"showWelcome", "askInstallProfile", "askDestination", "askShortcuts",
                   "showSummary", "askShortcuts", "showSummary", "runProgress", "showResult"}));
  // Forward, back and forward again: three warnings.
  ASSERT_EQ(run.ui->boxes.size(), 3u);
  for (const Box& box : run.ui->boxes) {
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, "Unable to install Windows NT service:\n Windows NT/2000/XP system required");
  }
  EXPECT_FALSE(run.log.contains("askServiceAccounts"));
}

TEST_F(DriverTest, ServicesNeedAnAdministrator) {
  ScriptedRun run({});
  run.steps->services = true;
  run.steps->administrator = false;
  EXPECT_EQ(run.run(), 0);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to install Windows NT service:\n Administrative privileges required");
  EXPECT_FALSE(run.log.contains("askServiceAccounts"));
  EXPECT_FALSE(run.log.contains("worker:installServices"));
}

TEST_F(DriverTest, InstallProfileStep) {
  {
    ScriptedRun personal({});
    personal.steps->administrator = false;
    personal.steps->shortcutsAt = {{kLocationDesktop, true}};
    EXPECT_EQ(personal.run(), 0);
    EXPECT_TRUE(personal.log.contains("setInstallProfile(2)"));
    EXPECT_FALSE(personal.log.contains("askInstallProfile"));
  }
  {
    ScriptedRun asked({});
    asked.steps->shortcutsAt = {{kLocationStartup, true}};
    EXPECT_EQ(asked.run(), 0);
    EXPECT_TRUE(asked.log.contains("askInstallProfile"));
    EXPECT_FALSE(asked.log.contains("setInstallProfile(1)"));
  }
  ScriptedRun update({});
  update.steps->installation = false;
  update.steps->shortcutsAt = {{kLocationDesktop, true}};
  EXPECT_EQ(update.run(), 0);
  EXPECT_FALSE(update.log.contains("askInstallProfile"));
  EXPECT_FALSE(update.log.contains("setInstallProfile(1)"));
  EXPECT_FALSE(update.log.contains("setInstallProfile(2)"));
  EXPECT_FALSE(update.log.contains("askDestination"));
  EXPECT_TRUE(update.log.contains("askUpdateLocation"));
  // The profile comes from the installation the update applies to.
  EXPECT_TRUE(update.log.contains("takePrimaryProfile"));
}

TEST_F(DriverTest, AnUpdateMayTakeTheJreOfItsPrimaryInstallation) {
  {
    ScriptedRun taken({});
    taken.steps->installation = false;
    taken.steps->jre = true;
    taken.steps->primaryJre = true;
    EXPECT_EQ(taken.run(), 0);
    EXPECT_TRUE(taken.log.contains("takePrimaryJre"));
    EXPECT_FALSE(taken.log.contains("askJre"));
  }
  {
    ScriptedRun notTaken({});
    notTaken.steps->installation = false;
    notTaken.steps->jre = true;
    EXPECT_EQ(notTaken.run(), 0);
    EXPECT_LT(notTaken.log.indexOf("takePrimaryJre"), notTaken.log.indexOf("askJre"));
  }

  // A new installation always asks.
  ScriptedRun installation({});
  installation.steps->jre = true;
  installation.steps->primaryJre = true;
  EXPECT_EQ(installation.run(), 0);
  EXPECT_FALSE(installation.log.contains("takePrimaryJre"));
  EXPECT_TRUE(installation.log.contains("askJre"));
}

TEST_F(DriverTest, ProgramFolderShortcutsNeedANamedProgramFolder) {
  ScriptedRun run({});
  run.steps->shortcutsAt = {{kLocationProgramFolder, true}};
  run.steps->programFolderNamed = false;
  EXPECT_EQ(run.run(), 1);
  EXPECT_TRUE(ReportsDriverAssertion(run, 0));
  EXPECT_FALSE(run.log.contains("askProgramFolder"));
}

TEST_F(DriverTest, EveryStepShowsItsPageInWizardOrder) {
  ScriptedRun run({});
  ShowEveryStep(*run.steps);
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages(),
            (Calls{"showWelcome", "askLicenseAgreement", "askInstallProfile", "askDestination",
                   "askJre", "askProgramFolder", "askFileAssociations", "askShortcuts",
                   "askServiceAccounts", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(run.log.worker(),
            (Calls{"extractMainFiles", "installSystemIntegration", "installServices",
                   "callPostInstall", "runInstallRunProgram", "finishProgress"}));
}

TEST_F(DriverTest, CancelOnAnyStepRollsBackAndEndsWith1) {
  const char* const pages[] = {"showWelcome",  "askLicenseAgreement", "askInstallProfile",
                               "askDestination", "askJre",            "askProgramFolder",
                               "askFileAssociations", "askShortcuts", "askServiceAccounts",
                               "showSummary",  "runProgress",         "showResult"};
  for (const char* page : pages) {
    SCOPED_TRACE(page);
    ScriptedRun run({});
    ShowEveryStep(*run.steps);
    run.steps->extractionWaitsForAbort = true;
    run.ui->answers[page] = {PageResult::Cancel};
    if (std::string(page) == "showResult") run.steps->extractionWaitsForAbort = false;
    EXPECT_EQ(run.run(), 1);
    Calls main = run.log.main();
    Calls rollback = {"undoInstallation", "end", "undoTemporaryFiles"};
    Calls tail = {page};
    if (std::string(page) == "runProgress") {
      // The extraction is told to stop, and the worker has ended before the rollback.
      tail.push_back("abortExtraction");
      EXPECT_EQ(run.log.worker(), (Calls{"extractMainFiles", "extractMainFiles aborted"}));
      EXPECT_LT(run.log.indexOf("worker:extractMainFiles aborted"), run.log.indexOf("undoInstallation"));
    }
    tail.insert(tail.end(), rollback.begin(), rollback.end());
    ASSERT_GE(main.size(), tail.size());
    EXPECT_EQ(Calls(main.end() - static_cast<long>(tail.size()), main.end()), tail);
    EXPECT_FALSE(run.log.contains("writeInstallLog"));
    EXPECT_FALSE(run.log.contains("destroyProcessObjects"));
  }

  ScriptedRun update({});
  update.steps->installation = false;
  update.ui->answers["askUpdateLocation"] = {PageResult::Cancel};
  EXPECT_EQ(update.run(), 1);
  EXPECT_EQ(update.ui->pages(), (Calls{"showWelcome", "askUpdateLocation"}));
  EXPECT_TRUE(update.log.contains("undoTemporaryFiles"));
  EXPECT_FALSE(update.log.contains("takePrimaryProfile"));
}

TEST_F(DriverTest, PageResultsOutsideTheThreeAreAssertions) {
  {
    ScriptedRun run({});
    run.ui->answers["askDestination"] = {static_cast<PageResult>(0)};
    EXPECT_EQ(run.run(), 1);
    EXPECT_TRUE(ReportsDriverAssertion(run, 0));
  }
  {
    ScriptedRun back({});
    back.ui->answers["showWelcome"] = {PageResult::Back};  // no step before the first
    EXPECT_EQ(back.run(), 1);
    EXPECT_TRUE(ReportsDriverAssertion(back, 0));
  }
  {
    ScriptedRun finish({});
    finish.ui->answers["showResult"] = {PageResult::Back};  // the finish page has no Back
    EXPECT_EQ(finish.run(), 1);
    EXPECT_TRUE(ReportsDriverAssertion(finish, 1));
    EXPECT_FALSE(finish.log.contains("writeInstallLog"));
  }
  ScriptedRun progress({});
  progress.steps->extractionWaitsForAbort = true;
  progress.ui->answers["runProgress"] = {PageResult::Back};
  EXPECT_EQ(progress.run(), 1);
  EXPECT_TRUE(progress.log.contains("abortExtraction"));
  EXPECT_LT(progress.log.indexOf("worker:extractMainFiles aborted"), progress.log.indexOf("undoInstallation"));
}

// ---- The installation proper

TEST_F(DriverTest, WorkerStepsFollowTheRecordAndTheOptions) {
  {
    ScriptedRun run({});
    ShowEveryStep(*run.steps);
    run.steps->binds = true;
    run.steps->path = u"C:\\Hello\\bin";
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.log.worker(),
              (Calls{"extractMainFiles", "bindExecutables", "installSystemIntegration",
                     "installServices", "addToPath(C:\\Hello\\bin)", "callPostInstall",
                     "runInstallRunProgram", "finishProgress"}));
  }

  ScriptedRun noReg({"/no-reg"});
  ShowEveryStep(*noReg.steps);
  noReg.steps->path = u"C:\\Hello\\bin";
  EXPECT_EQ(noReg.run(), 0);
  EXPECT_EQ(noReg.log.worker(), (Calls{"extractMainFiles", "callPostInstall", "runInstallRunProgram",
                                       "finishProgress"}));
}

TEST_F(DriverTest, PathThatCannotBeChangedIsAWarningAndTheInstallationGoesOn) {
  ScriptedRun run({});
  run.steps->path = u"C:\\Hello\\bin";
  run.steps->pathAdded = false;
  EXPECT_EQ(run.run(), 0);
  EXPECT_TRUE(run.log.contains("worker:showMessage"));
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Warning");
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to add 'C:\\Hello\\bin' to PATH environment variable");
  EXPECT_TRUE(run.log.contains("worker:callPostInstall"));
}

TEST_F(DriverTest, WorkerFailureWakesTheProgressAndIsReportedOnTheFinishPage) {
  ScriptedRun run({});
  run.steps->failures["installSystemIntegration"] = [] { throw FatalError(1122, u"Software\\Hello"); };
  EXPECT_EQ(run.run(), 1);
  EXPECT_EQ(run.log.worker(), (Calls{"extractMainFiles", "installSystemIntegration", "abortProgress"}));
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to create product key Software\\Hello in registry");
  EXPECT_FALSE(run.ui->results[0].second);
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 5, main.end()),
            (Calls{"runProgress", "showResult", "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, OutOfMemoryAndForeignExceptionsOnEitherThreadEndLikeAnyFailure) {
  {
    // On the worker: reported on the finish page, rolled back, exit code 1.
    ScriptedRun worker({});
    worker.steps->failures["installSystemIntegration"] = [] { throw std::bad_alloc(); };
    EXPECT_EQ(worker.run(), 1);
    ASSERT_EQ(worker.ui->results.size(), 1u);
    EXPECT_EQ(worker.ui->results[0].first, u"Out of memory error");
    Calls main = worker.log.main();
    EXPECT_EQ(Calls(main.end() - 4, main.end()),
              (Calls{"showResult", "undoInstallation", "end", "undoTemporaryFiles"}));
  }
  // On the main thread, before the front end began: a severe-error box.
  ScriptedRun early({"/batch"});
  early.steps->failures["extractAuxiliaryFiles"] = [] { throw std::runtime_error("library failure"); };
  EXPECT_EQ(early.run(), 1);
  ASSERT_EQ(early.ui->boxes.size(), 1u);
  EXPECT_EQ(early.ui->boxes[0].text.rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0), 0u)
      << early.ui->boxes[0].text;
  Calls main = early.log.main();
  EXPECT_EQ(Calls(main.end() - 4, main.end()), (Calls{"showMessage", "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, WorkerFailureAfterCancelIsReportedAsAFailure) {
  ScriptedRun run({});
  run.ui->answers["runProgress"] = {PageResult::Cancel};
  run.steps->extractionWaitsForAbort = true;
  run.steps->failures["extractMainFiles aborted"] = [] { throw FatalError(1102, u"C:\\setup.exe"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to read file C:\\setup.exe");
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 6, main.end()),
            (Calls{"runProgress", "abortExtraction", "showResult", "undoInstallation", "end",
                   "undoTemporaryFiles"}));
}

TEST_F(DriverTest, FailingProgressDisplayStopsAndJoinsTheWorkerBeforeTheRollback) {
  ScriptedRun run({});
  run.steps->extractionWaitsForAbort = true;
  run.ui->failures["runProgress"] = [] { throw FatalError(u"the progress page failed"); };
  EXPECT_EQ(run.run(), 1);
  EXPECT_TRUE(run.log.contains("abortExtraction"));
  EXPECT_LT(run.log.indexOf("worker:extractMainFiles aborted"), run.log.indexOf("undoInstallation"));
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"the progress page failed");
}

// ---- Completion

TEST_F(DriverTest, CompletionStartsTheAfterRunProgramUnlessARestartIsPendingOrRefused) {
  {
    ScriptedRun run({});
    run.steps->afterRun = true;
    EXPECT_EQ(run.run(), 0);
    Calls main = run.log.main();
    EXPECT_EQ(Calls(main.end() - 5, main.end()),
              (Calls{"writeInstallLog", "end", "undoTemporaryFiles", "startAfterRunProgram",
                     "destroyProcessObjects"}));
  }
  {
    ScriptedRun refused({"/no-aftrun"});
    refused.steps->afterRun = true;
    EXPECT_EQ(refused.run(), 0);
    EXPECT_FALSE(refused.log.contains("startAfterRunProgram"));
  }
  ScriptedRun reboot({});
  reboot.steps->afterRun = true;
  reboot.steps->reboot = true;
  EXPECT_EQ(reboot.run(), 0);
  Calls main = reboot.log.main();
  EXPECT_FALSE(reboot.log.contains("startAfterRunProgram"));
  EXPECT_EQ(Calls(main.end() - 2, main.end()), (Calls{"destroyProcessObjects", "restartComputer"}));
  EXPECT_TRUE(reboot.ui->results.at(0).second);
}

TEST_F(DriverTest, FailureAfterEndComesThroughAMessageBoxAndRollsBack) {
  ScriptedRun run({});
  run.steps->afterRun = true;
  run.steps->failures["startAfterRunProgram"] = [] { throw FatalError(1084, u"C:\\Hello\\run.exe"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].style, 0x10u);
  EXPECT_EQ(run.ui->boxes[0].text, "Cannot execute 'C:\\Hello\\run.exe'");
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 4, main.end()),
            (Calls{"showMessage", "undoInstallation", "end", "undoTemporaryFiles"}));
  EXPECT_FALSE(run.log.contains("destroyProcessObjects"));
}

// ---- Failure handling

TEST_F(DriverTest, FailureInAPageIsShownOnTheFinishPage) {
  ScriptedRun run({});
  run.ui->failures["askDestination"] = [] { throw Error(1411, u"C:\\Fixed"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first,
            u"The destination folder for this package was fixed by vendor. The package can be "
            u"installed only to the \"C:\\Fixed\" folder.");
  EXPECT_FALSE(run.ui->results[0].second);
  EXPECT_TRUE(run.ui->boxes.empty());
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 5, main.end()),
            (Calls{"askDestination", "showResult", "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, FailureBeforeTheFrontEndBeganIsASevereErrorBox) {
  {
    ScriptedRun noPackage({"/batch"});
    noPackage.steps->failures["readPackage"] = [] { throw FatalError(1181); };
    EXPECT_EQ(noPackage.run(), 1);
    EXPECT_TRUE(noPackage.ui->results.empty());
    ASSERT_EQ(noPackage.ui->boxes.size(), 1u);
    EXPECT_EQ(noPackage.ui->boxes[0].caption, "Severe error");
    EXPECT_EQ(noPackage.ui->boxes[0].text, "Invalid or corrupted installation package");
    // No record, nothing to roll back.
    EXPECT_EQ(noPackage.log.main(), (Calls{"createProcessObjects", "readPackage", "showMessage"}));
  }

  ScriptedRun auxiliary({"/batch"});
  auxiliary.steps->failures["extractAuxiliaryFiles"] = [] { throw FatalError(1103, u"C:\\tmp\\x"); };
  EXPECT_EQ(auxiliary.run(), 1);
  ASSERT_EQ(auxiliary.ui->boxes.size(), 1u);
  EXPECT_EQ(auxiliary.ui->boxes[0].text, "Unable to write file C:\\tmp\\x");
  Calls main = auxiliary.log.main();
  EXPECT_EQ(Calls(main.end() - 4, main.end()),
            (Calls{"showMessage", "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, FailureWhileReportingIsShownInABoxAndRolledBackOnce) {
  ScriptedRun run({});
  run.ui->failures["askDestination"] = [] { throw FatalError(u"first"); };
  run.ui->failures["showResult"] = [] { throw FatalError(u"second"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].text, "second");
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 6, main.end()),
            (Calls{"askDestination", "showResult", "showMessage", "undoInstallation", "end",
                   "undoTemporaryFiles"}));
}

TEST_F(DriverTest, FailureWhileRollingBackIsShownInABoxAndRolledBackAgain) {
  ScriptedRun run({});
  run.ui->failures["askDestination"] = [] { throw FatalError(u"first"); };
  int undos = 0;
  run.steps->failures["undoInstallation"] = [&undos] {
    if (++undos == 1) throw FatalError(1266, u"C:\\Hello");
  };
  EXPECT_EQ(run.run(), 1);
  EXPECT_EQ(undos, 2);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"first");
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to delete directory C:\\Hello\r\n");
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 7, main.end()),
            (Calls{"askDestination", "showResult", "undoInstallation", "showMessage",
                   "undoInstallation", "end", "undoTemporaryFiles"}));
}

TEST_F(DriverTest, FailingRollbackAfterCancelIsHandledAsAFailure) {
  ScriptedRun run({});
  run.ui->answers["showSummary"] = {PageResult::Cancel};
  int undos = 0;
  run.steps->failures["undoInstallation"] = [&undos] {
    if (++undos == 1) throw FatalError(1266, u"C:\\Hello");
  };
  EXPECT_EQ(run.run(), 1);
  // Still active: the finish page shows it, then the rollback runs again.
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to delete directory C:\\Hello\r\n");
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 6, main.end()),
            (Calls{"showSummary", "undoInstallation", "showResult", "undoInstallation", "end",
                   "undoTemporaryFiles"}));
}

TEST_F(DriverTest, ThirdFailureIsWrittenAsUnrecoverable) {
  ScriptedRun run({});
  run.ui->failures["askDestination"] = [] { throw FatalError(u"first"); };
  run.ui->failures["showResult"] = [] { throw FatalError(u"second"); };
  run.ui->failures["showMessage"] = [] { throw FatalError(u"third"); };
  std::string text = RunCapturingStdout(run);
  EXPECT_EQ(text, "Unrecoverable error occured: third\n");
  // Failed reports do not leave the installation in place.
  Calls main = run.log.main();
  EXPECT_EQ(Calls(main.end() - 6, main.end()),
            (Calls{"askDestination", "showResult", "showMessage", "undoInstallation", "end",
                   "undoTemporaryFiles"}));
}

TEST_F(DriverTest, SecondRollbackFailingIsUnrecoverableToo) {
  ScriptedRun run({});
  run.ui->answers["askDestination"] = {PageResult::Cancel};
  run.steps->failures["undoTemporaryFiles"] = [] { throw FatalError(u"cannot remove the folder"); };
  EXPECT_EQ(RunCapturingStdout(run), "Unrecoverable error occured: cannot remove the folder\n");
  // The cancel's rollback ended the front end, so the failure and the failure
  // of the second rollback both come as boxes.
  ASSERT_EQ(run.ui->boxes.size(), 2u);
  EXPECT_EQ(run.ui->boxes[0].text, "cannot remove the folder");
  EXPECT_EQ(run.ui->boxes[1].text, "cannot remove the folder");
  Calls main = run.log.main();
  EXPECT_EQ(std::count(main.begin(), main.end(), "undoTemporaryFiles"), 3);
}

}  // namespace
}  // namespace corv

// The driver over a scripted front end and scripted installation steps on a
// sample record: start-up, the wizard walk, cancel, completion and failure
// handling, judged by what the record holds, what was installed or undone,
// the pages and messages shown and the exit code.
#include "kernel/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "scripted_frontend.h"
#include "test_support.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {
namespace {

using Pages = std::vector<std::string>;
using Installed = std::set<std::string>;

class DriverTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLanguage(); }
  void TearDown() override { ResetLanguage(); }
};

void AddShortcut(InstallRecord& r, ShortcutLocation location) {
  r.shortcuts.push_back({location, u"Hello", std::nullopt, 0, u"", u"hello.exe", u""});
}

void AddService(InstallRecord& r) {
  r.services.push_back({u"hello.exe", u"Hello", u"Hello service", ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, false, {}});
}

// A package on which every wizard step shows its page.
void ShowEveryStep(InstallRecord& r) {
  r.licenseText = u"Terms";
  r.defaultProgramFolder = u"Hello";
  AddShortcut(r, kLocationProgramFolder);
  AddShortcut(r, kLocationDesktop);
  r.noJre = 0;
  r.jre.version = u"1.4.2";
  r.associations = {{u"hel", u"Hello files", u"Hello.File", u"hello.exe", u"", true}};
  AddService(r);
}

// The failure an assertion of the driver reports on the finish page.
bool ReportsDriverAssertion(const ScriptedRun& run, size_t result) {
  return run.ui->results.size() > result && run.ui->results[result].first &&
         ToUtf8(*run.ui->results[result].first).rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0) == 0;
}

// Nothing of the installation is left: undone once, temporary folder gone.
void ExpectRolledBack(const ScriptedRun& run, int rollbacks = 1) {
  EXPECT_EQ(run.steps->rollbacks, rollbacks);
  EXPECT_TRUE(run.steps->installed.empty());
  EXPECT_FALSE(run.steps->tempFolder);
  EXPECT_FALSE(run.steps->undoneWhileExtracting);
  EXPECT_FALSE(run.steps->destroyed);
  EXPECT_FALSE(run.ui->isActive());
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

TEST_F(DriverTest, CompletedInstallationKeepsItsWorkAndEndsTheRun) {
  ScriptedRun run({"/batch"});
  const InstallInfo* current = nullptr;
  run.ui->hooks["showWelcome"] = [&] { current = InstallInfo::Current(); };
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(current, run.steps->info());
  EXPECT_EQ(run.info().frontEnd(), run.ui);
  EXPECT_EQ(run.info().installProfile(), kProfileCommon);  // an administrator, no shortcuts
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askDestination", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(run.steps->installed, (Installed{"files", "integration", "hooks", "install-run", "install.log"}));
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0], std::make_pair(OptString(), false));
  EXPECT_TRUE(run.ui->boxes.empty());
  EXPECT_EQ(run.steps->rollbacks, 0);
  EXPECT_FALSE(run.steps->tempFolder);
  EXPECT_TRUE(run.steps->destroyed);
  EXPECT_FALSE(run.steps->restarted);
  EXPECT_FALSE(run.ui->isActive());
}

TEST_F(DriverTest, HelpShowsTheUsageWithoutOpeningThePackage) {
  for (const char* help : {"/help", "-h", "/?", "/HELP"}) {
    ScriptedRun run({"/batch", help});
    EXPECT_EQ(run.run(), 1) << help;
    EXPECT_EQ(run.steps->info(), nullptr);
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
    EXPECT_EQ(run.steps->info(), nullptr);
    EXPECT_EQ(run.steps->rollbacks, 0);
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
    EXPECT_EQ(run.ui->boxes[0].text, c.text);
  }
}

TEST_F(DriverTest, MessagesComeInTheLanguageOfThePackage) {
  ScriptedRun run({"/batch"});
  run.steps->record.language = 5;  // German
  run.steps->interrupted = true;   // an interrupted installation is undone and told
  AddService(run.steps->record);
  run.steps->windowsNT = false;
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(CurrentLanguage().base, 2000);
  ASSERT_EQ(run.ui->boxes.size(), 2u);
  EXPECT_EQ(run.ui->boxes[0].caption, ToAnsi(LoadMessage(1401)));
  EXPECT_EQ(run.ui->boxes[0].text, ToAnsi(LoadMessage(1262)));
  EXPECT_EQ(run.ui->boxes[1].caption, ToAnsi(LoadMessage(1403)));
  EXPECT_EQ(run.ui->boxes[1].text, ToAnsi(LoadMessage(1141)));
  EXPECT_NE(run.ui->boxes[1].caption, "Warning");
}

TEST_F(DriverTest, RecordLanguageOutsideTheSettingsIsAnAssertion) {
  for (int setting : {0, 7}) {
    ScriptedRun run({"/batch"});
    run.steps->record.language = static_cast<uint8_t>(setting);
    EXPECT_EQ(run.run(), 1);
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(run.ui->boxes[0].text.rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0), 0u);
  }
}

TEST_F(DriverTest, TextsOutsideTheCodePageStopWith1056BeforeAnythingIsWritten) {
  ScriptedRun run({"/batch"});
  run.steps->record.packageName = XString(1, static_cast<XChar>(0xD800));  // a lone surrogate
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].text, ToAnsi(LoadMessage(1056)));
  EXPECT_TRUE(run.ui->pages.empty());
  ExpectRolledBack(run);
}

TEST_F(DriverTest, PreviousVersionQuestionCanStopTheRunBeforeAnythingIsWritten) {
  auto runWith = [](bool warn, OptString copy, int answer, uint8_t kind = kPackageInstallation) {
    auto run = std::make_unique<ScriptedRun>(std::vector<std::string>{"/batch"});
    run->steps->record.warnPreviousVersion = warn;
    run->steps->record.kind = kind;
    run->steps->installedCopy = copy;
    run->ui->previousVersionAnswer = answer;
    return run;
  };
  auto stopped = runWith(true, XString(u"C:\\Old"), kStop);
  EXPECT_EQ(stopped->run(), 1);
  EXPECT_TRUE(stopped->ui->previousVersionAsked);
  EXPECT_FALSE(stopped->steps->tempFolder);
  EXPECT_TRUE(stopped->ui->pages.empty());
  EXPECT_EQ(stopped->steps->rollbacks, 0);
  stopped.reset();  // one driver at a time

  auto proceeding = runWith(true, XString(u"C:\\Old"), kProceed);
  EXPECT_EQ(proceeding->run(), 0);
  EXPECT_TRUE(proceeding->ui->previousVersionAsked);
  proceeding.reset();

  auto noneFound = runWith(true, std::nullopt, kStop);
  EXPECT_EQ(noneFound->run(), 0);
  EXPECT_FALSE(noneFound->ui->previousVersionAsked);
  noneFound.reset();

  auto notAsked = runWith(false, XString(u"C:\\Old"), kStop);
  EXPECT_EQ(notAsked->run(), 0);
  EXPECT_FALSE(notAsked->ui->previousVersionAsked);
  notAsked.reset();

  // An update never looks for a previous version.
  auto update = runWith(true, XString(u"C:\\Old"), kStop, kPackageUpdate);
  EXPECT_EQ(update->run(), 0);
  EXPECT_FALSE(update->ui->previousVersionAsked);
  EXPECT_EQ(update->info().primaryLookup().candidateCount(), 0);
}

// ---- The wizard walk

TEST_F(DriverTest, BackSkipsTheSkippedStepsInBothDirections) {
  ScriptedRun run({});
  run.steps->record.licenseText = u"Terms";
  AddShortcut(run.steps->record, kLocationDesktop);
  // Steps 5 (JRE), 6 (program folder), 7 (associations) and 9 (services)
  // are skipped.
  run.ui->answers["askShortcuts"] = {PageResult::Back, PageResult::Next};
  run.ui->answers["askDestination"] = {PageResult::Next, PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askLicenseAgreement", "askInstallProfile", "askDestination",
                                  "askShortcuts", "askDestination", "askInstallProfile", "askDestination",
                                  "askShortcuts", "showSummary", "runProgress", "showResult"}));
}

TEST_F(DriverTest, BackFromTheJrePageOverTheSkippedProfileStep) {
  ScriptedRun run({});
  run.steps->record.noJre = 0;  // no shortcuts: the profile step sets common and is skipped
  run.ui->answers["askJre"] = {PageResult::Back, PageResult::Next};
  run.ui->answers["askDestination"] = {PageResult::Next, PageResult::Back, PageResult::Next};
  std::vector<int> profiles;
  run.ui->hooks["askDestination"] = [&] { profiles.push_back(run.info().installProfile()); };
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askDestination", "askJre", "askDestination", "showWelcome",
                                  "askDestination", "askJre", "showSummary", "runProgress", "showResult"}));
  // Passing the skipped step sets the profile whatever the direction.
  EXPECT_EQ(profiles, (std::vector<int>{kProfileCommon, kProfileCommon, kProfileCommon}));
}

TEST_F(DriverTest, BackFromTheSummaryPassesTheServiceWarningAgain) {
  ScriptedRun run({});
  AddService(run.steps->record);
  AddShortcut(run.steps->record, kLocationStartMenu);
  run.steps->windowsNT = false;
  run.ui->answers["showSummary"] = {PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askInstallProfile", "askDestination", "askShortcuts",
                                  "showSummary", "askShortcuts", "showSummary", "runProgress", "showResult"}));
  // Forward, back and forward again: three warnings, and no service.
  ASSERT_EQ(run.ui->boxes.size(), 3u);
  for (const Box& box : run.ui->boxes) {
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, "Unable to install Windows NT service:\n Windows NT/2000/XP system required");
  }
  EXPECT_EQ(run.steps->installed.count("services"), 0u);
}

TEST_F(DriverTest, ServicesNeedAnAdministrator) {
  ScriptedRun run({});
  AddService(run.steps->record);
  run.steps->administrator = false;
  EXPECT_EQ(run.run(), 0);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to install Windows NT service:\n Administrative privileges required");
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askDestination", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(run.steps->installed.count("services"), 0u);
  EXPECT_EQ(run.info().installProfile(), kProfilePersonal);
}

TEST_F(DriverTest, InstallProfileIsAskedOnlyOfAnAdministratorWithShortcuts) {
  ScriptedRun asked({});
  AddShortcut(asked.steps->record, kLocationStartup);
  asked.ui->hooks["askInstallProfile"] = [&] { asked.info().setInstallProfile(kProfilePersonal); };
  EXPECT_EQ(asked.run(), 0);
  EXPECT_EQ(asked.ui->pages[1], "askInstallProfile");
  EXPECT_EQ(asked.info().installProfile(), kProfilePersonal);
  asked.driver.reset();  // one driver at a time

  // An update takes the profile of the installation it updates, once its
  // location is chosen.
  ScriptedRun update({});
  update.steps->record.kind = kPackageUpdate;
  AddShortcut(update.steps->record, kLocationDesktop);
  update.steps->record.primaryName = u"Hello Base";
  EXPECT_EQ(update.run(), 0);
  EXPECT_EQ(update.ui->pages, (Pages{"showWelcome", "askUpdateLocation", "askShortcuts", "showSummary",
                                     "runProgress", "showResult"}));
  EXPECT_EQ(update.info().installProfile(), kProfilePersonal);
}

TEST_F(DriverTest, AnUpdateMayTakeTheJreOfItsPrimaryInstallation) {
  auto jreRun = [](uint8_t kind, OptString primaryJre) {
    auto run = std::make_unique<ScriptedRun>(std::vector<std::string>{});
    run->steps->record.kind = kind;
    run->steps->record.noJre = 0;
    run->steps->primaryJre = primaryJre;
    EXPECT_EQ(run->run(), 0);
    return run;
  };
  auto taken = jreRun(kPackageUpdate, XString(u"C:\\Java"));
  EXPECT_EQ(std::count(taken->ui->pages.begin(), taken->ui->pages.end(), "askJre"), 0);
  EXPECT_EQ(taken->info().jreFolder(), u"C:\\Java");
  EXPECT_TRUE(taken->info().jreFolderFromPrimary());
  taken.reset();  // one driver at a time

  auto notTaken = jreRun(kPackageUpdate, std::nullopt);
  EXPECT_EQ(notTaken->ui->pages[2], "askJre");
  EXPECT_EQ(notTaken->info().jreFolder(), std::nullopt);
  notTaken.reset();

  // A new installation always asks.
  auto installation = jreRun(kPackageInstallation, XString(u"C:\\Java"));
  EXPECT_EQ(installation->ui->pages[2], "askJre");
  EXPECT_EQ(installation->info().jreFolder(), std::nullopt);
}

TEST_F(DriverTest, ProgramFolderShortcutsNeedANamedProgramFolder) {
  ScriptedRun run({});
  AddShortcut(run.steps->record, kLocationProgramFolder);
  EXPECT_EQ(run.run(), 1);
  EXPECT_TRUE(ReportsDriverAssertion(run, 0));
  EXPECT_EQ(std::count(run.ui->pages.begin(), run.ui->pages.end(), "askProgramFolder"), 0);
  ExpectRolledBack(run);
}

TEST_F(DriverTest, EveryStepShowsItsPageInWizardOrder) {
  ScriptedRun run({});
  ShowEveryStep(run.steps->record);
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askLicenseAgreement", "askInstallProfile", "askDestination",
                                  "askJre", "askProgramFolder", "askFileAssociations", "askShortcuts",
                                  "askServiceAccounts", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(run.steps->installed,
            (Installed{"files", "integration", "services", "hooks", "install-run", "install.log"}));
}

TEST_F(DriverTest, CancelOnAnyStepRollsBackAndEndsWith1) {
  const char* const pages[] = {"showWelcome",         "askLicenseAgreement", "askInstallProfile",
                               "askDestination",      "askJre",              "askProgramFolder",
                               "askFileAssociations", "askShortcuts",        "askServiceAccounts",
                               "showSummary",         "runProgress",         "showResult"};
  for (const char* page : pages) {
    SCOPED_TRACE(page);
    ScriptedRun run({});
    ShowEveryStep(run.steps->record);
    // A cancel during the progress stops the extraction, which has ended
    // before the rollback.
    run.steps->extractionWaitsForAbort = std::string(page) != "showResult";
    run.ui->answers[page] = {PageResult::Cancel};
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.ui->pages.back(), page);
    EXPECT_TRUE(run.ui->boxes.empty());
    EXPECT_EQ(run.ui->results.size(), std::string(page) == "showResult" ? 1u : 0u);
    ExpectRolledBack(run);
  }

  ScriptedRun update({});
  update.steps->record.kind = kPackageUpdate;
  update.ui->answers["askUpdateLocation"] = {PageResult::Cancel};
  EXPECT_EQ(update.run(), 1);
  EXPECT_EQ(update.ui->pages, (Pages{"showWelcome", "askUpdateLocation"}));
  ExpectRolledBack(update);
  EXPECT_THROW(update.info().installProfile(), AssertionFailedError);  // not taken from the primary
}

TEST_F(DriverTest, PageResultsOutsideTheThreeAreAssertions) {
  for (const char* page : {"askDestination", "showWelcome", "showResult", "runProgress"}) {
    SCOPED_TRACE(page);
    ScriptedRun run({});
    run.steps->extractionWaitsForAbort = std::string(page) == "runProgress";
    // No step comes before the first, the finish page has no Back, and the
    // progress knows no Back either.
    run.ui->answers[page] = {std::string(page) == "askDestination" ? static_cast<PageResult>(0) : PageResult::Back};
    EXPECT_EQ(run.run(), 1);
    EXPECT_TRUE(ReportsDriverAssertion(run, std::string(page) == "showResult" ? 1 : 0));
    ExpectRolledBack(run);
  }
}

// ---- The installation proper

TEST_F(DriverTest, WorkerStepsFollowTheRecordAndTheOptions) {
  ScriptedRun run({});
  ShowEveryStep(run.steps->record);
  run.steps->record.bindExecutables = true;
  run.steps->record.pathEntry = u"bin";
  EXPECT_EQ(run.run(), 0);
  const std::string path = "PATH " + ToUtf8(FileSys::MakeAbsolutePath(u"bin", run.info().destination()->widePath()));
  EXPECT_EQ(run.steps->installed, (Installed{"files", "bound", "integration", "services", path, "hooks",
                                             "install-run", "install.log"}));
  run.driver.reset();  // one driver at a time

  ScriptedRun noReg({"/no-reg"});
  ShowEveryStep(noReg.steps->record);
  noReg.steps->record.pathEntry = u"bin";
  EXPECT_EQ(noReg.run(), 0);
  EXPECT_EQ(noReg.steps->installed, (Installed{"files", "hooks", "install-run", "install.log"}));
}

TEST_F(DriverTest, PathThatCannotBeChangedIsAWarningAndTheInstallationGoesOn) {
  ScriptedRun run({});
  run.steps->record.pathEntry = u"bin";
  run.steps->pathAdded = false;
  EXPECT_EQ(run.run(), 0);
  const std::string folder = ToAnsi(FileSys::MakeAbsolutePath(u"bin", run.info().destination()->widePath()));
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Warning");
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to add '" + folder + "' to PATH environment variable");
  EXPECT_EQ(run.steps->installed, (Installed{"files", "integration", "hooks", "install-run", "install.log"}));
}

TEST_F(DriverTest, WorkerFailureWakesTheProgressAndIsReportedOnTheFinishPage) {
  ScriptedRun run({});
  run.steps->hooks["integration"] = [] { throw FatalError(1122, u"Software\\Hello"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to create product key Software\\Hello in registry");
  EXPECT_FALSE(run.ui->results[0].second);
  ExpectRolledBack(run);
}

TEST_F(DriverTest, OutOfMemoryAndForeignExceptionsOnEitherThreadEndLikeAnyFailure) {
  // On the worker: reported on the finish page, rolled back, exit code 1.
  ScriptedRun worker({});
  worker.steps->hooks["integration"] = [] { throw std::bad_alloc(); };
  EXPECT_EQ(worker.run(), 1);
  ASSERT_EQ(worker.ui->results.size(), 1u);
  EXPECT_EQ(worker.ui->results[0].first, u"Out of memory error");
  ExpectRolledBack(worker);
  worker.driver.reset();  // one driver at a time

  // On the main thread, before the front end began: a severe-error box.
  ScriptedRun early({"/batch"});
  early.steps->hooks["extractAuxiliaryFiles"] = [] { throw std::runtime_error("library failure"); };
  EXPECT_EQ(early.run(), 1);
  ASSERT_EQ(early.ui->boxes.size(), 1u);
  EXPECT_EQ(early.ui->boxes[0].text.rfind("ASSERT: file ..\\src\\kernel\\driver.cpp, line ", 0), 0u)
      << early.ui->boxes[0].text;
  ExpectRolledBack(early);
}

TEST_F(DriverTest, WorkerFailureAfterCancelIsReportedAsAFailure) {
  ScriptedRun run({});
  run.ui->answers["runProgress"] = {PageResult::Cancel};
  run.steps->extractionWaitsForAbort = true;
  run.steps->hooks["extraction aborted"] = [] { throw FatalError(1102, u"C:\\setup.exe"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to read file C:\\setup.exe");
  ExpectRolledBack(run);
}

TEST_F(DriverTest, FailingProgressDisplayStopsAndJoinsTheWorkerBeforeTheRollback) {
  ScriptedRun run({});
  run.steps->extractionWaitsForAbort = true;
  run.ui->hooks["runProgress"] = [] { throw FatalError(u"the progress page failed"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"the progress page failed");
  ExpectRolledBack(run);
}

// ---- Completion

TEST_F(DriverTest, CompletionStartsTheAfterRunProgramUnlessARestartIsPendingOrRefused) {
  auto afterRun = [](std::vector<std::string> args) {
    auto run = std::make_unique<ScriptedRun>(std::move(args));
    run->steps->record.afterRunProgram = u"hello.exe";
    run->steps->record.afterRunArguments = u"";
    return run;
  };
  auto started = afterRun({});
  EXPECT_EQ(started->run(), 0);
  EXPECT_TRUE(started->steps->afterRunStarted);
  EXPECT_FALSE(started->steps->restarted);
  started.reset();  // one driver at a time

  auto refused = afterRun({"/no-aftrun"});
  EXPECT_EQ(refused->run(), 0);
  EXPECT_FALSE(refused->steps->afterRunStarted);
  refused.reset();

  // A change that needs a restart reaches the finish page; its restart
  // choice decides.
  for (bool restartNow : {true, false}) {
    auto reboot = afterRun({});
    reboot->ui->hooks["runProgress"] = [&] { reboot->info().setRebootRequired(true); };
    reboot->ui->hooks["showResult"] = [&] { reboot->info().setRebootRequired(restartNow); };
    EXPECT_EQ(reboot->run(), 0);
    EXPECT_TRUE(reboot->ui->results.at(0).second);
    EXPECT_EQ(reboot->steps->restarted, restartNow);
    EXPECT_EQ(reboot->steps->afterRunStarted, !restartNow);
    EXPECT_TRUE(reboot->steps->destroyed);
  }
}

TEST_F(DriverTest, FailureAfterEndComesThroughAMessageBoxAndRollsBack) {
  ScriptedRun run({});
  run.steps->record.afterRunProgram = u"run.exe";
  run.steps->record.afterRunArguments = u"";
  run.steps->hooks["startAfterRunProgram"] = [] { throw FatalError(1084, u"C:\\Hello\\run.exe"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].style, 0x10u);
  EXPECT_EQ(run.ui->boxes[0].text, "Cannot execute 'C:\\Hello\\run.exe'");
  ExpectRolledBack(run);
}

// ---- Failure handling

TEST_F(DriverTest, FailureInAPageIsShownOnTheFinishPage) {
  ScriptedRun run({});
  run.ui->hooks["askDestination"] = [] { throw Error(1411, u"C:\\Fixed"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first,
            u"The destination folder for this package was fixed by vendor. The package can be "
            u"installed only to the \"C:\\Fixed\" folder.");
  EXPECT_FALSE(run.ui->results[0].second);
  EXPECT_TRUE(run.ui->boxes.empty());
  ExpectRolledBack(run);
}

TEST_F(DriverTest, FailureBeforeTheFrontEndBeganIsASevereErrorBox) {
  ScriptedRun noPackage({"/batch"});
  noPackage.steps->hooks["readPackage"] = [] { throw FatalError(1181); };
  EXPECT_EQ(noPackage.run(), 1);
  EXPECT_TRUE(noPackage.ui->results.empty());
  ASSERT_EQ(noPackage.ui->boxes.size(), 1u);
  EXPECT_EQ(noPackage.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(noPackage.ui->boxes[0].text, "Invalid or corrupted installation package");
  EXPECT_EQ(noPackage.steps->rollbacks, 0);  // no record, nothing to roll back
  noPackage.driver.reset();  // one driver at a time

  ScriptedRun auxiliary({"/batch"});
  auxiliary.steps->hooks["extractAuxiliaryFiles"] = [] { throw FatalError(1103, u"C:\\tmp\\x"); };
  EXPECT_EQ(auxiliary.run(), 1);
  ASSERT_EQ(auxiliary.ui->boxes.size(), 1u);
  EXPECT_EQ(auxiliary.ui->boxes[0].text, "Unable to write file C:\\tmp\\x");
  ExpectRolledBack(auxiliary);
}

TEST_F(DriverTest, FailureWhileReportingIsShownInABoxAndRolledBackOnce) {
  ScriptedRun run({});
  run.ui->hooks["askDestination"] = [] { throw FatalError(u"first"); };
  run.ui->hooks["showResult"] = [] { throw FatalError(u"second"); };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].text, "second");
  ExpectRolledBack(run);
}

TEST_F(DriverTest, FailureWhileRollingBackIsShownInABoxAndRolledBackAgain) {
  ScriptedRun run({});
  run.ui->hooks["askDestination"] = [] { throw FatalError(u"first"); };
  run.steps->hooks["undoInstallation"] = [&] {
    if (run.steps->rollbacks == 1) throw FatalError(1266, u"C:\\Hello");
  };
  EXPECT_EQ(run.run(), 1);
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"first");
  ASSERT_EQ(run.ui->boxes.size(), 1u);
  EXPECT_EQ(run.ui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.ui->boxes[0].text, "Unable to delete directory C:\\Hello\r\n");
  ExpectRolledBack(run, 2);
}

TEST_F(DriverTest, FailingRollbackAfterCancelIsHandledAsAFailure) {
  ScriptedRun run({});
  run.ui->answers["showSummary"] = {PageResult::Cancel};
  run.steps->hooks["undoInstallation"] = [&] {
    if (run.steps->rollbacks == 1) throw FatalError(1266, u"C:\\Hello");
  };
  EXPECT_EQ(run.run(), 1);
  // Still active: the finish page shows it, then the rollback runs again.
  ASSERT_EQ(run.ui->results.size(), 1u);
  EXPECT_EQ(run.ui->results[0].first, u"Unable to delete directory C:\\Hello\r\n");
  ExpectRolledBack(run, 2);
}

TEST_F(DriverTest, ThirdFailureIsWrittenAsUnrecoverable) {
  ScriptedRun run({});
  run.ui->hooks["askDestination"] = [] { throw FatalError(u"first"); };
  run.ui->hooks["showResult"] = [] { throw FatalError(u"second"); };
  run.ui->hooks["showMessage"] = [] { throw FatalError(u"third"); };
  EXPECT_EQ(RunCapturingStdout(run), "Unrecoverable error occured: third\n");
  // Failed reports do not leave the installation in place.
  ExpectRolledBack(run);
}

TEST_F(DriverTest, SecondRollbackFailingIsUnrecoverableToo) {
  ScriptedRun run({});
  run.ui->answers["askDestination"] = {PageResult::Cancel};
  int removals = 0;
  run.steps->hooks["undoTemporaryFiles"] = [&] {
    ++removals;
    throw FatalError(u"cannot remove the folder");
  };
  EXPECT_EQ(RunCapturingStdout(run), "Unrecoverable error occured: cannot remove the folder\n");
  // The cancel's rollback ended the front end, so the failure and the failure
  // of the second rollback both come as boxes.
  ASSERT_EQ(run.ui->boxes.size(), 2u);
  EXPECT_EQ(run.ui->boxes[0].text, "cannot remove the folder");
  EXPECT_EQ(run.ui->boxes[1].text, "cannot remove the folder");
  EXPECT_EQ(removals, 3);
  EXPECT_EQ(run.steps->rollbacks, 3);
}

}  // namespace
}  // namespace corv

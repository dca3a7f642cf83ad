// The driver over a scripted front end and scripted installation steps on a
// sample record: start-up, the wizard walk, cancel, completion and failure
// handling, judged by what the record holds, what was installed or undone,
// the pages and messages shown and the exit code.
#include "kernel/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
using Prepare = std::function<void(ScriptedRun&)>;

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

// The pages of a package on which every wizard step shows its page.
const Pages kEveryPage = {"showWelcome",         "askLicenseAgreement", "askInstallProfile",  "askDestination",
                          "askJre",              "askProgramFolder",    "askFileAssociations", "askShortcuts",
                          "askServiceAccounts",  "showSummary",         "runProgress",         "showResult"};

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

// The failure an assertion of the driver reports; `expected` ending in it
// stands for any line.
const std::string kDriverAssertion = "ASSERT: file ..\\src\\kernel\\driver.cpp, line ";

bool TextMatches(const std::string& text, const std::string& expected) {
  const size_t n = kDriverAssertion.size();
  const bool anyLine = expected.size() >= n && expected.compare(expected.size() - n, n, kDriverAssertion) == 0;
  return anyLine ? text.rfind(expected, 0) == 0 : text == expected;
}

// The boxes shown, each as "caption|text".
std::vector<std::string> Boxes(const ScriptedRun& run) {
  std::vector<std::string> boxes;
  for (const Box& box : run.ui->boxes) boxes.push_back(box.caption + "|" + box.text);
  return boxes;
}

// A step or a page of the front end that throws `e`.
template <typename E>
Prepare StepFails(const char* step, E e) {
  return [=](ScriptedRun& r) { r.steps->hooks[step] = [=] { throw e; }; };
}
template <typename E>
Prepare PageFails(const char* page, E e) {
  return [=](ScriptedRun& r) { r.ui->hooks[page] = [=] { throw e; }; };
}

// What the run showed: each finish page as "finish page|failure", then
// each box as "caption|text".
std::vector<std::string> Shown(const ScriptedRun& run) {
  std::vector<std::string> shown;
  for (const auto& [failure, restart] : run.ui->results) {
    shown.push_back("finish page|" + (failure ? ToUtf8(*failure) : "") + (restart ? "|restart" : ""));
  }
  for (const std::string& box : Boxes(run)) shown.push_back(box);
  return shown;
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
  CapturedStdout out;
  int code = run.run();
  std::string text = out.take();
  if (code != 1) text += "(exit code " + std::to_string(code) + ")";
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

// ---- Construction and start-up

TEST_F(DriverTest, StartUpChoosesTheFrontEndAndRefusesBadCommandLinesBeforeThePackage) {
  EXPECT_EQ(ScriptedRun({"/batch"}).kind, FrontEndKind::Text);
  EXPECT_EQ(ScriptedRun({"-BATCH", "/dest", "C:\\x"}).kind, FrontEndKind::Text);
  EXPECT_EQ(ScriptedRun({}).kind, FrontEndKind::Gui);
  EXPECT_EQ(ScriptedRun({"/gui"}).kind, FrontEndKind::Gui);
  EXPECT_EQ(ScriptedRun({"/dest", "/batch"}).kind, FrontEndKind::Gui);  // a value is never a mode option
  // A second mode option fails before any front end and leaves no options.
  try {
    ScriptedRun run({"/batch", "/gui"});
    ADD_FAILURE() << "no assertion";
  } catch (const AssertionFailedError& e) {
    EXPECT_EQ(e.message(), u"ASSERT: file ..\\src\\kernel\\options.cpp, line 141");
  }

  const std::string usage = "Information|Usage of setup.exe\n\n/gui - GUI installation wizard";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/batch", "/help"}, usage}, {{"/batch", "-h"}, usage}, {{"/batch", "/?"}, usage}, {{"/batch", "/HELP"}, usage},
      {{"/batch", "/bogus"}, "Severe error|Unknown option /bogus\n"},
      {{"/batch", "/dest"}, "Severe error|Value of the option '/dest' was not specified"},
      {{"/batch", "/help", "/bogus"}, "Severe error|Unknown option /bogus\n"},  // the full parse comes first
  };
  for (const auto& [args, box] : cases) {
    SCOPED_TRACE(args.back());
    ScriptedRun run(args);
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.steps->info(), nullptr);  // the package is never opened
    EXPECT_EQ(run.steps->rollbacks, 0);
    ASSERT_EQ(run.ui->boxes.size(), 1u);
    EXPECT_EQ(Boxes(run)[0].rfind(box, 0), 0u) << Boxes(run)[0];
    if (box != usage) {
      EXPECT_EQ(Boxes(run)[0], box);
    }
  }
}

TEST_F(DriverTest, CompletedInstallationKeepsItsWorkAndEndsTheRun) {
  ScriptedRun run({"/batch"});
  const InstallInfo* current = nullptr;
  run.ui->hooks["showWelcome"] = [&] { current = InstallInfo::Current(); };
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(current, run.steps->info());
  EXPECT_EQ(run.info().frontEnd(), run.ui);
  EXPECT_EQ(run.info().choices().installProfile(), kProfileCommon);  // an administrator, no shortcuts
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askDestination", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(run.steps->installed, (Installed{"files", "integration", "hooks", "install-run", "install.log"}));
  EXPECT_EQ(run.ui->results, (std::vector<std::pair<OptString, bool>>{{OptString(), false}}));
  EXPECT_TRUE(run.ui->boxes.empty());
  EXPECT_EQ(run.steps->rollbacks, 0);
  EXPECT_FALSE(run.steps->tempFolder);
  EXPECT_TRUE(run.steps->destroyed);
  EXPECT_FALSE(run.steps->restarted);
  EXPECT_FALSE(run.ui->isActive());
}

TEST_F(DriverTest, MessagesComeInTheLanguageOfThePackage) {
  ScriptedRun run({"/batch"});
  run.steps->record.language = kLanguageGerman;
  run.steps->interrupted = true;   // an interrupted installation is undone and told
  AddService(run.steps->record);
  run.steps->windowsNT = false;
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(CurrentLanguage().base, 2000);
  EXPECT_EQ(Boxes(run), (std::vector<std::string>{ToAnsi(LoadMessage(1401)) + "|" + ToAnsi(LoadMessage(1262)),
                                                  ToAnsi(LoadMessage(1403)) + "|" + ToAnsi(LoadMessage(1141))}));
  EXPECT_NE(run.ui->boxes.at(1).caption, "Warning");
}

TEST_F(DriverTest, PreviousVersionQuestionCanStopTheRunBeforeAnythingIsWritten) {
  const struct {
    bool warn;
    OptString copy;
    PreviousVersionAnswer answer;
    int kind, code;
    bool asked;
  } cases[] = {
      {true, XString(u"C:\\Old"), PreviousVersionAnswer::Stop, kPackageInstallation, 1, true},
      {true, XString(u"C:\\Old"), PreviousVersionAnswer::Proceed, kPackageInstallation, 0, true},
      {true, std::nullopt, PreviousVersionAnswer::Stop, kPackageInstallation, 0, false},          // none found
      {false, XString(u"C:\\Old"), PreviousVersionAnswer::Stop, kPackageInstallation, 0, false},  // not asked for
      {true, XString(u"C:\\Old"), PreviousVersionAnswer::Stop, kPackageUpdate, 0, false},         // an update never looks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.warn << " " << c.copy.has_value() << " " << int(c.answer) << " " << c.kind);
    ScriptedRun run({"/batch"});
    run.steps->record.warnPreviousVersion = c.warn;
    run.steps->record.kind = static_cast<PackageKind>(c.kind);
    run.steps->installedCopy = c.copy;
    run.ui->previousVersionAnswer = c.answer;
    EXPECT_EQ(run.run(), c.code);
    EXPECT_EQ(run.ui->previousVersionAsked, c.asked);
    if (c.code == 1) {
      EXPECT_FALSE(run.steps->tempFolder);
      EXPECT_TRUE(run.ui->pages.empty());
      EXPECT_EQ(run.steps->rollbacks, 0);
    }
    if (c.kind == kPackageUpdate) {
      EXPECT_EQ(run.info().primaryLookup().candidateCount(), 0);
    }
  }
}

// ---- The wizard walk

TEST_F(DriverTest, EveryStepShowsItsPageInWizardOrder) {
  ScriptedRun run({});
  ShowEveryStep(run.steps->record);
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, kEveryPage);
  EXPECT_EQ(run.steps->installed,
            (Installed{"files", "integration", "services", "hooks", "install-run", "install.log"}));
}

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

TEST_F(DriverTest, ServicesNeedWindowsNTAndAnAdministrator) {
  const std::string warning = "Warning|Unable to install Windows NT service:\n ";
  ScriptedRun run({});
  AddService(run.steps->record);
  AddShortcut(run.steps->record, kLocationStartMenu);
  run.steps->windowsNT = false;
  run.ui->answers["showSummary"] = {PageResult::Back, PageResult::Next};
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askInstallProfile", "askDestination", "askShortcuts",
                                  "showSummary", "askShortcuts", "showSummary", "runProgress", "showResult"}));
  // Forward, back from the summary and forward again: three warnings, and no service.
  EXPECT_EQ(Boxes(run), std::vector<std::string>(3, warning + "Windows NT/2000/XP system required"));
  EXPECT_EQ(run.steps->installed.count("services"), 0u);
  run.driver.reset();  // one driver at a time

  ScriptedRun user({});
  AddService(user.steps->record);
  user.steps->administrator = false;
  EXPECT_EQ(user.run(), 0);
  EXPECT_EQ(Boxes(user), std::vector<std::string>{warning + "Administrative privileges required"});
  EXPECT_EQ(user.ui->pages, (Pages{"showWelcome", "askDestination", "showSummary", "runProgress", "showResult"}));
  EXPECT_EQ(user.steps->installed.count("services"), 0u);
  EXPECT_EQ(user.info().choices().installProfile(), kProfilePersonal);
}

TEST_F(DriverTest, BackFromTheJrePageOverTheSkippedProfileStep) {
  ScriptedRun run({});
  run.steps->record.noJre = 0;  // no shortcuts: the profile step sets common and is skipped
  run.ui->answers["askJre"] = {PageResult::Back, PageResult::Next};
  run.ui->answers["askDestination"] = {PageResult::Next, PageResult::Back, PageResult::Next};
  std::vector<int> profiles;
  run.ui->hooks["askDestination"] = [&] { profiles.push_back(run.info().choices().installProfile()); };
  EXPECT_EQ(run.run(), 0);
  EXPECT_EQ(run.ui->pages, (Pages{"showWelcome", "askDestination", "askJre", "askDestination", "showWelcome",
                                  "askDestination", "askJre", "showSummary", "runProgress", "showResult"}));
  // Passing the skipped step sets the profile whatever the direction.
  EXPECT_EQ(profiles, (std::vector<int>{kProfileCommon, kProfileCommon, kProfileCommon}));
}

TEST_F(DriverTest, InstallProfileIsAskedOnlyOfAnAdministratorWithShortcuts) {
  {
    ScriptedRun asked({});
    AddShortcut(asked.steps->record, kLocationStartup);
    asked.ui->hooks["askInstallProfile"] = [&] { asked.info().choices().setInstallProfile(kProfilePersonal); };
    EXPECT_EQ(asked.run(), 0);
    EXPECT_EQ(asked.ui->pages[1], "askInstallProfile");
    EXPECT_EQ(asked.info().choices().installProfile(), kProfilePersonal);
  }
  // An update takes the profile of the installation it updates, once its
  // location is chosen.
  ScriptedRun update({});
  update.steps->record.kind = kPackageUpdate;
  AddShortcut(update.steps->record, kLocationDesktop);
  update.steps->record.primaryName = u"Hello Base";
  EXPECT_EQ(update.run(), 0);
  EXPECT_EQ(update.ui->pages, (Pages{"showWelcome", "askUpdateLocation", "askShortcuts", "showSummary",
                                     "runProgress", "showResult"}));
  EXPECT_EQ(update.info().choices().installProfile(), kProfilePersonal);
}

TEST_F(DriverTest, AnUpdateMayTakeTheJreOfItsPrimaryInstallation) {
  // A new installation always asks.
  for (const auto& [kind, primaryJre] : {std::make_pair(kPackageUpdate, OptString(u"C:\\Java")),
                                         std::make_pair(kPackageUpdate, OptString()),
                                         std::make_pair(kPackageInstallation, OptString(u"C:\\Java"))}) {
    const bool taken = kind == kPackageUpdate && primaryJre;
    SCOPED_TRACE(testing::Message() << int(kind) << " " << taken);
    ScriptedRun run({});
    run.steps->record.kind = kind;
    run.steps->record.noJre = 0;
    run.steps->primaryJre = primaryJre;
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(std::count(run.ui->pages.begin(), run.ui->pages.end(), "askJre"), taken ? 0 : 1);
    if (!taken) {
      EXPECT_EQ(run.ui->pages[2], "askJre");
    }
    EXPECT_EQ(run.info().choices().jreFolder, taken ? primaryJre : std::nullopt);
    if (taken) {
      EXPECT_TRUE(run.info().choices().jreFolderFromPrimary);
    }
  }
}

TEST_F(DriverTest, CancelOnAnyStepRollsBackAndEndsWith1) {
  for (const std::string& page : kEveryPage) {
    SCOPED_TRACE(page);
    ScriptedRun run({});
    ShowEveryStep(run.steps->record);
    // A cancel during the progress stops the extraction, which has ended
    // before the rollback.
    run.steps->extractionWaitsForAbort = page != "showResult";
    run.ui->answers[page] = {PageResult::Cancel};
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.ui->pages.back(), page);
    EXPECT_TRUE(run.ui->boxes.empty());
    EXPECT_EQ(run.ui->results.size(), page == "showResult" ? 1u : 0u);
    ExpectRolledBack(run);
  }

  ScriptedRun update({});
  update.steps->record.kind = kPackageUpdate;
  update.ui->answers["askUpdateLocation"] = {PageResult::Cancel};
  EXPECT_EQ(update.run(), 1);
  EXPECT_EQ(update.ui->pages, (Pages{"showWelcome", "askUpdateLocation"}));
  ExpectRolledBack(update);
  EXPECT_THROW(update.info().choices().installProfile(), AssertionFailedError);  // not taken from the primary
}

// ---- The installation proper

TEST_F(DriverTest, WorkerStepsFollowTheRecordAndTheOptions) {
  for (bool noReg : {false, true}) {
    ScriptedRun run(noReg ? std::vector<std::string>{"/no-reg"} : std::vector<std::string>{});
    ShowEveryStep(run.steps->record);
    run.steps->record.bindExecutables = !noReg;
    run.steps->record.pathEntry = u"bin";
    EXPECT_EQ(run.run(), 0);
    const std::string path =
        "PATH " + ToUtf8(FileSys::MakeAbsolutePath(u"bin", run.info().choices().destination->widePath()));
    EXPECT_EQ(run.steps->installed, (noReg ? Installed{"files", "hooks", "install-run", "install.log"}
                                           : Installed{"files", "bound", "integration", "services", path, "hooks",
                                                       "install-run", "install.log"}));
  }
  // A PATH that cannot be changed is a warning, and the installation goes on.
  ScriptedRun run({});
  run.steps->record.pathEntry = u"bin";
  run.steps->pathAdded = false;
  EXPECT_EQ(run.run(), 0);
  const std::string folder = ToAnsi(FileSys::MakeAbsolutePath(u"bin", run.info().choices().destination->widePath()));
  EXPECT_EQ(Boxes(run),
            std::vector<std::string>{"Warning|Unable to add '" + folder + "' to PATH environment variable"});
  EXPECT_EQ(run.steps->installed, (Installed{"files", "integration", "hooks", "install-run", "install.log"}));
}

// ---- Completion

TEST_F(DriverTest, CompletionStartsTheAfterRunProgramUnlessARestartIsPendingOrRefused) {
  // A change that needs a restart reaches the finish page; its restart
  // choice decides.
  const struct {
    bool refused, rebootNeeded, restartNow;
  } cases[] = {{false, false, false}, {true, false, false}, {false, true, true}, {false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.refused << c.rebootNeeded << c.restartNow);
    ScriptedRun run(c.refused ? std::vector<std::string>{"/no-aftrun"} : std::vector<std::string>{});
    run.steps->record.afterRunProgram = u"hello.exe";
    run.steps->record.afterRunArguments = u"";
    if (c.rebootNeeded) {
      run.ui->hooks["runProgress"] = [&] { run.info().choices().rebootRequired = true; };
      run.ui->hooks["showResult"] = [&] { run.info().choices().rebootRequired = c.restartNow; };
    }
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.ui->results.at(0).second, c.rebootNeeded);
    EXPECT_EQ(run.steps->restarted, c.restartNow);
    EXPECT_EQ(run.steps->afterRunStarted, !c.refused && !c.restartNow);
    EXPECT_TRUE(run.steps->destroyed);
  }
}

// ---- Failure handling

// Every failure ends with exit code 1 and the installation rolled back; it
// is shown on the finish page once the front end began, else in a box.
TEST_F(DriverTest, FailuresAreShownWhereTheRunStandsAndRolledBack) {
  const std::string severe = "Severe error|", finish = "finish page|", assertion = severe + kDriverAssertion;
  const Prepare undoFailsOnce = [](ScriptedRun& r) {
    r.steps->hooks["undoInstallation"] = [&r] {
      if (r.steps->rollbacks == 1) throw FatalError(1266, u"C:\\Hello");
    };
  };
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<Prepare> setup;
    std::vector<std::string> shown;
    int rollbacks;
  } cases[] = {
      {"package unreadable", {"/batch"}, {StepFails("readPackage", FatalError(1181))},
       {severe + "Invalid or corrupted installation package"}, 0},  // no record, nothing to roll back
      {"auxiliary files", {"/batch"}, {StepFails("extractAuxiliaryFiles", FatalError(1103, u"C:\\tmp\\x"))},
       {severe + "Unable to write file C:\\tmp\\x"}, 1},
      {"foreign exception", {"/batch"}, {StepFails("extractAuxiliaryFiles", std::runtime_error("library"))},
       {assertion}, 1},
      {"language 0", {"/batch"}, {[](ScriptedRun& r) { r.steps->record.language = LanguageCode(0); }}, {assertion}, 1},
      {"language 7", {"/batch"}, {[](ScriptedRun& r) { r.steps->record.language = LanguageCode(7); }}, {assertion}, 1},
      {"text outside the code page", {"/batch"},
       {[](ScriptedRun& r) { r.steps->record.packageName = XString(1, static_cast<XChar>(0xD800)); }},
       {severe + ToAnsi(LoadMessage(1056))}, 1},
      {"failure in a page", {}, {PageFails("askDestination", Error(1411, u"C:\\Fixed"))},
       {finish + "The destination folder for this package was fixed by vendor. The package can be installed only "
                 "to the \"C:\\Fixed\" folder."}, 1},
      {"program folder shortcut without a named program folder", {},
       {[](ScriptedRun& r) { AddShortcut(r.steps->record, kLocationProgramFolder); }}, {finish + kDriverAssertion}, 1},
      {"worker failure wakes the progress", {}, {StepFails("integration", FatalError(1122, u"Software\\Hello"))},
       {finish + "Unable to create product key Software\\Hello in registry"}, 1},
      {"out of memory on the worker", {}, {StepFails("integration", std::bad_alloc())},
       {finish + "Out of memory error"}, 1},
      {"worker failure after cancel", {},
       {StepFails("extraction aborted", FatalError(1102, u"C:\\setup.exe")), [](ScriptedRun& r) {
          r.ui->answers["runProgress"] = {PageResult::Cancel};
          r.steps->extractionWaitsForAbort = true;
        }},
       {finish + "Unable to read file C:\\setup.exe"}, 1},
      {"failing progress display stops and joins the worker", {},
       {PageFails("runProgress", FatalError(u"the progress page failed")),
        [](ScriptedRun& r) { r.steps->extractionWaitsForAbort = true; }},
       {finish + "the progress page failed"}, 1},
      // The log is written before anything says the installation succeeded.
      {"install.log cannot be written", {}, {StepFails("install.log", FatalError(1103, u"C:\\Hello\\install.log"))},
       {finish + "Unable to write file C:\\Hello\\install.log"}, 1},
      {"failure after the end", {},
       {StepFails("startAfterRunProgram", FatalError(1084, u"C:\\Hello\\run.exe")),
        [](ScriptedRun& r) {
          r.steps->record.afterRunProgram = u"run.exe";
          r.steps->record.afterRunArguments = u"";
        }},
       {finish, severe + "Cannot execute 'C:\\Hello\\run.exe'"}, 1},
      {"failure while reporting", {},
       {PageFails("askDestination", FatalError(u"first")), PageFails("showResult", FatalError(u"second"))},
       {finish + "first", severe + "second"}, 1},
      {"failure while rolling back is rolled back again", {},
       {PageFails("askDestination", FatalError(u"first")), undoFailsOnce},
       {finish + "first", severe + "Unable to delete directory C:\\Hello\r\n"}, 2},
      // Still active after the cancel: the finish page shows it.
      {"failing rollback after cancel", {},
       {undoFailsOnce, [](ScriptedRun& r) { r.ui->answers["showSummary"] = {PageResult::Cancel}; }},
       {finish + "Unable to delete directory C:\\Hello\r\n"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRun run(c.args);
    for (const Prepare& setup : c.setup) setup(run);
    EXPECT_EQ(run.run(), 1);
    const std::vector<std::string> shown = Shown(run);
    EXPECT_EQ(shown.size(), c.shown.size()) << testing::PrintToString(shown);
    for (size_t i = 0; i < std::min(shown.size(), c.shown.size()); ++i) {
      EXPECT_TRUE(TextMatches(shown[i], c.shown[i])) << shown[i];
    }
    for (const Box& box : run.ui->boxes) EXPECT_EQ(box.style, 0x10u);
    if (c.rollbacks == 0) {
      EXPECT_EQ(run.steps->rollbacks, 0);
    } else {
      ExpectRolledBack(run, c.rollbacks);
    }
    // Nothing is shown past a failure that comes before the wizard.
    EXPECT_TRUE(c.args.empty() || run.ui->pages.empty()) << testing::PrintToString(run.ui->pages);
    EXPECT_EQ(std::count(run.ui->pages.begin(), run.ui->pages.end(), "askProgramFolder"), 0);
  }
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
    const std::vector<std::string> shown = Shown(run);
    ASSERT_EQ(shown.size(), std::string(page) == "showResult" ? 2u : 1u);
    EXPECT_TRUE(TextMatches(shown.back(), "finish page|" + kDriverAssertion)) << shown.back();
    ExpectRolledBack(run);
  }
}

TEST_F(DriverTest, FailuresOfTheFailureHandlingAreWrittenAsUnrecoverable) {
  {
    ScriptedRun run({});
    run.ui->hooks["askDestination"] = [] { throw FatalError(u"first"); };
    run.ui->hooks["showResult"] = [] { throw FatalError(u"second"); };
    run.ui->hooks["showMessage"] = [] { throw FatalError(u"third"); };
    EXPECT_EQ(RunCapturingStdout(run), "Unrecoverable error occured: third\n");
    ExpectRolledBack(run);  // failed reports do not leave the installation in place
  }
  // A second rollback failing is unrecoverable too. The cancel's rollback
  // ended the front end, so the failure and the failure of the second
  // rollback both come as boxes.
  ScriptedRun run({});
  run.ui->answers["askDestination"] = {PageResult::Cancel};
  int removals = 0;
  run.steps->hooks["undoTemporaryFiles"] = [&] {
    ++removals;
    throw FatalError(u"cannot remove the folder");
  };
  EXPECT_EQ(RunCapturingStdout(run), "Unrecoverable error occured: cannot remove the folder\n");
  EXPECT_EQ(Boxes(run), (std::vector<std::string>(2, "Severe error|cannot remove the folder")));
  EXPECT_EQ(removals, 3);
  EXPECT_EQ(run.steps->rollbacks, 3);
}

}  // namespace
}  // namespace corv

// The batch-mode front end, the wizard without its pages, and the driver with the
// real text front end.
#include "ui/textinterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>

#include "app/frontend.h"
#include "record_samples.h"
#include "scratch.h"
#include "scripted_frontend.h"
#include "test_support.h"
#include "ui/guiinterface.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

// Options over "setup.exe" and `args`, parsed.
class ParsedOptions {
public:
  explicit ParsedOptions(std::vector<std::string> args) : store_{"setup.exe"} {
    store_.insert(store_.end(), args.begin(), args.end());
    for (const std::string& arg : store_) argv_.push_back(arg.c_str());
    options_ = std::make_unique<Options>(static_cast<int>(argv_.size()), argv_.data());
    options_->PreScan();
    options_->Parse();
  }
  const Options& operator*() const { return *options_; }

private:
  std::vector<std::string> store_;
  std::vector<const char*> argv_;
  std::unique_ptr<Options> options_;
};

// The text front end with a chosen console and recorded message boxes.
class RecordingText : public TextInterface {
public:
  RecordingText(const Options& options, bool console) : TextInterface(options, console) {}
  std::vector<Box> boxes;

protected:
  int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                 uint32_t style) override {
    boxes.push_back({owner, text, caption, style});
    return kBoxIdOk;
  }
};

class RecordingGui : public GuiInterface {
public:
  int boxResult = kBoxIdOk;
  std::vector<Box> boxes;

protected:
  int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                 uint32_t style) override {
    boxes.push_back({owner, text, caption, style});
    return boxResult;
  }
};

// What `action` writes to standard output.
std::string Printed(const std::function<void()>& action) {
  CapturedStdout out;
  action();
  std::string text = out.take();
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

// The front ends read and set the process-wide record: the minimal package
// unless a test uses another.
class TextInterfaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetLanguage();
    use(test::MinimalRecord());
  }
  void TearDown() override {
    InstallInfo::SetCurrent(nullptr);
    ResetLanguage();
  }
  // Makes `record` the process-wide one; its lookups read `javaHome` for
  // every key.
  InstallInfo& use(const InstallRecord& record) {
    info = std::make_unique<InstallInfo>(record);
    info->createLookups([](const XString&, bool) { return std::nullopt; },
                        [this](const XString&, bool) { return javaHome; });
    InstallInfo::SetCurrent(info.get());
    return *info;
  }
  std::unique_ptr<InstallInfo> info;
  OptString javaHome;
};

TEST_F(TextInterfaceTest, ConsoleIsTheStandardOutputHandle) {
  ParsedOptions options({"/batch"});
  TextInterface ui(*options);
  EXPECT_TRUE(ui.hasConsole());  // this test program has one
  EXPECT_FALSE(ui.isActive());
  ui.begin();
  EXPECT_TRUE(ui.isActive());
  ui.end();
  EXPECT_FALSE(ui.isActive());
}

TEST_F(TextInterfaceTest, MessagesArePrintedWithTheirCaptionsInTheOemCodePage) {
  ParsedOptions options({"/batch"});
  RecordingText ui(*options, true);
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::Information, "caf\xe9"); }), "caf\x82\n");
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::Question, "q"); }), "Question: q\n");
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::Warning, "w"); }), "Warning: w\n");
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::SevereError, "e"); }), "Severe error: e\n");
  EXPECT_EQ(Printed([&] {
              EXPECT_THROW(ui.showMessage(static_cast<Severity>(0), "x"), AssertionFailedError);
              EXPECT_THROW(ui.showMessage(static_cast<Severity>(5), "x"), AssertionFailedError);
            }),
            "");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(TextInterfaceTest, WithoutConsoleMessagesAreBoxes) {
  ParsedOptions options({"/batch"});
  RecordingText ui(*options, false);
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::Warning, "w"); }), "");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "w");
  EXPECT_EQ(ui.boxes[0].style, 0x30u);
}

TEST_F(TextInterfaceTest, PreviousVersionNeedsForceOrNoReg) {
  for (const char* pass : {"/force", "/no-reg"}) {
    ParsedOptions options({"/batch", pass});
    RecordingText ui(*options, true);
    PreviousVersionAnswer answer{};
    EXPECT_EQ(Printed([&] { answer = ui.confirmOverPreviousVersion(); }), "");
    EXPECT_EQ(answer, PreviousVersionAnswer::Proceed) << pass;
  }
  ParsedOptions options({"/batch"});
  RecordingText console(*options, true);
  PreviousVersionAnswer answer{};
  EXPECT_EQ(Printed([&] { answer = console.confirmOverPreviousVersion(); }),
            "Previous version of Hello was found. It is recommended that you uninstall it before "
            "installing a new version. Otherwise, specify the /force option to proceed beyond this "
            "point.\n");
  EXPECT_EQ(answer, PreviousVersionAnswer::Stop);

  RecordingText silent(*options, false);
  EXPECT_EQ(silent.confirmOverPreviousVersion(), PreviousVersionAnswer::Stop);
  EXPECT_TRUE(silent.boxes.empty());
}

TEST_F(TextInterfaceTest, ResultLines) {
  ParsedOptions options({"/batch"});
  RecordingText ui(*options, true);
  PageResult result = PageResult::Cancel;
  EXPECT_EQ(Printed([&] { result = ui.showResult(std::nullopt, false); }),
            "Corvantis Installer has successfully installed Hello on your computer.\n");
  EXPECT_EQ(result, PageResult::Next);
  EXPECT_EQ(Printed([&] { ui.showResult(std::nullopt, true); }),
            "Corvantis Installer has successfully installed Hello on your computer.\nReboot required\n");
  EXPECT_EQ(Printed([&] { ui.showResult(XString(u"Unable to read file C:\\a"), true); }),
            "Severe error: Corvantis Installer has failed to install Hello on your computer due to "
            "the following error: Unable to read file C:\\a\n");
  InstallRecord update = test::MinimalRecord();
  update.kind = kPackageUpdate;
  use(update);
  EXPECT_EQ(Printed([&] { ui.showResult(std::nullopt, false); }),
            "Corvantis Installer has successfully updated Hello on your computer.\n");
  EXPECT_EQ(Printed([&] { ui.showResult(XString(u"x"), false); }),
            "Severe error: Corvantis Installer has failed to update Hello on your computer due to "
            "the following error: x\n");
}

TEST_F(TextInterfaceTest, RunProgressWaitsForTheEndOfTheWork) {
  for (bool abort : {false, true}) {
    ParsedOptions options({"/batch"});
    TextInterface ui(*options);
    std::atomic<bool> returned{false};
    PageResult result = PageResult::Cancel;
    FunctionThread main([&] {
      result = ui.runProgress();
      returned = true;
    });
    main.start();
    // One file written; the finishing steps follow.
    ui.progressUpdater().begin(1, true);
    ui.progressUpdater().beginItem(1, 1, std::nullopt);
    ui.progressUpdater().advance(1, std::nullopt);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until) {
    }
    EXPECT_FALSE(returned.load());
    if (abort) {
      ui.abortProgress();
    } else {
      ui.finishProgress();
    }
    main.join();
    EXPECT_EQ(result, PageResult::Next);
    EXPECT_EQ(ui.runProgress(), PageResult::Next);  // the event stays signalled
  }
}

TEST_F(TextInterfaceTest, PagesStoreTheCommandLineInTheRecord) {
  const XString defaultDestination = info->choices().destination->widePath();
  ParsedOptions none({"/batch"});
  TextInterface plain(*none);
  for (auto page : {&TextInterface::showWelcome, &TextInterface::askLicenseAgreement,
                    &TextInterface::askDestination, &TextInterface::askProgramFolder,
                    &TextInterface::askShortcuts, &TextInterface::askFileAssociations,
                    &TextInterface::showSummary, &TextInterface::askInstallProfile}) {
    EXPECT_EQ((plain.*page)(), PageResult::Next);
  }
  // Nothing given: the defaults stand, and the profile is common, as the
  // wizard preselects, rather than left unset for the product key to trip
  // over.
  EXPECT_EQ(info->choices().destination->widePath(), defaultDestination);
  EXPECT_EQ(info->choices().programFolder, std::nullopt);
  EXPECT_EQ(info->choices().installProfile(), kProfileCommon);

  ParsedOptions given({"/batch", "/personal", "/dest", "C:\\Apps\\Hello", "/folder", "Hello Group"});
  TextInterface ui(*given);
  EXPECT_EQ(ui.askInstallProfile(), PageResult::Next);
  EXPECT_EQ(ui.askDestination(), PageResult::Next);
  EXPECT_EQ(ui.askProgramFolder(), PageResult::Next);
  EXPECT_EQ(info->choices().installProfile(), kProfilePersonal);
  EXPECT_EQ(info->choices().destination->widePath(), u"C:\\Apps\\Hello");
  EXPECT_EQ(info->choices().programFolder, u"Hello Group");
}

TEST_F(TextInterfaceTest, DestinationFixedByTheVendor) {
  InstallRecord fixed = test::MinimalRecord();
  fixed.destinationFixed = true;
  fixed.destinationBase = kBasePath;
  fixed.defaultDestination = u"C:\\Apps\\Hello";
  use(fixed);
  ParsedOptions options({"/batch", "/dest", "c:\\apps\\HELLO"});
  TextInterface ui(*options);
  EXPECT_EQ(ui.askDestination(), PageResult::Next);  // the same folder in other letter case
  EXPECT_EQ(info->choices().destination->widePath(), u"c:\\apps\\HELLO");

  fixed.defaultDestination = u"C:\\Apps\\Other";
  use(fixed);
  try {
    ui.askDestination();
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(),
              u"The destination folder for this package was fixed by vendor. The package can be "
              u"installed only to the \"C:\\Apps\\Other\" folder.");
  }
  EXPECT_EQ(info->choices().destination->widePath(), u"C:\\Apps\\Other");  // unchanged
}

TEST_F(TextInterfaceTest, ServiceAccountsComeFromUserAndPassword) {
  InstallRecord record = test::MinimalRecord();
  record.services = {{u"svc.exe", u"Corv System", u"Corv System", ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, true, {}}};
  use(record);
  ParsedOptions none({"/batch"});
  TextInterface plain(*none);
  // Services of the local system account need no user.
  EXPECT_EQ(plain.askServiceAccounts(), PageResult::Next);
  record.services.push_back({u"agent.exe", u"Corv Agent", u"Corv Agent", ServiceEntry::kAutomatic, ServiceEntry::kUserAccount, false, {}});
  use(record);
  try {
    plain.askServiceAccounts();
    FAIL() << "accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"User name must be specified to install Windows NT service 'Corv Agent'");
  }

  ParsedOptions both({"/batch", "/user", "agent", "/password", "s3cret"});
  EXPECT_EQ(TextInterface(*both).askServiceAccounts(), PageResult::Next);
  const ServiceEntry& system = info->services().entry(0);
  const ServiceEntry& agent = info->services().entry(1);
  EXPECT_EQ(system.userName, u"");
  EXPECT_TRUE(system.interactive);
  EXPECT_EQ(agent.accountKind, ServiceEntry::kUserAccount);
  EXPECT_EQ(agent.userName, u"agent");
  EXPECT_EQ(agent.password, u"s3cret");
  ParsedOptions user({"/batch", "/user", ".\\agent"});
  EXPECT_EQ(TextInterface(*user).askServiceAccounts(), PageResult::Next);
  EXPECT_EQ(agent.userName, u".\\agent");
  EXPECT_EQ(agent.password, u"");
  use(test::MinimalRecord());
  EXPECT_THROW(TextInterface(*both).askServiceAccounts(), AssertionFailedError);
}

TEST_F(TextInterfaceTest, JreFromTheCommandLineOrTheSearch) {
  ScratchFolder scratch;
  scratch.writeFile("kit/jre/bin/java.exe", "jjj");
  scratch.writeFile("found/bin/java.exe", "jjj");
  InstallRecord record = test::MinimalRecord();
  record.noJre = 0;
  record.jre.version = u"1.4.2";
  record.jre.groups = {{0, {{u"bin\\java.exe", 3}}}};
  use(record);
  ParsedOptions wrong({"/batch", "/jre", ToUtf8(scratch.path(u"found\\bin"))});
  try {
    TextInterface(*wrong).askJre();
    FAIL() << "a folder without a runtime accepted";
  } catch (const FatalError& e) {
    EXPECT_NE(e.message().find(u"(1.4.2)"), XString::npos) << ToUtf8(e.message());
  }
  ParsedOptions kit({"/batch", "/jre", ToUtf8(scratch.path(u"kit"))});
  EXPECT_EQ(TextInterface(*kit).askJre(), PageResult::Next);
  EXPECT_EQ(info->choices().jreFolder, scratch.path(u"kit\\jre"));
  EXPECT_FALSE(info->choices().jreFolderFromPrimary);

  use(record);
  ParsedOptions none({"/batch"});
  EXPECT_THROW(TextInterface(*none).askJre(), FatalError);  // the search finds none
  EXPECT_EQ(info->choices().jreFolder, std::nullopt);
  javaHome = scratch.path(u"found");
  EXPECT_EQ(TextInterface(*none).askJre(), PageResult::Next);
  EXPECT_EQ(info->choices().jreFolder, scratch.path(u"found"));
}

TEST_F(TextInterfaceTest, FrontEndsByKind) {
  ParsedOptions options({});
  std::unique_ptr<UserInterface> text = CreateFrontEnd(FrontEndKind::Text, *options);
  std::unique_ptr<UserInterface> gui = CreateFrontEnd(FrontEndKind::Gui, *options);
  EXPECT_NE(dynamic_cast<TextInterface*>(text.get()), nullptr);
  EXPECT_NE(dynamic_cast<GuiInterface*>(gui.get()), nullptr);
}

// ---- The wizard's stand-in

TEST_F(TextInterfaceTest, WizardWithoutItsLibraryFailsAtTheFirstPage) {
  ScratchFolder temp;  // holds no resource library
  info->setTempFolder(Directory(temp.path()));
  RecordingGui gui;
  gui.begin();
  EXPECT_TRUE(gui.isActive());
  EXPECT_THROW(gui.begin(), AssertionFailedError);  // the resources are loaded once
  // Neither the template nor message 1418 can be loaded.
  try {
    gui.showWelcome();
    FAIL() << "a page without its library";
  } catch (const FatalError& e) {
    EXPECT_EQ(ToUtf8(e.message()).rfind("Message 418 not found", 0), 0u) << ToUtf8(e.message());
  }
  // The input pages are dialogs of the library too.
  EXPECT_THROW(gui.askDestination(), FatalError);
  // The progress page fails like every page; a worker that gave up before
  // it was shown changes nothing of that.
  gui.abortProgress();
  EXPECT_THROW(gui.runProgress(), FatalError);
  gui.end();
  EXPECT_FALSE(gui.isActive());
  EXPECT_EQ(gui.waitCurrentWindow(), nullptr);  // ended: no waiting
  EXPECT_NO_THROW(gui.begin());  // released resources can be loaded again
  gui.end();
}

TEST_F(TextInterfaceTest, WizardAsksAboutThePreviousVersion) {
  RecordingGui gui;
  gui.boxResult = 6;  // IDYES
  EXPECT_EQ(gui.confirmOverPreviousVersion(), PreviousVersionAnswer::Proceed);
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].caption, "Warning");
  EXPECT_EQ(gui.boxes[0].style, 0x24u);
  EXPECT_EQ(gui.boxes[0].text,
            "Previous version of Hello was found. It is recommended to uninstall it before installing "
            "a new version. Do you wish to continue installation without uninstalling previous "
            "version?");
  for (int other : {7, 0}) {
    gui.boxResult = other;
    EXPECT_EQ(gui.confirmOverPreviousVersion(), PreviousVersionAnswer::Stop);
  }
}

// ---- The driver with the real front ends

struct FrontEndRun {
  explicit FrontEndRun(std::vector<std::string> args) : store{"setup.exe"} {
    store.insert(store.end(), args.begin(), args.end());
    for (const std::string& arg : store) argv.push_back(arg.c_str());
    auto owned = std::make_unique<ScriptedSteps>();
    steps = owned.get();
    FrontEndFactory factory = [this](FrontEndKind kind, const Options& options) -> std::unique_ptr<UserInterface> {
      if (kind == FrontEndKind::Text) return std::make_unique<TextInterface>(options);
      auto wizard = std::make_unique<RecordingGui>();
      gui = wizard.get();
      return wizard;
    };
    driver = std::make_unique<Driver>(static_cast<int>(argv.size()), argv.data(), factory, std::move(owned));
  }
  std::vector<std::string> store;
  std::vector<const char*> argv;
  ScriptedSteps* steps = nullptr;
  RecordingGui* gui = nullptr;
  std::unique_ptr<Driver> driver;
};

TEST_F(TextInterfaceTest, BatchRunPrintsOneLine) {
  FrontEndRun run({"/batch"});
  int code = -1;
  EXPECT_EQ(Printed([&] { code = run.driver->run(); }),
            "Corvantis Installer has successfully installed Hello on your computer.\n");
  EXPECT_EQ(code, 0);
}

TEST_F(TextInterfaceTest, BatchRefusalIsTheSevereErrorLineAroundTheReason) {
  FrontEndRun run({"/batch", "/dest", "D:\\Elsewhere"});
  run.steps->record.destinationFixed = true;
  run.steps->record.destinationBase = kBasePath;
  run.steps->record.defaultDestination = u"C:\\Hello";
  int code = -1;
  EXPECT_EQ(Printed([&] { code = run.driver->run(); }),
            "Severe error: Corvantis Installer has failed to install Hello on your computer due to "
            "the following error: The destination folder for this package was fixed by vendor. The "
            "package can be installed only to the \"C:\\Hello\" folder.\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(run.steps->rollbacks, 1);
  EXPECT_FALSE(run.steps->tempFolder);
}

TEST_F(TextInterfaceTest, WizardWithoutItsLibraryEndsInAMessageBoxAndRollsBack) {
  FrontEndRun run({});
  int code = -1;
  EXPECT_EQ(Printed([&] { code = run.driver->run(); }), "");
  EXPECT_EQ(code, 1);
  // The welcome page fails, and so does the finish page that would show the
  // failure: the second failure comes as a message box.
  ASSERT_EQ(run.gui->boxes.size(), 1u);
  EXPECT_EQ(run.gui->boxes[0].caption, "Severe error");
  EXPECT_EQ(run.gui->boxes[0].style, 0x10u);
  EXPECT_EQ(run.gui->boxes[0].text.rfind("Message 418 not found", 0), 0u) << run.gui->boxes[0].text;
  EXPECT_FALSE(run.gui->isActive());
  EXPECT_EQ(run.steps->rollbacks, 1);
  EXPECT_FALSE(run.steps->tempFolder);
}

}  // namespace
}  // namespace corv

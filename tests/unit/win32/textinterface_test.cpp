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
  RecordingText(const Options& options, InstallationSteps& steps, bool console)
      : TextInterface(options, steps, console) {}
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

class FunctionThread : public Thread {
public:
  explicit FunctionThread(std::function<void()> body) : body_(std::move(body)) {}
  void run() override { body_(); }

private:
  std::function<void()> body_;
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

class TextInterfaceTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLanguage(); }
  void TearDown() override { ResetLanguage(); }
  CallLog log;
  ScriptedSteps steps{log};
};

TEST_F(TextInterfaceTest, ConsoleIsTheStandardOutputHandle) {
  ParsedOptions options({"/batch"});
  TextInterface ui(*options, steps);
  EXPECT_TRUE(ui.hasConsole());  // this test program has one
  EXPECT_FALSE(ui.isActive());
  ui.begin();
  EXPECT_TRUE(ui.isActive());
  ui.end();
  EXPECT_FALSE(ui.isActive());
}

TEST_F(TextInterfaceTest, MessagesArePrintedWithTheirCaptionsInTheOemCodePage) {
  ParsedOptions options({"/batch"});
  RecordingText ui(*options, steps, true);
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
  RecordingText ui(*options, steps, false);
  EXPECT_EQ(Printed([&] { ui.showMessage(Severity::Warning, "w"); }), "");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Warning");
  EXPECT_EQ(ui.boxes[0].text, "w");
  EXPECT_EQ(ui.boxes[0].style, 0x30u);
}

TEST_F(TextInterfaceTest, PreviousVersionNeedsForceOrNoReg) {
  for (const char* pass : {"/force", "/no-reg"}) {
    ParsedOptions options({"/batch", pass});
    RecordingText ui(*options, steps, true);
    int answer = 0;
    EXPECT_EQ(Printed([&] { answer = ui.confirmOverPreviousVersion(); }), "");
    EXPECT_EQ(answer, kProceed) << pass;
  }
  ParsedOptions options({"/batch"});
  RecordingText console(*options, steps, true);
  int answer = 0;
  EXPECT_EQ(Printed([&] { answer = console.confirmOverPreviousVersion(); }),
            "Previous version of Hello was found. It is recommended that you uninstall it before "
            "installing a new version. Otherwise, specify the /force option to proceed beyond this "
            "point.\n");
  EXPECT_EQ(answer, kStop);

  RecordingText silent(*options, steps, false);
  EXPECT_EQ(silent.confirmOverPreviousVersion(), kStop);
  EXPECT_TRUE(silent.boxes.empty());
}

TEST_F(TextInterfaceTest, ResultLines) {
  ParsedOptions options({"/batch"});
  RecordingText ui(*options, steps, true);
  PageResult result = PageResult::Cancel;
  EXPECT_EQ(Printed([&] { result = ui.showResult(std::nullopt, false); }),
            "Corvantis Installer has successfully installed Hello on your computer.\n");
  EXPECT_EQ(result, PageResult::Next);
  EXPECT_EQ(Printed([&] { ui.showResult(std::nullopt, true); }),
            "Corvantis Installer has successfully installed Hello on your computer.\nReboot required\n");
  EXPECT_EQ(Printed([&] { ui.showResult(XString(u"Unable to read file C:\\a"), true); }),
            "Severe error: Corvantis Installer has failed to install Hello on your computer due to "
            "the following error: Unable to read file C:\\a\n");
  steps.installation = false;
  EXPECT_EQ(Printed([&] { ui.showResult(std::nullopt, false); }),
            "Corvantis Installer has successfully updated Hello on your computer.\n");
  EXPECT_EQ(Printed([&] { ui.showResult(XString(u"x"), false); }),
            "Severe error: Corvantis Installer has failed to update Hello on your computer due to "
            "the following error: x\n");
}

TEST_F(TextInterfaceTest, RunProgressWaitsForTheEndOfTheWork) {
  for (bool abort : {false, true}) {
    ParsedOptions options({"/batch"});
    TextInterface ui(*options, steps);
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

TEST_F(TextInterfaceTest, PagesTakeTheirAnswersFromTheCommandLine) {
  ParsedOptions none({"/batch"});
  TextInterface plain(*none, steps);
  for (auto page : {&TextInterface::showWelcome, &TextInterface::askLicenseAgreement,
                    &TextInterface::askDestination,
                    &TextInterface::askProgramFolder, &TextInterface::askShortcuts,
                    &TextInterface::askFileAssociations, &TextInterface::showSummary}) {
    EXPECT_EQ((plain.*page)(), PageResult::Next);
  }
  EXPECT_TRUE(log.all().empty());  // nothing given, nothing stored
  // Without /personal or /common the profile is common, as the wizard
  // preselects, rather than left unset for the product key to trip over.
  EXPECT_EQ(plain.askInstallProfile(), PageResult::Next);
  EXPECT_EQ(log.all(), std::vector<std::string>{"setInstallProfile(1)"});
  log.clear();

  ParsedOptions given({"/batch", "/personal", "/dest", "C:\\Apps\\Hello", "/folder", "Hello Group"});
  TextInterface ui(*given, steps);
  EXPECT_EQ(ui.askInstallProfile(), PageResult::Next);
  EXPECT_EQ(ui.askDestination(), PageResult::Next);
  EXPECT_EQ(ui.askProgramFolder(), PageResult::Next);
  EXPECT_EQ(log.all(), (std::vector<std::string>{"setInstallProfile(2)", "setDestination(C:\\Apps\\Hello)",
                                                 "setProgramFolder(Hello Group)"}));
}

TEST_F(TextInterfaceTest, DestinationFixedByTheVendor) {
  ParsedOptions options({"/batch", "/dest", "c:\\apps\\HELLO"});
  TextInterface ui(*options, steps);
  steps.fixed = XString(u"C:\\Apps\\Hello");
  EXPECT_EQ(ui.askDestination(), PageResult::Next);  // the same folder in other letter case
  EXPECT_EQ(log.all(), std::vector<std::string>{"setDestination(c:\\apps\\HELLO)"});

  steps.fixed = XString(u"C:\\Apps\\Other");
  try {
    ui.askDestination();
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(),
              u"The destination folder for this package was fixed by vendor. The package can be "
              u"installed only to the \"C:\\Apps\\Other\" folder.");
  }
  EXPECT_EQ(log.all().size(), 1u);
}

TEST_F(TextInterfaceTest, ServiceAccountsComeFromUserAndPassword) {
  steps.services = true;
  ParsedOptions none({"/batch"});
  TextInterface plain(*none, steps);
  // Services of the local system account need no user.
  EXPECT_EQ(plain.askServiceAccounts(), PageResult::Next);
  steps.userService = XString(u"Corv Agent");
  try {
    plain.askServiceAccounts();
    FAIL() << "accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"User name must be specified to install Windows NT service 'Corv Agent'");
  }
  EXPECT_TRUE(log.all().empty());

  ParsedOptions user({"/batch", "/user", ".\\agent"});
  EXPECT_EQ(TextInterface(*user, steps).askServiceAccounts(), PageResult::Next);
  ParsedOptions both({"/batch", "/user", "agent", "/password", "s3cret"});
  EXPECT_EQ(TextInterface(*both, steps).askServiceAccounts(), PageResult::Next);
  EXPECT_EQ(log.all(), (std::vector<std::string>{"setUserAccounts(.\\agent,)", "setUserAccounts(agent,s3cret)"}));
  steps.services = false;
  EXPECT_THROW(TextInterface(*both, steps).askServiceAccounts(), AssertionFailedError);
}

TEST_F(TextInterfaceTest, JreFromTheCommandLineOrTheSearch) {
  ParsedOptions given({"/batch", "/jre", "C:\\Java\\Kit"});
  TextInterface ui(*given, steps);
  EXPECT_THROW(ui.askJre(), FatalError);
  steps.acceptedJre = XString(u"C:\\Java\\Kit\\jre");
  EXPECT_EQ(ui.askJre(), PageResult::Next);
  ParsedOptions none({"/batch"});
  TextInterface search(*none, steps);
  EXPECT_THROW(search.askJre(), FatalError);
  steps.foundJre = XString(u"C:\\Found");
  EXPECT_EQ(search.askJre(), PageResult::Next);
  EXPECT_EQ(log.all(), (std::vector<std::string>{"acceptJre(C:\\Java\\Kit)", "acceptJre(C:\\Java\\Kit)",
                                                 "setJreFolder(C:\\Java\\Kit\\jre)", "firstFoundJre",
                                                 "firstFoundJre", "setJreFolder(C:\\Found)"}));
}

TEST_F(TextInterfaceTest, FrontEndsByKind) {
  ParsedOptions options({});
  std::unique_ptr<UserInterface> text = CreateFrontEnd(FrontEndKind::Text, *options, steps);
  std::unique_ptr<UserInterface> gui = CreateFrontEnd(FrontEndKind::Gui, *options, steps);
  EXPECT_NE(dynamic_cast<TextInterface*>(text.get()), nullptr);
  EXPECT_NE(dynamic_cast<GuiInterface*>(gui.get()), nullptr);
}

// ---- The wizard's stand-in

// The minimal package's record as the process-wide one, with a temporary
// folder that holds no resource library.
class CurrentRecord {
public:
  CurrentRecord() : info_(test::MinimalRecord()) {
    info_.setTempFolder(Directory(folder_.path()));
    InstallInfo::SetCurrent(&info_);
  }
  ~CurrentRecord() { InstallInfo::SetCurrent(nullptr); }
  InstallInfo& operator*() { return info_; }

private:
  ScratchFolder folder_;
  InstallInfo info_;
};

TEST_F(TextInterfaceTest, WizardWithoutItsLibraryFailsAtTheFirstPage) {
  CurrentRecord record;
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
  // Pages that are not built yet stop with a numbered message.
  try {
    gui.askLicenseAgreement();
    FAIL() << "no licence page yet";
  } catch (const FatalError& e) {
    EXPECT_NE(ToUtf8(e.message()).find("/batch"), std::string::npos);
  }
  EXPECT_EQ(gui.askDestination(), PageResult::Next);
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
  CurrentRecord record;
  RecordingGui gui;
  gui.boxResult = 6;  // IDYES
  EXPECT_EQ(gui.confirmOverPreviousVersion(), kProceed);
  ASSERT_EQ(gui.boxes.size(), 1u);
  EXPECT_EQ(gui.boxes[0].caption, "Warning");
  EXPECT_EQ(gui.boxes[0].style, 0x24u);
  EXPECT_EQ(gui.boxes[0].text,
            "Previous version of Hello was found. It is recommended to uninstall it before installing "
            "a new version. Do you wish to continue installation without uninstalling previous "
            "version?");
  for (int other : {7, 0}) {
    gui.boxResult = other;
    EXPECT_EQ(gui.confirmOverPreviousVersion(), kStop);
  }
}

// ---- The driver with the real front ends

struct FrontEndRun {
  explicit FrontEndRun(std::vector<std::string> args) : store{"setup.exe"} {
    store.insert(store.end(), args.begin(), args.end());
    for (const std::string& arg : store) argv.push_back(arg.c_str());
    auto owned = std::make_unique<ScriptedSteps>(log);
    steps = owned.get();
    FrontEndFactory factory = [this](FrontEndKind kind, const Options& options,
                                     InstallationSteps& s) -> std::unique_ptr<UserInterface> {
      if (kind == FrontEndKind::Text) return std::make_unique<TextInterface>(options, s);
      auto wizard = std::make_unique<RecordingGui>();
      gui = wizard.get();
      return wizard;
    };
    driver = std::make_unique<Driver>(static_cast<int>(argv.size()), argv.data(), factory, std::move(owned));
  }
  CallLog log;
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
  run.steps->fixed = XString(u"C:\\Hello");
  int code = -1;
  EXPECT_EQ(Printed([&] { code = run.driver->run(); }),
            "Severe error: Corvantis Installer has failed to install Hello on your computer due to "
            "the following error: The destination folder for this package was fixed by vendor. The "
            "package can be installed only to the \"C:\\Hello\" folder.\n");
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(run.log.contains("undoTemporaryFiles"));
}

TEST_F(TextInterfaceTest, WizardWithoutItsLibraryEndsInAMessageBoxAndRollsBack) {
  CurrentRecord record;
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
  EXPECT_EQ(run.log.all().back(), "undoTemporaryFiles");
}

}  // namespace
}  // namespace corv

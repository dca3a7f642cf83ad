#include "kernel/options.h"

#include <gtest/gtest.h>

#include "scripted_frontend.h"
#include "test_support.h"
#include "util/exceptions.h"

namespace corv {
namespace {

// Options over "C:\setup.exe" followed by `args`.
class CommandLine {
public:
  explicit CommandLine(std::vector<std::string> args) : store_{"C:\\setup.exe"} {
    store_.insert(store_.end(), args.begin(), args.end());
    for (const std::string& arg : store_) argv_.push_back(arg.c_str());
    options = std::make_unique<Options>(static_cast<int>(argv_.size()), argv_.data());
  }
  Options& operator*() { return *options; }
  Options* operator->() { return options.get(); }

  std::unique_ptr<Options> options;

private:
  std::vector<std::string> store_;
  std::vector<const char*> argv_;
};

TEST(OptionLookupTest, PrefixAndCaseDoNotMatterButTheNameMust) {
  const char* const names[] = {"gui",  "batch", "personal", "common", "dest",      "jre",
                               "folder", "primary", "user",  "password", "help",   "h",
                               "?",    "no-aftrun", "force", "no-reg"};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(LookupOption(u"/" + FromUtf8(names[i])), i) << names[i];
    EXPECT_EQ(LookupOption(u"-" + FromUtf8(names[i])), i) << names[i];
  }
  EXPECT_EQ(LookupOption(u"/BATCH"), kOptionBatch);
  EXPECT_EQ(LookupOption(u"-No-AftRun"), kOptionNoAftrun);
  for (const XChar* unknown : {u"gui", u"//gui", u"--batch", u"/", u"", u"/dest=C:\\x", u"/guix",
                               u"/gu", u"\\gui", u"/no_reg"}) {
    EXPECT_EQ(LookupOption(unknown), kOptionUnknown) << ToUtf8(unknown);
  }
}

TEST(OptionsTest, NoArgumentsMeanGuiModeAndNothingSet) {
  CommandLine line({});
  line->PreScan();
  line->Parse();
  EXPECT_EQ(line->programName(), u"C:\\setup.exe");
  EXPECT_EQ(line->mode(), Options::kModeNone);
  EXPECT_EQ(line->profile(), kProfileNone);
  EXPECT_FALSE(line->destination());
  EXPECT_FALSE(line->jreFolder());
  EXPECT_FALSE(line->programFolder());
  EXPECT_FALSE(line->primaryLocation());
  EXPECT_FALSE(line->userName());
  EXPECT_FALSE(line->password());
  EXPECT_FALSE(line->help() || line->force() || line->noAfterRun() || line->noRegistration());
}

TEST(OptionsTest, PreScanFindsModeAndHelpAndStepsOverValues) {
  CommandLine batch({"/dest", "/gui", "-Batch", "stray", "/jre", "/help", "/bogus"});
  batch->PreScan();
  EXPECT_EQ(batch->mode(), Options::kModeBatch);
  EXPECT_FALSE(batch->help());
  EXPECT_FALSE(batch->programName());  // the pre-scan sets nothing else

  for (const char* help : {"/help", "-H", "/?"}) {
    CommandLine line({help});
    line->PreScan();
    EXPECT_TRUE(line->help()) << help;
    EXPECT_EQ(line->mode(), Options::kModeNone);
  }
  CommandLine gui({"/GUI"});
  gui->PreScan();
  EXPECT_EQ(gui->mode(), Options::kModeGui);
}

TEST(OptionsTest, SecondModeOptionIsTheOptionModulesAssertion) {
  for (auto args : {std::vector<std::string>{"/batch", "/gui"}, {"/gui", "/batch"},
                    {"/batch", "-BATCH"}, {"/gui", "/dest", "x", "/gui"}}) {
    CommandLine line(args);
    EXPECT_EQ(FailureOf([&] { line->PreScan(); }), "ASSERT: file ..\\src\\kernel\\options.cpp, line 141");
  }
}

TEST(OptionsTest, ParseTakesValuesLiterallyAndKeepsTheLastOne) {
  CommandLine line({"/batch", "/personal", "/common", "/jre", "C:\\old", "/jre", "C:\\new", "/dest",
                    "/force", "/folder", "Hello Group", "/primary", "C:\\Hello", "/user", "svc",
                    "/password", "", "/no-aftrun", "/no-reg", "/help"});
  line->PreScan();
  line->Parse();
  EXPECT_EQ(line->profile(), kProfileCommon);
  EXPECT_EQ(line->jreFolder(), u"C:\\new");
  EXPECT_EQ(line->destination(), u"/force");
  EXPECT_FALSE(line->force());
  EXPECT_EQ(line->programFolder(), u"Hello Group");
  EXPECT_EQ(line->primaryLocation(), u"C:\\Hello");
  EXPECT_EQ(line->userName(), u"svc");
  EXPECT_EQ(line->password(), u"");  // given, though empty
  EXPECT_TRUE(line->noAfterRun());
  EXPECT_TRUE(line->noRegistration());
  EXPECT_TRUE(line->help());

  CommandLine personal({"/common", "-PERSONAL", "/force"});
  personal->Parse();
  EXPECT_EQ(personal->profile(), kProfilePersonal);
  EXPECT_TRUE(personal->force());
}

TEST(OptionsTest, ParseFailures) {
  struct Case {
    std::vector<std::string> args;
    std::string failure;
  } cases[] = {
      {{"install"}, "Unknown option install\n"},
      {{"/batch", "/Bogus"}, "Unknown option /Bogus\n"},
      {{"--force"}, "Unknown option --force\n"},
      {{"/dest", "C:\\x", "/jre"}, "Value of the option '/jre' was not specified"},
      {{"/batch", "-DEST"}, "Value of the option '-DEST' was not specified"},
      // The first failure in argument order.
      {{"stray", "/dest"}, "Unknown option stray\n"},
  };
  for (const Case& c : cases) {
    CommandLine line(c.args);
    EXPECT_EQ(FailureOf([&] { line->Parse(); }), c.failure);
  }
}

TEST(OptionsTest, ParseOnlyOnce) {
  CommandLine line({"/force"});
  line->Parse();
  EXPECT_THROW(line->Parse(), AssertionFailedError);
}

TEST(OptionsTest, UsageNeedsTheProgramNameFromParse) {
  ScriptedInterface ui;
  CommandLine line({"/help"});
  EXPECT_THROW(line->PrintUsage(ui), AssertionFailedError);
  EXPECT_TRUE(ui.boxes.empty());
  line->Parse();
  line->PrintUsage(ui);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Information");
  EXPECT_EQ(ui.boxes[0].text,
            "Usage of C:\\setup.exe\n\n/gui - GUI installation wizard (default)\n/batch - installation "
            "from command line\n/personal - personal installation profile\n/common - common "
            "installation profile\n/dest <path> - destination folder\n/jre <path> - Sun JRE "
            "folder\n/folder <folder> - program folder in Start Menu\n/primary <path> - location of "
            "package to update\n/user <name> - log on user name\n/password <password> - log on "
            "password\n/no-aftrun - disable after finish run (if present)\n/force - force package "
            "installation over previous one\n/no-reg - do not install shortcuts, do not modify "
            "registry and path\n/help or /? - this help\n");
}

#ifndef _WIN32
TEST(OptionsTest, ArgumentOutsideTheCodePageIs1055) {
  const char* argv[] = {"setup", "/dest", "\xff\xfe"};
  EXPECT_EQ(FailureOf([&] { Options options(3, argv); }), "Invalid localized string");
}
#endif

}  // namespace
}  // namespace corv

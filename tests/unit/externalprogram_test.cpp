#include "util/externalprogram.h"

#include <gtest/gtest.h>

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

class ExternalProgramTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  const OptString cmd = XString(u"C:\\WINDOWS\\system32\\cmd.exe");
};

TEST_F(ExternalProgramTest, ProgramsNamedExeRunDirectly) {
  EXPECT_EQ(ExternalProgram(XString(u"TOOL.EXE"), XString()).CommandLine(u"C:\\App", cmd), "\"C:\\App\\TOOL.EXE\" ")
      << "the blank stays before empty arguments";
  EXPECT_EQ(ExternalProgram(XString(u"bin\\tool.Exe"), XString(u"-x")).CommandLine(u"C:\\App", std::nullopt),
            "\"C:\\App\\bin\\tool.Exe\" -x")
      << "no interpreter needed, none asked for";
}

TEST_F(ExternalProgramTest, OtherProgramsGoThroughTheInterpreter) {
  EXPECT_EQ(ExternalProgram(XString(u"setup.bat"), XString(u"-q")).CommandLine(u"C:\\App", cmd),
            "\"C:\\WINDOWS\\system32\\cmd.exe\" /C \"\"C:\\App\\setup.bat\" -q\"");
  EXPECT_EQ(ExternalProgram(XString(u".exe"), XString()).CommandLine(u"C:\\App", cmd),
            "\"C:\\WINDOWS\\system32\\cmd.exe\" /C \"\"C:\\App\\.exe\" \"")
      << "\".exe\" alone is not a program name ending in .exe";
  EXPECT_EQ(ExternalProgram(XString(u"tool.exe.txt"), XString()).CommandLine(u"C:\\App", cmd),
            "\"C:\\WINDOWS\\system32\\cmd.exe\" /C \"\"C:\\App\\tool.exe.txt\" \"");
}

TEST_F(ExternalProgramTest, AMissingOrEmptyInterpreterFails) {
  ExternalProgram script(XString(u"setup.cmd"), XString());
  for (const OptString& bad : {OptString(), OptString(XString())}) {
    try {
      script.CommandLine(u"C:\\App", bad);
      ADD_FAILURE() << "no interpreter";
    } catch (const FatalError& e) {
      EXPECT_EQ(e.message(), u"Bad 'comspec' environment variable");
    }
  }
}

TEST_F(ExternalProgramTest, RootStandsForTheDestination) {
  ExternalProgram p(XString(u"..\\App\\bin\\run.exe"), XString(u"--home=$(Root) \"$(Root)\\data\" $(root) $(Root"));
  EXPECT_EQ(p.CommandLine(u"C:\\My App", std::nullopt),
            "\"C:\\App\\bin\\run.exe\" --home=C:\\My App \"C:\\My App\\data\" $(root) $(Root")
      << "only \"$(Root)\" exactly so written is replaced";
}

TEST_F(ExternalProgramTest, BothStringsAreRequired) {
  EXPECT_THROW(ExternalProgram(std::nullopt, XString()), AssertionFailedError);
  EXPECT_THROW(ExternalProgram(XString(u"a.exe"), std::nullopt), AssertionFailedError);
}

}  // namespace
}  // namespace corv

#include "util/externalprogram.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <filesystem>
#include <string>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

// The built test program, as a path Wine understands.
std::filesystem::path TestExit() {
  std::string windows = "Z:";
  for (char c : std::string(CORV_TESTEXIT_EXE)) windows += c == '/' ? '\\' : c;
  return std::filesystem::path(windows);
}

class ExternalProgramWin32Test : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    std::filesystem::create_directories(destination.native("bin"));
    std::filesystem::copy_file(TestExit(), destination.native("bin/testexit.exe"));
  }
  void TearDown() override { ResetLanguage(); }

  template <typename Call>
  XString failure(Call call) {
    try {
      call();
    } catch (const FatalError& e) {
      return e.message();
    }
    return u"<none>";
  }

  // Waits up to ten seconds for a file that a started program writes to
  // hold `content`.
  bool holds(const std::string& relative, const std::string& content) {
    for (int i = 0; i < 100; ++i) {
      if (destination.exists(relative) && destination.readFile(relative) == content) return true;
      Sleep(100);
    }
    return false;
  }

  ScratchFolder destination;
};

TEST_F(ExternalProgramWin32Test, RunAndWaitPassesTheArgumentsAndChecksTheExitCode) {
  ExternalProgram ok(XString(u"bin\\testexit.exe"), XString(u"0 \"$(Root)\\record.txt\" first \"two words\""));
  ok.RunAndWait(destination.path());
  EXPECT_EQ(destination.readFile("record.txt"), "first\ntwo words\n");

  ExternalProgram fails(XString(u"bin\\testexit.exe"), XString(u"7"));
  XString command = u"\"" + destination.path(u"bin\\testexit.exe") + u"\" 7";
  EXPECT_EQ(failure([&] { fails.RunAndWait(destination.path()); }),
            u"Execution '" + command + u"' failed - exit code 7");
}

TEST_F(ExternalProgramWin32Test, AProgramThatCannotRunFails) {
  ExternalProgram missing(XString(u"bin\\missing.exe"), XString());
  XString command = u"\"" + destination.path(u"bin\\missing.exe") + u"\" ";
  EXPECT_EQ(failure([&] { missing.RunAndWait(destination.path()); }), u"Cannot execute '" + command + u"'");
  EXPECT_EQ(failure([&] { missing.Start(destination.path()); }), u"Cannot execute '" + command + u"'");
}

TEST_F(ExternalProgramWin32Test, ScriptsRunThroughTheInterpreter) {
  destination.writeFile("setup.bat", "@echo %1> \"%~dp0script.txt\"\r\n@exit %2\r\n");
  ExternalProgram script(XString(u"setup.bat"), XString(u"ran 0"));
  script.RunAndWait(destination.path());
  EXPECT_EQ(destination.readFile("script.txt"), "ran\r\n");

  ExternalProgram failing(XString(u"setup.bat"), XString(u"again 5"));
  XString message = failure([&] { failing.RunAndWait(destination.path()); });
  OptString comspec = ComspecVariable();
  ASSERT_TRUE(comspec.has_value());
  EXPECT_EQ(message, u"Execution '\"" + *comspec + u"\" /C \"\"" + destination.path(u"setup.bat") +
                         u"\" again 5\"' failed - exit code 5");
}

TEST_F(ExternalProgramWin32Test, WithoutComspecScriptsCannotRun) {
  char saved[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("COMSPEC", saved, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  SetEnvironmentVariableA("COMSPEC", nullptr);
  ExternalProgram script(XString(u"setup.bat"), XString());
  XString missing = failure([&] { script.RunAndWait(destination.path()); });
  SetEnvironmentVariableA("COMSPEC", std::string(300, 'x').c_str());
  XString tooLong = failure([&] { script.Start(destination.path()); });
  ExternalProgram direct(XString(u"bin\\testexit.exe"), XString(u"0"));
  XString directRun = failure([&] { direct.RunAndWait(destination.path()); });
  SetEnvironmentVariableA("COMSPEC", saved);
  EXPECT_EQ(missing, u"Bad 'comspec' environment variable");
  EXPECT_EQ(tooLong, u"Bad 'comspec' environment variable");
  EXPECT_EQ(directRun, u"<none>") << "a program named .exe needs no interpreter";
}

TEST_F(ExternalProgramWin32Test, StartDoesNotWaitForTheExitCode) {
  ExternalProgram after(XString(u"bin\\testexit.exe"), XString(u"9 $(Root)\\started.txt go"));
  after.Start(destination.path());
  EXPECT_TRUE(holds("started.txt", "go\n"));
}

}  // namespace
}  // namespace corv

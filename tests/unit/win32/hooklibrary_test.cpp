#include "util/hooklibrary.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <string>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

// A built file, as a path Wine understands.
XString BuiltFile(const std::string& unixPath) {
  std::string windows = "Z:";
  for (char c : unixPath) windows += c == '/' ? '\\' : c;
  return FromUtf8(windows);
}

class HookLibraryTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // The message of the FatalError that `call` throws, or "<none>".
  template <typename Call>
  XString failure(Call call) {
    try {
      call();
    } catch (const FatalError& e) {
      return e.message();
    }
    return u"<none>";
  }

  ScratchFolder destination;
  HookLibrary plain{BuiltFile(CORV_TESTHOOK_DLL)};
  HookLibrary decorated{BuiltFile(CORV_TESTHOOKDECORATED_DLL)};
};

TEST_F(HookLibraryTest, EntriesGetTheDestinationAndTheLibraryIsUnloaded) {
  plain.CallPreInstall(destination.path());
  EXPECT_EQ(destination.readFile("PreInstall.called"), ToUtf8(destination.path()));
  EXPECT_FALSE(destination.exists("PostInstall.called"));
  plain.CallPostInstall(destination.path());
  EXPECT_EQ(destination.readFile("PostInstall.called"), ToUtf8(destination.path()));
  EXPECT_EQ(GetModuleHandleA(ToAnsi(plain.path()).c_str()), nullptr) << "nothing stays loaded";
}

TEST_F(HookLibraryTest, ANonZeroResultFailsWithTheLibraryAndTheCode) {
  destination.writeFile("PreInstall.result", "3");
  EXPECT_EQ(failure([&] { plain.CallPreInstall(destination.path()); }),
            u"'PreInstall' call from '" + plain.path() + u"' failed - exit code 3");
  destination.writeFile("PostInstall.result", "-2");
  EXPECT_EQ(failure([&] { plain.CallPostInstall(destination.path()); }),
            u"'PostInstall' call from '" + plain.path() + u"' failed - exit code 4294967294")
      << "the code as an unsigned number";
  EXPECT_EQ(GetModuleHandleA(ToAnsi(plain.path()).c_str()), nullptr);
}

TEST_F(HookLibraryTest, TheDecoratedNameIsTriedSecond) {
  decorated.CallPostInstall(destination.path());
  EXPECT_EQ(destination.readFile("PostInstall.called"), ToUtf8(destination.path()));
  EXPECT_EQ(failure([&] { decorated.CallPreInstall(destination.path()); }),
            u"Cannot find 'PreInstall' dll entry in '" + decorated.path() + u"'");
  EXPECT_FALSE(destination.exists("PreInstall.called"));
}

TEST_F(HookLibraryTest, ALibraryThatCannotBeLoadedFails) {
  HookLibrary missing(destination.path(u"missing.dll"));
  EXPECT_EQ(failure([&] { missing.CallPreInstall(destination.path()); }),
            u"Cannot load library '" + destination.path(u"missing.dll") + u"'");
  EXPECT_EQ(failure([&] { missing.CallPostInstall(destination.path()); }),
            u"Cannot load library '" + destination.path(u"missing.dll") + u"'");
}

TEST_F(HookLibraryTest, NoEntryAtAllNamesTheMissingOne) {
  // The test program itself exports neither entry.
  char self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  HookLibrary program(ToWide(self));
  EXPECT_EQ(failure([&] { program.CallPostInstall(destination.path()); }),
            u"Cannot find 'PostInstall' dll entry in '" + program.path() + u"'");
}

}  // namespace
}  // namespace corv

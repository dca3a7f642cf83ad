#include "kernel/tempfolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/messages.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace corv {
namespace {

// Points the system's temporary folder at a scratch folder for one test.
class TempFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    setTemp(ToAnsi(temp.path()));
  }
  void TearDown() override {
    restoreTemp();
    ResetLanguage();
  }

#ifdef _WIN32
  void setTemp(const std::string& path) {
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("TMP", buf, sizeof buf);
    if (!saving_) {
      saving_ = true;
      if (n > 0 && n < sizeof buf) saved_ = std::string(buf, n);
    }
    SetEnvironmentVariableA("TMP", path.c_str());
  }
  void restoreTemp() { SetEnvironmentVariableA("TMP", saved_ ? saved_->c_str() : nullptr); }
#else
  void setTemp(const std::string& path) {
    if (!saving_) {
      saving_ = true;
      if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    }
    std::string native = path;
    for (char& c : native) {
      if (c == '\\') c = '/';
    }
    setenv("TMPDIR", native.c_str(), 1);
  }
  void restoreTemp() {
    if (saved_) {
      setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
#endif

  ScratchFolder temp;
  bool saving_ = false;
  std::optional<std::string> saved_;
};

TEST_F(TempFolderTest, TheTemporaryFolderIsThePointedOne) {
  std::optional<Directory> folder = FileSys::TempFolder();
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->widePath(), temp.path());
}

TEST_F(TempFolderTest, CreateTempFolderSkipsExistingNamesAndLogsWhatItMade) {
  temp.writeFile("InstTemp0/x", "");
  temp.writeFile("InstTemp1", "a file takes the name as well");
  Logger tempLog;
  Directory made = FileSys::CreateTempFolder(tempLog);
  EXPECT_EQ(made.widePath(), temp.path(u"InstTemp2"));
  EXPECT_TRUE(temp.exists("InstTemp2"));
  EXPECT_TRUE(FileSys::IsFolderEmpty(made.widePath()));
  EXPECT_EQ(tempLog.records(), (std::list<LogRecord>{{kLogDirectory, temp.path(u"InstTemp2")}}));

  Directory next = FileSys::CreateTempFolder(tempLog);
  EXPECT_EQ(next.widePath(), temp.path(u"InstTemp3"));
  EXPECT_EQ(tempLog.Undo(), std::nullopt);
  EXPECT_FALSE(temp.exists("InstTemp2"));
  EXPECT_FALSE(temp.exists("InstTemp3"));
  EXPECT_TRUE(temp.exists("InstTemp0/x"));
}

TEST_F(TempFolderTest, CreateTempFolderMakesAMissingTemporaryFolderAndLogsItToo) {
  setTemp(ToAnsi(temp.path(u"sys\\tmp")));
  Logger tempLog;
  Directory made = FileSys::CreateTempFolder(tempLog);
  EXPECT_EQ(made.widePath(), temp.path(u"sys\\tmp\\InstTemp0"));
  EXPECT_EQ(tempLog.records(), (std::list<LogRecord>{
                                   {kLogDirectory, temp.path(u"sys\\tmp\\InstTemp0")},
                                   {kLogDirectory, temp.path(u"sys\\tmp")},
                                   {kLogDirectory, temp.path(u"sys")},
                               }));
  EXPECT_EQ(tempLog.Undo(), std::nullopt);
  EXPECT_FALSE(temp.exists("sys"));
}

TEST_F(TempFolderTest, CreateTempFolderFailureIs1104) {
  temp.writeFile("blocker", "a file where the temporary folder should be");
  setTemp(ToAnsi(temp.path(u"blocker\\tmp")));
  Logger tempLog;
  try {
    FileSys::CreateTempFolder(tempLog);
    FAIL() << "created a folder below a file";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"Unable to create temporary directory " + temp.path(u"blocker\\tmp\\InstTemp0"));
  }
  EXPECT_EQ(tempLog.recordCount(), 0u);
}

TEST_F(TempFolderTest, CanCreateFolderProbesAndLeavesNothingBehind) {
  temp.writeFile("base/file.txt", "x");
  EXPECT_TRUE(FileSys::CanCreateFolder(ToAnsi(temp.path(u"base\\one\\two\\three"))));
  EXPECT_FALSE(temp.exists("base/one"));
  EXPECT_TRUE(FileSys::CanCreateFolder(ToAnsi(temp.path(u"base"))));
  EXPECT_TRUE(temp.exists("base/file.txt"));
  EXPECT_FALSE(FileSys::CanCreateFolder(ToAnsi(temp.path(u"base\\file.txt")))) << "a file is not a folder";
  EXPECT_FALSE(FileSys::CanCreateFolder(ToAnsi(temp.path(u"base\\file.txt\\sub")))) << "nothing below a file";
  EXPECT_TRUE(temp.exists("base/file.txt"));
  EXPECT_FALSE(FileSys::CanCreateFolder(""));
  EXPECT_FALSE(FileSys::CanCreateFolder(" \t"));
}

}  // namespace
}  // namespace corv

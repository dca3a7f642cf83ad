#include "kernel/tempfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/messages.h"

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>

#include "util/win32/handles.h"
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

// Names drawn in turn from a list, for a test that plants some of them.
std::function<XString()> Names(std::vector<XString> names) {
  auto next = std::make_shared<size_t>(0);
  return [names, next]() { return names.at((*next)++); };
}

TEST_F(TempFolderTest, CreateTempFolderNeverAdoptsWhatIsThereAndLogsWhatItMade) {
  temp.writeFile("taken/x", "");
  temp.writeFile("file", "a file takes the name as well");
#ifndef _WIN32
  std::filesystem::create_directory_symlink(temp.native("taken"), temp.native("link"));
  std::filesystem::create_symlink(temp.native("nowhere"), temp.native("dangling"));
#endif
  Logger tempLog;
#ifdef _WIN32
  Directory made = FileSys::CreateTempFolder(tempLog, Names({u"taken", u"file", u"new"}));
#else
  Directory made = FileSys::CreateTempFolder(tempLog, Names({u"taken", u"file", u"link", u"dangling", u"new"}));
#endif
  EXPECT_EQ(made.widePath(), temp.path(u"new"));
  EXPECT_TRUE(FileSys::IsFolderEmpty(made.widePath()));
  EXPECT_EQ(tempLog.records(), (std::list<LogRecord>{{kLogDirectory, temp.path(u"new")}}));
#ifndef _WIN32
  EXPECT_FALSE(temp.exists("nowhere")) << "nothing made through the dangling link";
  // Only the owner may enter the folder.
  EXPECT_EQ(std::filesystem::status(temp.native("new")).permissions(), std::filesystem::perms::owner_all);
#endif

  // The names the installer draws itself: unpredictable, each new.
  Directory first = FileSys::CreateTempFolder(tempLog);
  Directory second = FileSys::CreateTempFolder(tempLog);
  for (const Directory* d : {&first, &second}) {
    const XString name = d->widePath().substr(temp.path().size() + 1);
    ASSERT_EQ(name.size(), 24u) << ToUtf8(name);
    EXPECT_EQ(name.substr(0, 8), u"InstTemp");
    EXPECT_EQ(name.find_first_not_of(u"0123456789ABCDEF", 8), XString::npos) << ToUtf8(name);
  }
  EXPECT_NE(first.widePath(), second.widePath());
  EXPECT_EQ(tempLog.Undo(), std::nullopt);
  EXPECT_FALSE(temp.exists("new"));
  EXPECT_FALSE(Directory(first.widePath()).exists());
  EXPECT_TRUE(temp.exists("taken/x"));
  EXPECT_TRUE(temp.exists("file"));
}

TEST_F(TempFolderTest, CreateTempFolderMakesAMissingTemporaryFolderAndLogsItToo) {
  setTemp(ToAnsi(temp.path(u"sys\\tmp")));
  Logger tempLog;
  Directory made = FileSys::CreateTempFolder(tempLog, Names({u"InstTempA"}));
  EXPECT_EQ(made.widePath(), temp.path(u"sys\\tmp\\InstTempA"));
  EXPECT_EQ(tempLog.records(), (std::list<LogRecord>{
                                   {kLogDirectory, temp.path(u"sys\\tmp\\InstTempA")},
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
    FileSys::CreateTempFolder(tempLog, Names({u"InstTempA"}));
    FAIL() << "created a folder below a file";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"Unable to create temporary directory " + temp.path(u"blocker\\tmp\\InstTempA"));
  }
  EXPECT_EQ(tempLog.recordCount(), 0u);
}

#ifdef _WIN32
// The system's text form of a SID.
std::string SidText(PSID sid) {
  win32::UniqueLocalMemory<char> text;
  if (!ConvertSidToStringSidA(sid, text.out())) return "?";
  return text.get();
}

// The SIDs that the access list of `path` lets in, in order.
std::vector<std::string> AllowedSids(const AnsiString& path) {
  DWORD size = 0;
  GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<BYTE> descriptor(size);
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (size == 0 || !GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size) ||
      !GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted) || !present || !acl) {
    return {"no access list"};
  }
  std::vector<std::string> allowed;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(acl, i, &ace) && static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      allowed.push_back(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
    }
  }
  return allowed;
}

// On Windows NT the folder's explicit access list names the user, the
// administrators and SYSTEM, and nobody else. (Wine keeps no access lists:
// it answers with one made from the Unix mode it set from the list, which
// lets in the user and SYSTEM; a folder made the ordinary way lets in
// everyone as well.)
TEST_F(TempFolderTest, OnWindowsNTOnlyTheUserTheAdministratorsAndSystemMayEnter) {
  win32::UniqueHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()));
  std::vector<BYTE> user(256);
  DWORD userSize = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &userSize));
  token.reset();
  const std::string self = SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  const std::vector<std::string> permitted = {self, "S-1-5-32-544", "S-1-5-18"};

  Logger tempLog;
  Directory made = FileSys::CreateTempFolder(tempLog);
  std::vector<std::string> allowed = AllowedSids(made.ansiPath());
  EXPECT_NE(std::find(allowed.begin(), allowed.end(), self), allowed.end());
  for (const std::string& sid : allowed) {
    EXPECT_NE(std::find(permitted.begin(), permitted.end(), sid), permitted.end()) << sid << " may enter";
  }
  ASSERT_EQ(Directory(temp.path(u"ordinary")).createDirectories(), 0);
  std::vector<std::string> ordinary = AllowedSids(ToAnsi(temp.path(u"ordinary")));
  EXPECT_TRUE(std::any_of(ordinary.begin(), ordinary.end(), [&](const std::string& sid) {
    return std::find(permitted.begin(), permitted.end(), sid) == permitted.end();
  })) << "an ordinary folder lets others in: the check above could fail";
  EXPECT_EQ(tempLog.Undo(), std::nullopt);
}
#endif

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

#include "util/environment.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <string>
#include <vector>

#include "infrastructure/integrator.h"
#include "kernel/logger.h"
#include "util/file.h"
#include "util/messages.h"
#include "util/win32/handles.h"

namespace corv {
namespace {

const char kCommonKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

struct RegistryPath {
  bool present = false;
  DWORD type = 0;
  std::string text;
};

RegistryPath ReadPath(HKEY root, const char* key) {
  RegistryPath out;
  win32::UniqueKey open;
  if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, open.out()) != ERROR_SUCCESS) return out;
  DWORD size = 0;
  if (RegQueryValueExA(open.get(), "PATH", nullptr, &out.type, nullptr, &size) != ERROR_SUCCESS) return out;
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(open.get(), "PATH", nullptr, &out.type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS) {
    return out;
  }
  out.present = true;
  out.text = data.data();
  return out;
}

void WritePath(HKEY root, const char* key, const RegistryPath& value) {
  win32::UniqueKey open;
  ASSERT_EQ(RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, open.out()), ERROR_SUCCESS);
  if (value.present) {
    RegSetValueExA(open.get(), "PATH", 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()),
                   static_cast<DWORD>(value.text.size() + 1));
  } else {
    RegDeleteValueA(open.get(), "PATH");
  }
}

// Both environment keys of the shared prefix, put back as they were in
// teardown.
class EnvironmentWin32Test : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    personal_ = ReadPath(HKEY_CURRENT_USER, "Environment");
    common_ = ReadPath(HKEY_LOCAL_MACHINE, kCommonKey);
    autoexecExisted_ = File(DefaultAutoexecPath()).exists();
  }
  void TearDown() override {
    WritePath(HKEY_CURRENT_USER, "Environment", personal_);
    WritePath(HKEY_LOCAL_MACHINE, kCommonKey, common_);
    if (!autoexecExisted_) File(DefaultAutoexecPath()).remove();
    ResetLanguage();
  }

  RegistryPath personal_;
  RegistryPath common_;
  bool autoexecExisted_ = false;
  Environment environment;
  bool restart = true;
};

TEST_F(EnvironmentWin32Test, PersonalFolderIsAddedToTheUsersKeyAndRemovedAgain) {
  WritePath(HKEY_CURRENT_USER, "Environment", RegistryPath{});
  ASSERT_EQ(environment.AddToPath(u"C:\\Corv Test\\bin", true, &restart), 0);
  EXPECT_FALSE(restart);
  RegistryPath added = ReadPath(HKEY_CURRENT_USER, "Environment");
  EXPECT_TRUE(added.present);
  EXPECT_EQ(added.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(added.text, "C:\\Corv Test\\bin");
  RegistryPath common = ReadPath(HKEY_LOCAL_MACHINE, kCommonKey);
  EXPECT_EQ(common.text, common_.text) << "the common key is not touched";

  ASSERT_EQ(environment.AddToPath(u"c:\\corv test\\BIN", true, &restart), 0);
  EXPECT_EQ(ReadPath(HKEY_CURRENT_USER, "Environment").text, "C:\\Corv Test\\bin") << "present already";

  ASSERT_EQ(environment.RemoveFromPath(u"C:\\Corv Test\\bin"), 0);
  EXPECT_FALSE(ReadPath(HKEY_CURRENT_USER, "Environment").present) << "nothing left: the value goes";
  EXPECT_NE(environment.RemoveFromPath(u"C:\\Corv Test\\bin"), 0) << "in neither key now";
  EXPECT_FALSE(File(DefaultAutoexecPath()).exists() && !autoexecExisted_)
      << "removal on NT leaves a missing autoexec.bat missing";
}

TEST_F(EnvironmentWin32Test, CommonFolderGoesFirstInTheSystemKeyWithItsType) {
  ASSERT_TRUE(common_.present) << "a Wine prefix has a system PATH";
  ASSERT_EQ(environment.AddToPath(u"C:\\CorvTest", false, &restart), 0);
  EXPECT_FALSE(restart);
  RegistryPath added = ReadPath(HKEY_LOCAL_MACHINE, kCommonKey);
  EXPECT_EQ(added.text, "C:\\CorvTest;" + common_.text);
  EXPECT_EQ(added.type, common_.type);

  ASSERT_EQ(environment.RemoveFromPath(u"C:\\CorvTest"), 0);
  RegistryPath removed = ReadPath(HKEY_LOCAL_MACHINE, kCommonKey);
  EXPECT_EQ(removed.text, common_.text);
  EXPECT_EQ(removed.type, common_.type);
}

TEST_F(EnvironmentWin32Test, AStringValueKeepsItsType) {
  WritePath(HKEY_CURRENT_USER, "Environment", RegistryPath{true, REG_SZ, "C:\\Bin;D:\\Tools"});
  ASSERT_EQ(environment.AddToPath(u"E:\\App", true, &restart), 0);
  RegistryPath added = ReadPath(HKEY_CURRENT_USER, "Environment");
  EXPECT_EQ(added.text, "E:\\App;C:\\Bin;D:\\Tools");
  EXPECT_EQ(added.type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(environment.RemoveFromPath(u"D:\\TOOLS"), 0);
  EXPECT_EQ(ReadPath(HKEY_CURRENT_USER, "Environment").text, "E:\\App;C:\\Bin");
}

TEST_F(EnvironmentWin32Test, TheLogsUndoRemovesThePathEntry) {
  WritePath(HKEY_CURRENT_USER, "Environment", RegistryPath{true, REG_EXPAND_SZ, "C:\\Bin"});
  ASSERT_EQ(environment.AddToPath(u"C:\\CorvUndo", true, &restart), 0);
  Logger log(XString(u"Test"));
  log.LogPathEntry(u"C:\\CorvUndo");
  log.LogPathEntry(u"C:\\CorvNeverAdded");
  Win32SystemUndo undo;
  EXPECT_EQ(log.Undo(undo), OptString(u"Unable to remove 'C:\\CorvNeverAdded' from PATH\r\n"));
  EXPECT_EQ(ReadPath(HKEY_CURRENT_USER, "Environment").text, "C:\\Bin");
}

TEST(SameTextIgnoringCase, FoldsLettersOfTheCodePage) {
  // 0xC4 and 0xE4 are A and a with diaeresis in code page 1252; 0x8E and
  // 0x84 the same letters in code page 437.
  ASSERT_EQ(GetACP(), 1252u);
  ASSERT_EQ(GetOEMCP(), 437u);
  EXPECT_TRUE(SameTextIgnoringCase("C:\\\xC4pfel", "c:\\\xE4PFEL", CodePage::kAnsi));
  EXPECT_TRUE(SameTextIgnoringCase("C:\\\x8Epfel", "c:\\\x84PFEL", CodePage::kOem));
  EXPECT_FALSE(SameTextIgnoringCase("C:\\\xC4pfel", "C:\\Apfel", CodePage::kAnsi));
  EXPECT_FALSE(SameTextIgnoringCase("C:\\a", "C:\\ab", CodePage::kAnsi));
}

TEST(DefaultAutoexecPath, TheSystemDriveRootOrC) {
  EXPECT_EQ(DefaultAutoexecPath(), u"C:\\autoexec.bat");
}

}  // namespace
}  // namespace corv

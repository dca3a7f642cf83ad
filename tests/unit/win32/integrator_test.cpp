#include "infrastructure/integrator.h"

#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <fstream>
#include <string>

#include "kernel/logger.h"
#include "util/file.h"
#include "util/messages.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv {
namespace {

// The built shfolder.dll, as a path Wine understands.
XString ShfolderLibrary() {
  std::string unix = CORV_SHFOLDER_DLL;
  std::string windows = "Z:";
  for (char c : unix) windows += c == '/' ? '\\' : c;
  return FromUtf8(windows);
}

std::vector<LogRecord> Records(const Logger& log) { return {log.records().begin(), log.records().end()}; }

bool KeyExists(HKEY root, const char* path) {
  win32::UniqueKey key;
  return RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

std::string ReadDefault(HKEY root, const char* path, const char* value = nullptr) {
  win32::UniqueKey key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return "<no key>";
  char buffer[1024] = {};
  DWORD size = sizeof buffer, type = 0;
  if (RegQueryValueExA(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return "<no value>";
  return buffer;
}

// Scratch keys, removed again in teardown.
class IntegratorTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override {
    log.Undo(undo_);
  }

  Win32SystemUndo undo_;
  Logger log{XString(u"Test")};
};

TEST(UninstallKeyName, LeadingLettersAndPadding) {
  EXPECT_EQ(UninstallKeyName(u"Ab cdef", 0), u"Ab_Deploy_0");
  EXPECT_EQ(UninstallKeyName(u"1Product", 0), u"_Deploy_0");
  EXPECT_EQ(UninstallKeyName(u" Product", 3), u"_Deploy_3");
  EXPECT_EQ(UninstallKeyName(u"ABCDEFGHIJKLMNOPQRST", 1), u"ABCDEFGHIJKLMNOP_1");
  EXPECT_EQ(UninstallKeyName(u"Hello_World 2", 7), u"Hello_World_7");
  EXPECT_EQ(UninstallKeyName(u"Gr\u00fc\u00dfe", 0), u"Gr_Deploy_0");
}

TEST(Administrator, WineUserIsAdministratorOnNT) {
  ASSERT_TRUE(win32::IsWindowsNT());
  EXPECT_TRUE(win32::IsAdministrator());
}

TEST_F(IntegratorTest, KeyPathLogsCreatedKeysParentFirst) {
  bool existed = true;
  win32::RegistryKey key =
      CreateRegistryKeyPath(kRootCurrentUser, u"Software\\CorvTest\\A\\B", log, false, &existed);
  ASSERT_TRUE(key);
  key = win32::RegistryKey();
  EXPECT_FALSE(existed);
  // "Software" existed and is not logged; the newest record comes first.
  std::vector<LogRecord> expected = {
      {kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\CorvTest\\A\\B"},
      {kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\CorvTest\\A"},
      {kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\CorvTest"},
  };
  EXPECT_EQ(Records(log), expected);

  Logger second(XString(u"Second"));
  key = CreateRegistryKeyPath(kRootCurrentUser, u"Software\\CorvTest\\A", second, true, &existed);
  ASSERT_TRUE(key);
  key = win32::RegistryKey();
  EXPECT_TRUE(existed);
  std::vector<LogRecord> onlyLast = {{kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\CorvTest\\A"}};
  EXPECT_EQ(Records(second), onlyLast);
}

TEST_F(IntegratorTest, DeleteRegistryKeyNeedsAKnownPrefix) {
  EXPECT_FALSE(DeleteRegistryKey(u"HKEY_USERS\\.DEFAULT\\Software\\CorvTest"));
  EXPECT_FALSE(DeleteRegistryKey(u"hkey_current_user\\Software\\CorvTest"));
  CreateRegistryKeyPath(kRootCurrentUser, u"Software\\CorvTest", log, false, nullptr);
  EXPECT_TRUE(DeleteRegistryKey(u"HKEY_CURRENT_USER\\Software\\CorvTest"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\CorvTest"));
}

TEST_F(IntegratorTest, ProductKeyIsAlwaysLoggedAndReadBack) {
  CreateRegistryKeyPath(kRootCurrentUser, u"Software\\CorvTestProduct", log, false, nullptr);
  Logger product(XString(u"P"));
  ASSERT_TRUE(WriteProductKey(u"CorvTestProduct", u"C:\\Program Files\\Corv Test", false, product));
  std::vector<LogRecord> expected = {{kLogRegistryKey, u"HKEY_CURRENT_USER\\Software\\CorvTestProduct"}};
  EXPECT_EQ(Records(product), expected);
  EXPECT_EQ(ReadInstallPath(u"CorvTestProduct", kRootCurrentUser), OptString(u"C:\\Program Files\\Corv Test"));
  EXPECT_EQ(ReadInstallPath(u"CorvTestMissing", kRootCurrentUser), std::nullopt);
  EXPECT_EQ(ReadRegistryString(kRootCurrentUser, u"Software\\CorvTestProduct", u"Missing"), std::nullopt);
}

TEST_F(IntegratorTest, AssociationWritesThreeKeys) {
  IntegrationTarget target;
  target.destination = u"C:\\Corv";
  target.packageName = u"CorvTestPkg";
  AssociationEntry with{u"cvt", u"Corv test", u"Corv Test File", u"bin\\open.exe", u"-r $(Root) %1", true};
  ASSERT_TRUE(RegisterAssociation(with, target, log));
  EXPECT_EQ(ReadDefault(HKEY_CLASSES_ROOT, "CorvTestPkg.cvt"), "Corv Test File");
  EXPECT_EQ(ReadDefault(HKEY_CLASSES_ROOT, ".cvt"), "CorvTestPkg.cvt");
  EXPECT_EQ(ReadDefault(HKEY_CLASSES_ROOT, "CorvTestPkg.cvt\\Shell\\open\\command"),
            "\"C:\\Corv\\bin\\open.exe\" -r C:\\Corv %1");
  AssociationEntry without{u"cvu", u"", u"U", u"u.exe", u"", true};
  ASSERT_TRUE(RegisterAssociation(without, target, log));
  EXPECT_EQ(ReadDefault(HKEY_CLASSES_ROOT, "CorvTestPkg.cvu\\Shell\\open\\command"), "\"C:\\Corv\\u.exe\"");
}

TEST_F(IntegratorTest, SecondUninstallEntryTakesTheNextCounter) {
  ASSERT_TRUE(CreateUninstallEntry(u"CorvTestApp", u"C:\\A\\uninstall.exe", u"C:\\A", log));
  ASSERT_TRUE(CreateUninstallEntry(u"CorvTestApp", u"C:\\B B\\uninstall.exe", u"C:\\B B", log));
  const char* base = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  EXPECT_EQ(ReadDefault(HKEY_LOCAL_MACHINE, (std::string(base) + "CorvTestApp_0").c_str(), "UninstallString"),
            "C:\\A\\uninstall.exe");
  EXPECT_EQ(ReadDefault(HKEY_LOCAL_MACHINE, (std::string(base) + "CorvTestApp_1").c_str(), "UninstallString"),
            "\"C:\\B B\\uninstall.exe\"");
  EXPECT_EQ(ReadDefault(HKEY_LOCAL_MACHINE, (std::string(base) + "CorvTestApp_1").c_str(), "DisplayName"),
            "CorvTestApp");
}

TEST_F(IntegratorTest, ShellFoldersThroughTheOwnLibrary) {
  XString desktop, common;
  ASSERT_TRUE(GetShellFolder(false, kLocationDesktop, ShfolderLibrary(), &desktop));
  EXPECT_NE(ToUtf8(desktop).find("Desktop"), std::string::npos) << ToUtf8(desktop);
  ASSERT_TRUE(GetShellFolder(true, kLocationProgramFolder, ShfolderLibrary(), &common));
  EXPECT_NE(common, desktop);
  EXPECT_FALSE(GetShellFolder(false, kLocationDesktop, u"C:\\no\\such\\shfolder.dll", &desktop));
  EXPECT_THROW(GetShellFolder(false, 4, ShfolderLibrary(), &desktop), AssertionFailedError);
}

TEST_F(IntegratorTest, ShortcutInSubfolderOfProgramGroupIsLogged) {
  IntegrationTarget target;
  target.destination = u"C:\\CorvApp";
  target.programFolder = u"Corv Test Group";
  target.shfolderLibrary = ShfolderLibrary();
  ShortcutEntry entry{kLocationProgramFolder, u"Tools\\Run", XString(u"app.exe"), 0, u"", u"bin\\app.exe",
                       u"--root $(Root)"};
  ASSERT_TRUE(CreateShortcut(entry, target, log));
  XString programs;
  ASSERT_TRUE(GetShellFolder(false, kLocationProgramFolder, ShfolderLibrary(), &programs));
  XString group = programs + u"\\Corv Test Group";
  XString link = group + u"\\Tools\\Run.lnk";
  std::vector<LogRecord> expected = {
      {kLogFile, link},
      {kLogDirectory, group + u"\\Tools"},
      {kLogDirectory, group},
  };
  EXPECT_EQ(Records(log), expected);
  EXPECT_TRUE(File(link).exists());
}

class CollectWarnings : public IntegrationWarnings {
public:
  void warn(const XString& text) override { texts.push_back(text); }
  std::vector<XString> texts;
};

TEST_F(IntegratorTest, FailuresBecomeWarnings) {
  IntegrationTarget target;
  target.destination = u"C:\\CorvApp";
  target.packageName = u"CorvTestWarn";
  target.productKey = u"CorvTestWarnKey";
  target.shfolderLibrary = u"C:\\missing\\shfolder.dll";
  Infrastructure entries;
  entries.addShortcut({kLocationDesktop, u"App", std::nullopt, 0, u"", u"a.exe", u""});
  entries.addShortcut({kLocationStartup, u"Off", std::nullopt, 0, u"", u"a.exe", u""});
  entries.setLocationEnabled(kLocationStartup, false);
  CollectWarnings warnings;
  InstallSystemIntegration(entries, target, log, warnings);
  ASSERT_EQ(warnings.texts.size(), 1u);
  EXPECT_EQ(warnings.texts[0], u"Unable to create shortcut App");
  EXPECT_EQ(ReadInstallPath(u"CorvTestWarnKey", kRootCurrentUser), OptString(u"C:\\CorvApp"));
}

}  // namespace
}  // namespace corv

// Behaviour of files, paths and the install log that only Windows shows:
// sharing of open files, drives and volumes, attributes, the ANSI code page.
// (The read-only attribute is not tested here: Wine run as root writes
// through it.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kernel/logger.h"
#include "scratch.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {
namespace {

using namespace FileSys;

class FilesWin32Test : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  ScratchFolder dir;
};

TEST_F(FilesWin32Test, UndoWithAFileHeldOpenRemovesEverythingElseAndNamesThatFile) {
  Logger log(XString(u"P"));
  ASSERT_EQ(Directory(dir.path(u"app\\bin\\sub")).createDirectories(&log.DirectoryListener()), 0);
  dir.writeFile("app/readme.txt", "r");
  dir.writeFile("app/bin/run.exe", "MZ");
  dir.writeFile("app/bin/sub/data.bin", "d");
  dir.writeFile("held.txt", "h");
  log.LogFile(File(dir.path(u"app\\readme.txt")));
  log.LogFile(File(dir.path(u"held.txt")));
  log.LogFile(File(dir.path(u"app\\bin\\run.exe")));
  log.LogFile(File(dir.path(u"app\\bin\\sub\\data.bin")));

  File held(dir.path(u"held.txt"));
  ASSERT_EQ(held.open(kFileRead), 0);
  OptString errors = log.Undo();
  held.close();

  ASSERT_TRUE(errors);
  EXPECT_EQ(*errors, u"Unable to delete file " + dir.path(u"held.txt") + u"\r\n");
  EXPECT_FALSE(dir.exists("app"));
  EXPECT_TRUE(dir.exists("held.txt"));
  EXPECT_EQ(log.records(), (std::list<LogRecord>{{kLogFile, dir.path(u"held.txt")}}));
  EXPECT_EQ(log.Undo(), std::nullopt) << "closed, it goes at the second undo";
  EXPECT_FALSE(dir.exists("held.txt"));
}

TEST_F(FilesWin32Test, AFolderStillHoldingAnOpenFileStaysWithItsFile) {
  Logger log(XString(u"P"));
  ASSERT_EQ(Directory(dir.path(u"app")).createDirectories(&log.DirectoryListener()), 0);
  dir.writeFile("app/held.txt", "h");
  log.LogFile(File(dir.path(u"app\\held.txt")));
  File held(dir.path(u"app\\held.txt"));
  ASSERT_EQ(held.open(kFileReadWrite), 0);
  EXPECT_EQ(log.Undo(), OptString(u"Unable to delete file " + dir.path(u"app\\held.txt") + u"\r\n" +
                                  u"Unable to delete directory " + dir.path(u"app") + u"\r\n"));
}

TEST_F(FilesWin32Test, ProgramsAreExecutable) {
  dir.writeFile("tool.exe", "MZ");
  dir.writeFile("notes.txt", "n");
  EXPECT_NE(File(dir.path(u"tool.exe")).permissions() & kPermissionExecute, 0);
  EXPECT_EQ(File(dir.path(u"notes.txt")).permissions() & kPermissionExecute, 0);
}

TEST_F(FilesWin32Test, PathsInTheAnsiCodePage) {
  const XString name = u"caf\u00E9 \u00C4.txt";  // in code page 1252
  File f(Directory(dir.path()), name);
  EXPECT_EQ(f.ansiPath(), ToAnsi(dir.path()) + "\\caf\xE9 \xC4.txt");
  ASSERT_EQ(f.open(kFileWrite), 0);
  ASSERT_EQ(f.write("x", 1), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.native() / std::filesystem::path(L"caf\u00E9 \u00C4.txt")));
}

TEST_F(FilesWin32Test, CharactersTheCodePageLacksNeverBecomeLookAlikes) {
  ASSERT_EQ(GetACP(), 1252u);
  // Fullwidth full stop, reverse solidus and colon: with a best fit they
  // would read "..\x:y" and climb out of the folder.
  const XString fullwidth = u"\uFF0E\uFF0E\uFF3Cx\uFF1Ay";
  EXPECT_EQ(ToAnsi(fullwidth), "???x?y");
  EXPECT_EQ(ToOem(fullwidth), "???x?y");
  EXPECT_EQ(File(Directory(dir.path()), fullwidth).ansiPath(), ToAnsi(dir.path()) + "\\???x?y");
  EXPECT_FALSE(IsAnsiConvertible(fullwidth));
  EXPECT_FALSE(IsAnsiConvertible(XString(u"\u041F\u0440\u0438\u0432\u0435\u0442")));  // Cyrillic
  EXPECT_FALSE(IsAnsiConvertible(XString(1, static_cast<XChar>(0xD800))));      // a lone surrogate
  // The yen sign is a character of its own in this code page.
  EXPECT_EQ(ToAnsi(u"\u00A5"), "\xA5");
  EXPECT_TRUE(IsAnsiConvertible(XString(u"caf\u00E9 \u00A5 \u20AC")));
}

TEST_F(FilesWin32Test, AHiddenFileMakesAFolderNonEmpty) {
  dir.writeFile("h/.hidden", "");
  ASSERT_TRUE(SetFileAttributesA(ToAnsi(dir.path(u"h\\.hidden")).c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(IsFolderEmpty(dir.path(u"h")));
  dir.writeFile("e/x", "");
  ASSERT_EQ(File(dir.path(u"e\\x")).remove(), 0);
  EXPECT_TRUE(IsFolderEmpty(dir.path(u"e")));
}

TEST_F(FilesWin32Test, DrivesAndVolumes) {
  EXPECT_EQ(SystemDriveRoot().widePath(), u"C:\\");
  uint64_t free = FreeSpace(u"C:\\");
  EXPECT_NE(free, kUnknownSpace);
  EXPECT_GT(free, 0u);
  EXPECT_TRUE(HasEnoughSpace(u"C:\\Program Files\\New Product", 1));
  EXPECT_FALSE(HasEnoughSpace(u"C:\\Program Files\\New Product", free + (uint64_t(1) << 50)));
  EXPECT_EQ(FreeSpace(u"\\\\no-such-server\\share\\dir"), kUnknownSpace);

  uint32_t cluster = ClusterSize(u"C:\\anything");
  EXPECT_GE(cluster, 512u);
  EXPECT_EQ(cluster & (cluster - 1), 0u) << "a power of two";
  EXPECT_EQ(RequiredSpace(u"C:\\App", {1, 0, -1}), cluster);
}

TEST_F(FilesWin32Test, ProgramFilesFolderIsTheSystemsOne) {
  std::optional<Directory> folder = ProgramFilesFolder();
  ASSERT_TRUE(folder);
  EXPECT_TRUE(File(folder->widePath()).isDirectory());
  char env[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("ProgramFiles", env, sizeof env);
  ASSERT_GT(n, 0u);
  EXPECT_TRUE(SameText(folder->widePath(), ToWide(std::string(env, n))));
}

TEST_F(FilesWin32Test, RelativeAndDriveRelativePathsAreCompletedBySystem) {
  XString current = CurrentFolder().widePath();
  EXPECT_EQ(RootOfPath(u"relative\\x"), OptString(current.substr(0, 2)));
  XString driveRelative = MakeAbsolutePath(u"C:x.txt");
  EXPECT_EQ(driveRelative.substr(0, 3), u"C:\\");
  EXPECT_EQ(driveRelative.substr(driveRelative.size() - 6), u"\\x.txt");
}

TEST_F(FilesWin32Test, APathTooLongForTheSystemStaysUnnormalised) {
  XString longPath = u"C:\\" + XString(300, u'a') + u"\\..\\b";
  EXPECT_EQ(MakeAbsolutePath(longPath), longPath);
  EXPECT_EQ(MakeAbsolutePath(u"C:\\" + XString(250, u'a') + u"\\..\\b"), u"C:\\b");
}

TEST_F(FilesWin32Test, SameTextIgnoresTheCaseOfEveryLetter) {
  EXPECT_TRUE(SameText(u"\u00C4PFEL \u0416", u"\u00E4pfel \u0436"));
  EXPECT_FALSE(SameText(u"\u00C4", u"A"));
}

}  // namespace
}  // namespace corv

#include "util/filesys.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

using namespace FileSys;

class FileSysTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }
};

TEST_F(FileSysTest, MakeAbsolutePathJoinsTrimsAndNormalises) {
  EXPECT_EQ(MakeAbsolutePath(u"bin/tool.exe", XString(u"C:\\App\\")), u"C:\\App\\bin\\tool.exe");
  EXPECT_EQ(MakeAbsolutePath(u"bin\\tool.exe", XString(u"C:\\App")), u"C:\\App\\bin\\tool.exe");
  EXPECT_EQ(MakeAbsolutePath(u"D:\\x", XString(u"C:\\App")), u"D:\\x") << "a rooted path ignores the base";
  EXPECT_EQ(MakeAbsolutePath(u"C:\\"), u"C:\\") << "the root keeps its backslash";
  EXPECT_EQ(MakeAbsolutePath(u"C:\\Tools\\"), u"C:\\Tools");
  EXPECT_EQ(MakeAbsolutePath(u" \tC:\\Tools \t"), u"C:\\Tools");
  EXPECT_EQ(MakeAbsolutePath(u"C:\\a\\.\\b\\..\\c"), u"C:\\a\\c");
  EXPECT_EQ(MakeAbsolutePath(u"..\\..\\x", XString(u"C:\\a")), u"C:\\x") << "never above the root";
  EXPECT_EQ(MakeAbsolutePath(u"\\\\srv\\share\\dir\\..\\f.txt"), u"\\\\srv\\share\\f.txt");
  EXPECT_EQ(MakeAbsolutePath(u"  ", XString(u"C:\\App")), u"C:\\App") << "blank joins as the base itself";
}

TEST_F(FileSysTest, MakeAbsolutePathRefusesAnEmptyBase) {
  EXPECT_THROW(MakeAbsolutePath(u"x.txt", XString()), AssertionFailedError);
  EXPECT_EQ(MakeAbsolutePath(u"C:\\x.txt", XString()), u"C:\\x.txt") << "not needed for a rooted path";
}

TEST_F(FileSysTest, MakeAbsolutePathCompletesARelativePathFromTheCurrentFolder) {
  XString current = CurrentFolder().widePath();
  EXPECT_EQ(MakeAbsolutePath(u"sub\\f.txt"), current + u"\\sub\\f.txt");
  EXPECT_EQ(MakeAbsolutePath(u"."), current);
}

TEST_F(FileSysTest, DriveRootOfDrivesSharesAndRelativePaths) {
  EXPECT_EQ(DriveRoot(u"C:\\App\\x"), AnsiString("C:"));
  EXPECT_EQ(DriveRoot(u"c:"), AnsiString("c:"));
  EXPECT_EQ(DriveRoot(u"\\\\srv\\share"), AnsiString("\\\\srv\\share")) << "no trailing separator needed";
  EXPECT_EQ(DriveRoot(u"\\\\srv\\share\\dir\\f.txt"), AnsiString("\\\\srv\\share"));
  EXPECT_EQ(DriveRoot(u"\\\\srv"), std::nullopt);
  EXPECT_EQ(DriveRoot(u"\\\\srv\\\\share"), std::nullopt) << "an empty share name";
  EXPECT_EQ(DriveRoot(u"bin\\tool.exe"), std::nullopt);
  EXPECT_EQ(DriveRoot(u"\\App"), std::nullopt);
  EXPECT_EQ(DriveRoot(u""), std::nullopt);
}

TEST_F(FileSysTest, RootOfARootedPathIsItsDriveRoot) {
  EXPECT_EQ(RootOfPath(u"D:\\x\\y"), OptString(u"D:"));
  EXPECT_EQ(RootOfPath(u"\\\\srv\\share\\y"), OptString(u"\\\\srv\\share"));
}

TEST_F(FileSysTest, BackPathClimbsFromTheFilesFolderToTheBase) {
  EXPECT_EQ(BackPath(u"bin\\tool.exe"), OptString(u".."));
  EXPECT_EQ(BackPath(u"a\\b\\c.txt"), OptString(u"..\\.."));
  EXPECT_EQ(BackPath(u"a/b/c.txt"), OptString(u"..\\..")) << "`/` separates as well";
  EXPECT_EQ(BackPath(u"x.txt"), OptString(u""));
  EXPECT_EQ(BackPath(u""), OptString(u""));
  EXPECT_EQ(BackPath(u"..\\x"), std::nullopt);
  EXPECT_EQ(BackPath(u"a\\..\\..\\x"), std::nullopt);
  EXPECT_EQ(BackPath(u"a\\..\\b\\c"), OptString(u".."));
  EXPECT_EQ(BackPath(u"./a/b"), OptString(u".."));
  EXPECT_EQ(BackPath(u"\\\\a\\\\b"), OptString(u"..")) << "repeated separators count once";
  EXPECT_EQ(BackPath(u"a\\.."), OptString(u"..")) << "a trailing .. without separator is the file name";
  EXPECT_EQ(BackPath(u"a\\..x\\f"), OptString(u"..\\..")) << "..x is a name";
  EXPECT_EQ(BackPath(u"a\\b\\"), OptString(u"..\\.."));
}

TEST_F(FileSysTest, IsSeparator) {
  EXPECT_TRUE(IsSeparator(u'\\'));
  EXPECT_TRUE(IsSeparator(u'/'));
  EXPECT_FALSE(IsSeparator(u':'));
}

TEST_F(FileSysTest, SpaceIsCountedInWholeClusters) {
  EXPECT_EQ(SpaceInClusters({1}, 4096), 4096u);
  EXPECT_EQ(SpaceInClusters({4096}, 4096), 4096u);
  EXPECT_EQ(SpaceInClusters({4097}, 4096), 8192u);
  EXPECT_EQ(SpaceInClusters({0}, 4096), 0u) << "an empty file";
  EXPECT_EQ(SpaceInClusters({-1}, 4096), 0u) << "a folder entry";
  EXPECT_EQ(SpaceInClusters({1, 0, -1, 2049, 5000000000}, 2048), 2048u + 4096u + 5000001536u);
  EXPECT_EQ(SpaceInClusters({1}, 0), uint64_t(kDefaultClusterSize));
  EXPECT_EQ(SpaceInClusters({INT64_MAX, INT64_MAX, INT64_MAX}, 4096), kUnknownSpace) << "saturates";
}

TEST_F(FileSysTest, WithoutARootTheClusterIsTheDefaultAndFreeSpaceUnknown) {
  EXPECT_EQ(ClusterSize(u"relative\\dir"), kDefaultClusterSize);
  EXPECT_EQ(RequiredSpace(u"relative\\dir", {1, 2049}), 2048u + 4096u);
  EXPECT_EQ(FreeSpace(u"relative\\dir"), kUnknownSpace);
  EXPECT_TRUE(HasEnoughSpace(u"relative\\dir", kUnknownSpace - 1)) << "unknown space never blocks";
}

TEST_F(FileSysTest, EnoughSpace) {
  EXPECT_TRUE(IsEnoughSpace(kUnknownSpace, 1));
  EXPECT_TRUE(IsEnoughSpace(100, 100));
  EXPECT_FALSE(IsEnoughSpace(99, 100));
  EXPECT_TRUE(IsEnoughSpace(uint64_t(1) << 40, (uint64_t(1) << 40) - 1)) << "64-bit comparison";
  EXPECT_FALSE(IsEnoughSpace(uint64_t(1) << 32, (uint64_t(1) << 32) + 1));
}

TEST_F(FileSysTest, FolderEmptiness) {
  ScratchFolder dir;
  EXPECT_TRUE(IsFolderEmpty(dir.path()));
  dir.writeFile("sub/x", "");
  EXPECT_FALSE(IsFolderEmpty(dir.path()));
  EXPECT_FALSE(IsFolderEmpty(dir.path(u"sub")));
  EXPECT_TRUE(IsFolderEmpty(dir.path(u"missing"))) << "a failed enumeration answers true";
}

TEST_F(FileSysTest, SameTextIgnoresCase) {
  EXPECT_TRUE(SameText(u"C:\\Program Files", u"c:\\PROGRAM files"));
  EXPECT_TRUE(SameText(u"", u""));
  EXPECT_FALSE(SameText(u"abc", u"abd"));
  EXPECT_FALSE(SameText(u"abc", u"abcd"));
}

TEST_F(FileSysTest, FormatTimeIsTheCLibrarysFormWithoutLineFeed) {
  OptString text = FormatTime(1000000000);  // 2001-09-09, far from a year's end in any zone
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 24u) << ToUtf8(*text);
  EXPECT_EQ(text->find(u'\n'), XString::npos);
  EXPECT_NE(text->find(u"Sep"), XString::npos);
  EXPECT_EQ(text->substr(20), u"2001");
}

TEST_F(FileSysTest, FoldersOfTheSystem) {
  Directory current = CurrentFolder();
  EXPECT_TRUE(current.exists());
  EXPECT_EQ(current.widePath(), MakeAbsolutePath(u"."));
  std::optional<Directory> temp = TempFolder();
  ASSERT_TRUE(temp);
  EXPECT_TRUE(temp->exists());
  EXPECT_TRUE(File(temp->widePath()).isDirectory());
  EXPECT_NE(temp->widePath().back(), u'\\') << "no trailing separator";
  Directory system = SystemDriveRoot();
  EXPECT_EQ(system.widePath().size(), 3u);
  EXPECT_EQ(system.widePath().substr(1), u":\\");
}

TEST_F(FileSysTest, InstallerModuleFileIsTheRunningProgram) {
  std::unique_ptr<File> self = InstallerModuleFile();
  ASSERT_TRUE(self);
  EXPECT_TRUE(self->exists());
  EXPECT_FALSE(self->isOpen());
  EXPECT_GT(self->size(), 0);
  ASSERT_EQ(self->open(kFileRead), 0);
  char magic[2] = {};
  ASSERT_EQ(self->read(magic, 2), 2);
#ifdef _WIN32
  EXPECT_EQ(std::string(magic, 2), "MZ");
#else
  EXPECT_EQ(std::string(magic, 2), "\x7f" "E");
#endif
}

}  // namespace
}  // namespace corv

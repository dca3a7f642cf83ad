#include "util/file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

class FileTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  std::string readAll(File& f) {
    std::string out;
    char buf[7];
    for (;;) {
      int32_t got = f.read(buf, sizeof buf);
      EXPECT_GE(got, 0);
      if (got <= 0) return out;
      out.append(buf, static_cast<size_t>(got));
    }
  }

  ScratchFolder dir;
};

// Records what createDirectories reports.
class CreatedFolders : public DirectoryListener {
public:
  void folderCreated(const Directory& folder) override { paths.push_back(folder.widePath()); }
  std::vector<XString> paths;
};

TEST_F(FileTest, ModesCreateTruncateAppendAndRequireAnExistingFile) {
  File f(dir.path(u"data.bin"));
  EXPECT_NE(f.open(kFileReadWrite), 0) << "mode 4 needs an existing file";
  EXPECT_FALSE(f.isOpen());
  EXPECT_NE(f.open(kFileRead), 0);

  ASSERT_EQ(f.open(kFileWrite), 0);
  EXPECT_EQ(f.write("hello world", 11), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(dir.readFile("data.bin"), "hello world");

  ASSERT_EQ(f.open(kFileAppend), 0);
  EXPECT_EQ(f.write("!\n", 2), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(dir.readFile("data.bin"), "hello world!\n") << "binary: the line feed stays one byte";

  ASSERT_EQ(f.open(kFileRead), 0);
  EXPECT_EQ(readAll(f), "hello world!\n");
  EXPECT_NE(f.write("x", 1), 0) << "read-only descriptor";
  ASSERT_EQ(f.close(), 0);

  ASSERT_EQ(f.open(kFileReadWrite), 0);
  EXPECT_EQ(f.write("J", 1), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(dir.readFile("data.bin"), "Jello world!\n") << "mode 4 neither truncates nor appends";

  ASSERT_EQ(f.open(kFileWrite), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(f.size(), 0) << "mode 2 truncates";
}

TEST_F(FileTest, MisuseIsAnAssertionFailure) {
  File f(dir.path(u"a.txt"));
  ASSERT_EQ(f.open(kFileWrite), 0);
  EXPECT_THROW(f.open(kFileWrite), AssertionFailedError) << "an open file is not opened twice";
  EXPECT_TRUE(f.isOpen());
  try {
    f.setModificationTime(1000000000);
    FAIL() << "setModificationTime on an open file";
  } catch (const AssertionFailedError& e) {
    EXPECT_EQ(e.message(), u"ASSERT: file ..\\src\\util\\file.cpp, line 486");
  }
  ASSERT_EQ(f.close(), 0);
  EXPECT_THROW(f.open(0), AssertionFailedError);
  EXPECT_THROW(f.open(7), AssertionFailedError);
  EXPECT_FALSE(f.isOpen());
}

TEST_F(FileTest, CloseOnlyAnOpenFileAndReopen) {
  dir.writeFile("a.txt", "abc");
  File f(dir.path(u"a.txt"));
  EXPECT_NE(f.close(), 0);
  ASSERT_EQ(f.open(kFileRead), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_NE(f.close(), 0);
  ASSERT_EQ(f.open(kFileRead), 0);
  EXPECT_EQ(readAll(f), "abc");
}

TEST_F(FileTest, SeekOriginsAndTell) {
  dir.writeFile("n.txt", "0123456789");
  File f(dir.path(u"n.txt"));
  ASSERT_EQ(f.open(kFileRead), 0);
  EXPECT_EQ(f.seek(kSeekStart, 3), 0);
  EXPECT_EQ(f.tell(), 3);
  EXPECT_EQ(f.seek(kSeekCurrent, 2), 0);
  EXPECT_EQ(f.tell(), 5);
  EXPECT_EQ(f.seek(kSeekEnd, -1), 0);
  EXPECT_EQ(f.tell(), 9);
  char c = 0;
  EXPECT_EQ(f.read(&c, 1), 1);
  EXPECT_EQ(c, '9');
  EXPECT_EQ(f.read(&c, 1), 0) << "end of file";

  EXPECT_EQ(f.seek(kSeekStart, 4), 0);
  EXPECT_NE(f.seek(0, 1), 0);
  EXPECT_NE(f.seek(4, 1), 0);
  EXPECT_EQ(f.tell(), 4) << "an unknown origin does not move";
  EXPECT_NE(f.seek(kSeekStart, -5), 0) << "before the start";
  EXPECT_EQ(f.tell(), 4);
}

TEST_F(FileTest, PositionsBeyondFourGibibytesAreKept) {
  File f(dir.path(u"sparse.bin"));
  ASSERT_EQ(f.open(kFileWrite), 0);
  const int64_t beyond4G = (int64_t(1) << 32) + 5;
  ASSERT_EQ(f.seek(kSeekStart, beyond4G), 0);
  EXPECT_EQ(f.tell(), beyond4G);
}

TEST_F(FileTest, FilesOfTwoGibibytesOrMoreHaveNoSize) {
  File f(dir.path(u"big.bin"));
  ASSERT_EQ(f.open(kFileWrite), 0);
  ASSERT_EQ(f.seek(kSeekStart, (int64_t(1) << 31) - 2), 0);
  ASSERT_EQ(f.write("x", 1), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(f.size(), (int64_t(1) << 31) - 1) << "the largest size there is";
  ASSERT_EQ(f.open(kFileAppend), 0);
  ASSERT_EQ(f.write("y", 1), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_EQ(f.size(), -1) << "not a size cut to 32 bits";
  EXPECT_TRUE(f.exists());
}

TEST_F(FileTest, StatOfAMissingFile) {
  File f(dir.path(u"missing.txt"));
  EXPECT_FALSE(f.exists());
  EXPECT_FALSE(f.isDirectory());
  EXPECT_EQ(f.size(), -1);
  EXPECT_EQ(f.modificationTime(), 0);
  EXPECT_EQ(f.permissions(), 0);
  EXPECT_NE(f.remove(), 0);
  EXPECT_NE(f.setModificationTime(1000), 0);
  EXPECT_NE(f.setPermissions(kPermissionRead), 0);
}

TEST_F(FileTest, StatOfAFileAndAFolder) {
  dir.writeFile("sub/f.txt", "12345");
  File f(dir.path(u"sub\\f.txt"));
  EXPECT_TRUE(f.exists());
  EXPECT_FALSE(f.isDirectory());
  EXPECT_EQ(f.size(), 5);
  EXPECT_EQ(f.permissions() & (kPermissionRead | kPermissionWrite), kPermissionRead | kPermissionWrite);

  File folder(dir.path(u"sub"));
  EXPECT_TRUE(folder.exists());
  EXPECT_TRUE(folder.isDirectory());
  EXPECT_NE(folder.open(kFileRead), 0) << "a folder is not a file";
  EXPECT_NE(folder.remove(), 0) << "remove deletes files, not folders";
  EXPECT_TRUE(dir.exists("sub"));
}

TEST_F(FileTest, ModificationTimeIsSetOnAClosedFile) {
  dir.writeFile("t.txt", "x");
  File f(dir.path(u"t.txt"));
  ASSERT_EQ(f.setModificationTime(1000000000), 0);
  EXPECT_EQ(f.modificationTime(), 1000000000);
  EXPECT_TRUE(f.isOlderThan(1000000001));
  EXPECT_FALSE(f.isOlderThan(1000000000));
  EXPECT_FALSE(f.isOlderThan(-5)) << "compared as signed values";
}

TEST_F(FileTest, WriteProtection) {
  dir.writeFile("p.txt", "x");
  File f(dir.path(u"p.txt"));
  ASSERT_EQ(f.setPermissions(kPermissionRead), 0);
  EXPECT_EQ(f.permissions() & kPermissionWrite, 0);
  ASSERT_EQ(f.setPermissions(kPermissionRead | kPermissionWrite), 0);
  EXPECT_EQ(f.permissions() & kPermissionWrite, kPermissionWrite);
}

TEST_F(FileTest, RemoveDeletesTheFile) {
  dir.writeFile("r.txt", "x");
  File f(dir.path(u"r.txt"));
  EXPECT_EQ(f.remove(), 0);
  EXPECT_FALSE(dir.exists("r.txt"));
  EXPECT_NE(f.remove(), 0);
}

TEST_F(FileTest, PathsAreMadeAbsoluteFromEveryConstructor) {
  Directory parent(dir.path());
  File fromParent(parent, XString(u"a\\..\\b.txt"));
  EXPECT_EQ(fromParent.widePath(), dir.path(u"b.txt"));
  File fromAnsiName(parent, AnsiString("c/d.txt"));
  EXPECT_EQ(fromAnsiName.widePath(), dir.path(u"c\\d.txt"));
  File fromAnsi(ToAnsi(dir.path(u"e.txt")));
  EXPECT_EQ(fromAnsi.widePath(), dir.path(u"e.txt"));
  EXPECT_EQ(fromAnsi.ansiPath(), ToAnsi(dir.path(u"e.txt")));
  Directory sub(parent, XString(u"x\\y\\"));
  EXPECT_EQ(sub.widePath(), dir.path(u"x\\y"));
  EXPECT_EQ(Directory(ToAnsi(dir.path())).widePath(), dir.path());
  EXPECT_THROW(File(XString(u"  \t")), AssertionFailedError) << "a path that cannot be made absolute";
}

TEST_F(FileTest, ParentDirectoryIsThePathUpToTheLastBackslash) {
  std::optional<Directory> parent = File(XString(u"C:\\x.txt")).parentDirectory();
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->widePath(), u"C:") << "not the drive's current folder";
  parent = File(XString(u"C:\\App\\bin\\run.exe")).parentDirectory();
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->widePath(), u"C:\\App\\bin");
  EXPECT_EQ(parent->ansiPath(), "C:\\App\\bin");
}

TEST_F(FileTest, DestructorClosesTheDescriptor) {
  {
    File f(dir.path(u"d.txt"));
    ASSERT_EQ(f.open(kFileWrite), 0);
    ASSERT_EQ(f.write("abc", 3), 0);
  }
  EXPECT_EQ(dir.readFile("d.txt"), "abc");
  File again(dir.path(u"d.txt"));
  EXPECT_EQ(again.remove(), 0) << "no descriptor is left open on it";
}

TEST_F(FileTest, CreateDirectoriesReportsEachCreatedFolderParentFirst) {
  dir.writeFile("keep.txt", "");
  Directory deep(dir.path(u"a\\b\\c"));
  CreatedFolders created;
  ASSERT_EQ(deep.createDirectories(&created), 0);
  EXPECT_TRUE(deep.exists());
  EXPECT_EQ(created.paths, (std::vector<XString>{dir.path(u"a"), dir.path(u"a\\b"), dir.path(u"a\\b\\c")}));

  CreatedFolders again;
  EXPECT_EQ(deep.createDirectories(&again), 0);
  EXPECT_TRUE(again.paths.empty()) << "an existing folder reports nothing";

  CreatedFolders partly;
  ASSERT_EQ(Directory(dir.path(u"a\\b\\d\\e")).createDirectories(&partly), 0);
  EXPECT_EQ(partly.paths, (std::vector<XString>{dir.path(u"a\\b\\d"), dir.path(u"a\\b\\d\\e")}));

  EXPECT_EQ(Directory(dir.path(u"f")).createDirectories(), 0) << "the listener is optional";
  EXPECT_TRUE(dir.exists("f"));
}

TEST_F(FileTest, CreateDirectoriesFailsBehindAFile) {
  dir.writeFile("plain", "x");
  CreatedFolders created;
  EXPECT_NE(Directory(dir.path(u"plain\\sub")).createDirectories(&created), 0);
  EXPECT_TRUE(created.paths.empty());
  EXPECT_EQ(Directory(dir.path(u"plain")).createDirectories(&created), 0)
      << "something that exists at the path counts as success";
}

TEST_F(FileTest, RemoveDirectoryOnlyRemovesAnEmptyFolder) {
  dir.writeFile("full/f.txt", "x");
  Directory full(dir.path(u"full"));
  EXPECT_TRUE(full.exists());
  EXPECT_NE(full.removeDirectory(), 0);
  EXPECT_TRUE(full.exists());
  ASSERT_EQ(File(dir.path(u"full\\f.txt")).remove(), 0);
  EXPECT_EQ(full.removeDirectory(), 0);
  EXPECT_FALSE(full.exists());
  EXPECT_NE(full.removeDirectory(), 0);
}

}  // namespace
}  // namespace corv

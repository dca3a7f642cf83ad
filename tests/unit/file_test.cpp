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

TEST_F(FileTest, ModesCreateTruncateAppendRequireAnExistingFileAndCloseOnce) {
  File f(dir.path(u"data.bin"));
  EXPECT_NE(f.open(kFileReadWrite), 0) << "mode 4 needs an existing file";
  EXPECT_FALSE(f.isOpen());
  EXPECT_NE(f.open(kFileRead), 0);
  EXPECT_NE(f.close(), 0) << "only an open file closes";

  ASSERT_EQ(f.open(kFileWrite), 0);
  EXPECT_EQ(f.write("hello world", 11), 0);
  ASSERT_EQ(f.close(), 0);
  EXPECT_NE(f.close(), 0) << "nor twice";
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

  // The destructor closes the descriptor.
  {
    File d(dir.path(u"d.txt"));
    ASSERT_EQ(d.open(kFileWrite), 0);
    ASSERT_EQ(d.write("abc", 3), 0);
  }
  EXPECT_EQ(dir.readFile("d.txt"), "abc");
  EXPECT_EQ(File(dir.path(u"d.txt")).remove(), 0) << "no descriptor is left open on it";
}

TEST_F(FileTest, CreateNewMakesOnlyAFileThatIsNotThere) {
  File fresh(dir.path(u"new.txt"));
  ASSERT_EQ(fresh.createNew(), 0);
  ASSERT_EQ(fresh.write("made", 4) + fresh.close(), 0);
  EXPECT_NE(fresh.createNew(), 0) << "a file of the name is there";
  EXPECT_EQ(dir.readFile("new.txt"), "made") << "and stays as it was";
  EXPECT_NE(File(dir.path(u"")).createNew(), 0) << "a folder of the name is there";
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

  // Positions beyond 4 GiB are kept.
  File sparse(dir.path(u"sparse.bin"));
  ASSERT_EQ(sparse.open(kFileWrite), 0);
  const int64_t beyond4G = (int64_t(1) << 32) + 5;
  ASSERT_EQ(sparse.seek(kSeekStart, beyond4G), 0);
  EXPECT_EQ(sparse.tell(), beyond4G);
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

TEST_F(FileTest, StatTimesPermissionsAndRemovalOfFilesFoldersAndMissingFiles) {
  dir.writeFile("sub/f.txt", "12345");
  File f(dir.path(u"sub\\f.txt"));
  EXPECT_TRUE(f.exists());
  EXPECT_FALSE(f.isDirectory());
  EXPECT_EQ(f.size(), 5);
  EXPECT_EQ(f.permissions() & (kPermissionRead | kPermissionWrite), kPermissionRead | kPermissionWrite);
  // A closed file takes a modification time, compared as a signed value.
  ASSERT_EQ(f.setModificationTime(1000000000), 0);
  EXPECT_EQ(f.modificationTime(), 1000000000);
  EXPECT_TRUE(f.isOlderThan(1000000001));
  EXPECT_FALSE(f.isOlderThan(1000000000));
  EXPECT_FALSE(f.isOlderThan(-5));
  // Write protection comes and goes.
  ASSERT_EQ(f.setPermissions(kPermissionRead), 0);
  EXPECT_EQ(f.permissions() & kPermissionWrite, 0);
  ASSERT_EQ(f.setPermissions(kPermissionRead | kPermissionWrite), 0);
  EXPECT_EQ(f.permissions() & kPermissionWrite, kPermissionWrite);

  File folder(dir.path(u"sub"));
  EXPECT_TRUE(folder.exists());
  EXPECT_TRUE(folder.isDirectory());
  EXPECT_NE(folder.open(kFileRead), 0) << "a folder is not a file";
  EXPECT_NE(folder.remove(), 0) << "remove deletes files, not folders";
  EXPECT_TRUE(dir.exists("sub"));

  EXPECT_EQ(f.remove(), 0);
  EXPECT_FALSE(dir.exists("sub/f.txt"));
  // A missing file has nothing and takes nothing.
  EXPECT_FALSE(f.exists());
  EXPECT_FALSE(f.isDirectory());
  EXPECT_EQ(f.size(), -1);
  EXPECT_EQ(f.modificationTime(), 0);
  EXPECT_EQ(f.permissions(), 0);
  EXPECT_NE(f.remove(), 0);
  EXPECT_NE(f.setModificationTime(1000), 0);
  EXPECT_NE(f.setPermissions(kPermissionRead), 0);
}

TEST_F(FileTest, PathsAreMadeAbsoluteFromEveryConstructorAndEndBeforeTheLastBackslash) {
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

  std::optional<Directory> up = File(XString(u"C:\\x.txt")).parentDirectory();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->widePath(), u"C:") << "not the drive's current folder";
  up = File(XString(u"C:\\App\\bin\\run.exe")).parentDirectory();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->widePath(), u"C:\\App\\bin");
  EXPECT_EQ(up->ansiPath(), "C:\\App\\bin");
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

  // Behind a file nothing is made, but what exists at the path counts.
  dir.writeFile("plain", "x");
  CreatedFolders behind;
  EXPECT_NE(Directory(dir.path(u"plain\\sub")).createDirectories(&behind), 0);
  EXPECT_TRUE(behind.paths.empty());
  EXPECT_EQ(Directory(dir.path(u"plain")).createDirectories(&behind), 0);
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

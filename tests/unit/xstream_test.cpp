#include "util/xstream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

class StreamTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>(i);
    dir.writeFile("hundred.bin", bytes);
  }
  void TearDown() override { ResetLanguage(); }

  ScratchFolder dir;
};

// A file that hands out more than it was asked for.
class GenerousFile : public AbstractFile {
public:
  GenerousFile() : AbstractFile(u"C:\\generous") {}
  int open(int) override { return 0; }
  int32_t read(void* buffer, uint32_t count) override {
    std::memset(buffer, 0, count);
    return static_cast<int32_t>(count) + 1;
  }
  int write(const void*, uint32_t) override { return 1; }
  int close() override { return 0; }
  int remove() override { return 1; }
  int64_t tell() override { return 0; }
  int seek(int, int64_t) override { return 0; }
  int64_t size() override { return 0; }
};

TEST_F(StreamTest, SectionDeliversItsBytesAndNothingBeyond) {
  File f(dir.path(u"hundred.bin"));
  ASSERT_EQ(f.open(kFileRead), 0);
  FileSectionInputStream section(f, 5, 10);
  section.open();
  unsigned char buf[64];
  uint32_t got = section.read(buf, 3);
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(buf[0], 5);
  got = section.read(buf + 3, sizeof buf - 3);
  EXPECT_EQ(got, 7u) << "a large read is cut at the section's end";
  for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], 5 + i);
  EXPECT_EQ(section.read(buf, sizeof buf), 0u);
  EXPECT_EQ(section.read(buf, sizeof buf), 0u);
  EXPECT_EQ(section.remaining(), 0);
  EXPECT_EQ(f.tell(), 15) << "the file was not read beyond the section";
}

TEST_F(StreamTest, SectionPastTheEndOfTheFileEndsWithTheFile) {
  File f(dir.path(u"hundred.bin"));
  ASSERT_EQ(f.open(kFileRead), 0);
  FileSectionInputStream section(f, 95, 50);
  section.open();
  unsigned char buf[64];
  EXPECT_EQ(section.read(buf, sizeof buf), 5u);
  EXPECT_EQ(section.read(buf, sizeof buf), 0u);
  EXPECT_EQ(section.remaining(), 45);
}

TEST_F(StreamTest, SectionFailuresAreFatalReadErrorsNamingTheFile) {
  File closed(dir.path(u"hundred.bin"));
  FileSectionInputStream section(closed, 0, 10);
  try {
    section.open();
    FAIL() << "seek on a closed file";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"Unable to read file " + dir.path(u"hundred.bin"));
  }
  char buf[4];
  EXPECT_THROW(section.read(buf, sizeof buf), FatalError);

  File f(dir.path(u"hundred.bin"));
  ASSERT_EQ(f.open(kFileRead), 0);
  FileSectionInputStream beyond(f, uint64_t(1) << 63, 1);
  EXPECT_THROW(beyond.open(), FatalError) << "an offset the file cannot seek to";
}

TEST_F(StreamTest, AFileThatDeliversTooMuchIsAnAssertionFailure) {
  GenerousFile generous;
  FileSectionInputStream section(generous, 0, 100);
  section.open();
  char buf[8];
  try {
    section.read(buf, 4);
    FAIL() << "more bytes than asked for";
  } catch (const AssertionFailedError& e) {
    EXPECT_EQ(e.message(), u"ASSERT: file ..\\src\\util\\xstream.cpp, line 65");
  }
}

TEST_F(StreamTest, MemoryStreamHoldsExactlyItsCapacity) {
  MemoryOutputStream out(8);
  out.open();
  EXPECT_EQ(out.capacity(), 8u);
  out.write("abcde", 5);
  out.write("fgh", 3);
  EXPECT_EQ(out.fill(), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), out.fill()), "abcdefgh");
  try {
    out.write("i", 1);
    FAIL() << "a byte beyond the capacity";
  } catch (const AssertionFailedError& e) {
    EXPECT_EQ(e.message(), u"ASSERT: file ..\\src\\util\\xstream.cpp, line 95");
  }
  out.write("", 0);
  EXPECT_EQ(out.fill(), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), out.fill()), "abcdefgh");
}

TEST_F(StreamTest, MemoryStreamRefusesAnOversizedWriteWhole) {
  MemoryOutputStream out(4);
  out.write("ab", 2);
  EXPECT_THROW(out.write("cde", 3), AssertionFailedError);
  EXPECT_EQ(out.fill(), 2u) << "nothing of a refused write is kept";
  out.write("cd", 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), 4), "abcd");
}

}  // namespace
}  // namespace corv

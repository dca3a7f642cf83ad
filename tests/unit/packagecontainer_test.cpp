#include "kernel/packagecontainer.h"

#include <gtest/gtest.h>

#include "blockwriter.h"
#include "scratch.h"
#include "streams_support.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

using test::Bytes;

class PackageContainerTest : public ::testing::Test {
protected:
  // Writes `bytes` as the installer file and reads its record.
  Bytes Read(const Bytes& bytes) {
    test::WriteFileBytes(scratch.native("setup.exe"), bytes);
    File file(scratch.path(u"setup.exe"));
    OpenPackageFile(file);
    return ReadInstallInfoRecord(file);
  }

  void ExpectFatal(const Bytes& bytes, int message) {
    try {
      Read(bytes);
      ADD_FAILURE() << "read a record";
    } catch (const FatalError& e) {
      EXPECT_EQ(e.message(), LoadMessage(message));
    }
  }

  static Bytes Record() {
    Bytes r = {'5', 'I', 'I', '1'};
    Bytes rest = test::RandomBytes(700, 8);
    r.insert(r.end(), rest.begin(), rest.end());
    return r;
  }

  // Image, main and auxiliary blocks, the record block, the trailer.
  static Bytes Installer(const Bytes& record, uint64_t recordSize, bool recordFirst = false) {
    Bytes out = test::RandomBytes(4096, 1);
    Bytes main = test::EncodeBlock(test::RandomBytes(3000, 2));
    Bytes aux = test::EncodeBlock(test::RandomBytes(500, 3));
    Bytes rec = test::EncodeBlock(record);
    uint64_t offset;
    if (recordFirst) {
      offset = out.size();
      out.insert(out.end(), rec.begin(), rec.end());
      out.insert(out.end(), 17, 0xCC);  // a gap
      out.insert(out.end(), main.begin(), main.end());
    } else {
      out.insert(out.end(), main.begin(), main.end());
      out.insert(out.end(), aux.begin(), aux.end());
      offset = out.size();
      out.insert(out.end(), rec.begin(), rec.end());
    }
    Bytes trailer = test::Trailer(static_cast<uint32_t>(rec.size()), offset, recordSize);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
  }

  ScratchFolder scratch;
};

TEST(PackageTrailer, ParsesTheFieldsBehindTheMagic) {
  Bytes t = test::Trailer(0x11223344, 0x0102030405060708ull, 0xAABBCCDDull);
  uint8_t raw[kPackageTrailerSize];
  std::copy(t.begin(), t.end(), raw);
  auto parsed = ParsePackageTrailer(raw);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->recordBlockLength, 0x11223344u);
  EXPECT_EQ(parsed->recordBlockOffset, 0x0102030405060708ull);
  EXPECT_EQ(parsed->recordSize, 0xAABBCCDDull);
  raw[3] = '2';
  EXPECT_FALSE(ParsePackageTrailer(raw));
}

TEST_F(PackageContainerTest, FindsTheRecordWhereverTheTrailerSays) {
  Bytes record = Record();
  EXPECT_EQ(Read(Installer(record, record.size())), record);
  EXPECT_EQ(Read(Installer(record, record.size(), true)), record);
  // The capacity may exceed the record; only the low 32 bits count.
  EXPECT_EQ(Read(Installer(record, (uint64_t(7) << 32) + record.size() + 100)), record);
  EXPECT_EQ(Read(Installer(record, 0xFFFFFFFFu)), record);
}

TEST_F(PackageContainerTest, FilesWithoutAPackageFailWith1181) {
  for (size_t n : {0, 1, 23}) ExpectFatal(test::RandomBytes(n, 4), 1181);
  ExpectFatal(test::RandomBytes(100000, 5), 1181);  // an image alone
  // A record that does not begin with the magic.
  Bytes notARecord = Record();
  notARecord[0] = 'X';
  ExpectFatal(Installer(notARecord, notARecord.size()), 1181);
  ExpectFatal(Installer(Bytes(), 0), 1181);
}

TEST_F(PackageContainerTest, TrailersPointingAnywhereFailWith1202) {
  Bytes record = Record();
  Bytes good = Installer(record, record.size());
  for (uint64_t offset : {uint64_t(good.size()), uint64_t(good.size()) + 1000000, uint64_t(1) << 40}) {
    Bytes bad = good;
    Bytes trailer = test::Trailer(5000, offset, record.size());
    std::copy(trailer.begin(), trailer.end(), bad.end() - 24);
    ExpectFatal(bad, 1202);
  }
  // A length that cuts the block short.
  Bytes cut = good;
  Bytes trailer = test::Trailer(40, 4096 + 3000, record.size());
  std::copy(trailer.begin(), trailer.end(), cut.end() - 24);
  ExpectFatal(cut, 1202);
}

TEST_F(PackageContainerTest, RecordLargerThanTheTrailerSaysIsAnAssertion) {
  Bytes record = Record();
  EXPECT_THROW(Read(Installer(record, record.size() - 1)), AssertionFailedError);
}

TEST_F(PackageContainerTest, UnreadableInstallerFailsWith1102) {
  File missing(scratch.path(u"missing.exe"));
  try {
    OpenPackageFile(missing);
    ADD_FAILURE() << "opened a missing file";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), FormatMessageTextWide(1102, missing.widePath()));
  }
}

}  // namespace
}  // namespace corv

#include "kernel/packagecontainer.h"

#include <gtest/gtest.h>

#include "blockwriter.h"
#include "kernel/installrecord.h"
#include "kernel/installrecordlayout.h"
#include "record_samples.h"
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

  // Magic, random bytes, and the checksum at offset 220.
  static Bytes Record() {
    Bytes r = {'5', 'I', 'I', '1'};
    Bytes rest = test::RandomBytes(700, 8);
    r.insert(r.end(), rest.begin(), rest.end());
    test::PutU32(r, layout::kChecksum, RecordChecksum(r.data(), r.size()));
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

TEST_F(PackageContainerTest, RecordsWhoseChecksumDiffersFailWith1202) {
  // Any byte the block decodes to differently, the checksum field included.
  for (size_t at : {4u, 100u, 220u, 223u, 600u, 703u}) {
    Bytes record = Record();
    record[at] ^= 0x01;
    ExpectFatal(Installer(record, record.size()), 1202);
  }
  // A record without one (0) is read unchecked.
  Bytes unchecked = Record();
  test::PutU32(unchecked, layout::kChecksum, 0);
  unchecked[600] ^= 0x01;
  EXPECT_EQ(Read(Installer(unchecked, unchecked.size())), unchecked);
}

TEST_F(PackageContainerTest, SignedInstallersKeepTheirTrailerBeforeTheCertificateTable) {
  // A PE32 header whose security directory (data directory 4) names the
  // certificate table behind the package, aligned to 8 bytes.
  auto signedInstaller = [&](uint32_t padding, uint8_t padByte, int32_t sizeError) {
    Bytes record = Record();
    Bytes out = Installer(record, record.size());
    test::PutU32(out, 0x3C, 0x80);
    const Bytes head = {'P', 'E', 0, 0};
    std::copy(head.begin(), head.end(), out.begin() + 0x80);
    out[0x80 + 20] = 224;  // size of the optional header
    out[0x80 + 21] = 0;
    out[0x80 + 24] = 0x0B;  // PE32
    out[0x80 + 25] = 0x01;
    out.insert(out.end(), padding, padByte);
    const uint32_t table = static_cast<uint32_t>(out.size());
    // One entry of 996 bytes: its header, a DER sequence of 984 bytes; then
    // 4 zeros to the table's end.
    Bytes certificates = {0, 0, 0, 0, 0x00, 0x02, 0x02, 0x00, 0x30, 0x82, 0x03, 0xD8};
    Bytes signature = test::RandomBytes(984, 9);
    certificates.insert(certificates.end(), signature.begin(), signature.end());
    certificates.insert(certificates.end(), 4, 0);
    test::PutU32(certificates, 0, 996);
    out.insert(out.end(), certificates.begin(), certificates.end());
    test::PutU32(out, 0x80 + 24 + 128, table);
    test::PutU32(out, 0x80 + 24 + 132, static_cast<uint32_t>(1000 + sizeError));
    return std::make_pair(out, record);
  };
  for (uint32_t padding : {0u, 3u, 7u}) {
    auto [file, record] = signedInstaller(padding, 0, 0);
    EXPECT_EQ(Read(file), record) << padding;
  }
  // A second package inside the table, with the entry and the directory
  // grown to cover it, is not what was signed: the file is refused.
  {
    auto [file, record] = signedInstaller(0, 0, 0);
    Bytes other = Record();
    Bytes planted = Installer(other, other.size());
    planted.resize((planted.size() + 7) & ~size_t(7));
    const size_t table = file.size() - 1000;
    file.insert(file.end(), planted.begin(), planted.end());
    test::PutU32(file, table, static_cast<uint32_t>(1000 + planted.size()));
    test::PutU32(file, 0x80 + 24 + 132, static_cast<uint32_t>(1000 + planted.size()));
    ExpectFatal(file, 1202);
  }
  // A table that does not end the file, padding that is not zeros, and a
  // trailer further away are a damaged signed package.
  ExpectFatal(signedInstaller(0, 0, -1).first, 1202);
  ExpectFatal(signedInstaller(0, 0, 1).first, 1202);
  ExpectFatal(signedInstaller(4, 0x20, 0).first, 1202);
  ExpectFatal(signedInstaller(8, 0, 0).first, 1202);
  // So is a record block that reaches into the trailer.
  auto [file, record] = signedInstaller(0, 0, 0);
  const size_t trailerAt = file.size() - 1000 - 24;
  Bytes trailer(file.begin() + trailerAt, file.begin() + trailerAt + 24);
  const uint32_t length = trailer[4] | trailer[5] << 8 | trailer[6] << 16 | static_cast<uint32_t>(trailer[7]) << 24;
  test::PutU32(trailer, 4, length + 24);
  std::copy(trailer.begin(), trailer.end(), file.begin() + trailerAt);
  ExpectFatal(file, 1202);
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

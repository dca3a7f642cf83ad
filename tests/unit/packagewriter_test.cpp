#include "packagewriter.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "blockencoder.h"
#include "blockwriter.h"
#include "installerreader.h"
#include "record_samples.h"
#include "recordwriter.h"
#include "scratch.h"
#include "streams_support.h"
#include "util/messages.h"

namespace corv {
namespace {

using test::Bytes;
using test::GetU32;

pack::PackageFile Content(const XString& name, FileTime time, const std::string& bytes) {
  pack::PackageFile f;
  f.entry = {name, time, static_cast<int64_t>(bytes.size())};
  f.content.assign(bytes.begin(), bytes.end());
  return f;
}

pack::PackageFile Folder(const XString& name) {
  pack::PackageFile f;
  f.entry = {name, 0, -1};
  return f;
}

uint64_t GetU64(const Bytes& b, size_t at) {
  return static_cast<uint64_t>(GetU32(b, at)) | static_cast<uint64_t>(GetU32(b, at + 4)) << 32;
}

class PackageWriterTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    stub = test::RandomBytes(1500, 5);
    test::WriteFileBytes(scratch.native("stub.exe"), stub);
    test::WriteFileBytes(scratch.native("product/app.exe"), Bytes{'M', 'Z', 0xE8, 1, 2, 3, 0});
    plan.stub = scratch.native("stub.exe");
    plan.record = test::MinimalRecord();
    plan.record.hookLibrary = u"hooks.dll";
    plan.mainFiles = {Folder(u"bin"), Content(u"bin\\a.txt", 1600000000, "alpha"), Content(u"empty", 5, "")};
    pack::PackageFile onDisk;
    onDisk.entry = {u"bin\\app.exe", 1600000001, 7};
    onDisk.source = scratch.native("product/app.exe");
    plan.mainFiles.push_back(onDisk);
    plan.auxiliaryFiles = {Content(u"hooks.dll", 3, "MZ hook")};
    plan.level = 0;
  }
  void TearDown() override { ResetLanguage(); }

  std::filesystem::path output() const { return scratch.native("setup.exe"); }

  ScratchFolder scratch;
  Bytes stub;
  pack::PackagePlan plan;
};

TEST_F(PackageWriterTest, StubThenMainAuxiliaryAndRecordBlocksThenTrailer) {
  InstallRecord r = pack::WriteInstaller(plan, output());
  Bytes file = test::ReadFileBytes(output());
  ASSERT_GT(file.size(), stub.size() + pack::kTrailerSize);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), file.begin()));

  EXPECT_EQ(r.mainBlock.offset, stub.size());
  EXPECT_EQ(r.mainBlock.decodedSize, 12u);
  EXPECT_EQ(r.auxiliaryBlock.offset, r.mainBlock.offset + r.mainBlock.length);
  EXPECT_EQ(r.auxiliaryBlock.decodedSize, 7u);
  uint64_t recordOffset = r.auxiliaryBlock.offset + r.auxiliaryBlock.length;

  size_t t = file.size() - pack::kTrailerSize;
  EXPECT_EQ(GetU32(file, t), kPackageMagic);
  uint32_t recordLength = GetU32(file, t + 4);
  EXPECT_EQ(GetU64(file, t + 8), recordOffset);
  EXPECT_EQ(recordOffset + recordLength, t);
  EXPECT_EQ(GetU64(file, t + 16), pack::WriteInstallRecord(r).size());

  // Each block names its decoded size first, then 0x5D and 8 MiB.
  for (uint64_t at : {r.mainBlock.offset, r.auxiliaryBlock.offset, recordOffset}) {
    EXPECT_EQ(file[at + 8], 0x5D);
    EXPECT_EQ(GetU32(file, at + 9), 8u << 20);
  }
  EXPECT_EQ(GetU64(file, r.mainBlock.offset), 12u);

  pack::OpenedInstaller opened = pack::OpenInstaller(output());
  EXPECT_EQ(opened.record, r);
}

TEST_F(PackageWriterTest, SameInputsGiveTheSameBytes) {
  pack::WriteInstaller(plan, output());
  Bytes first = test::ReadFileBytes(output());
  pack::WriteInstaller(plan, scratch.native("other name.exe"));
  EXPECT_EQ(test::ReadFileBytes(scratch.native("other name.exe")), first);
  plan.mainFiles[1].content[0] = 'A';
  pack::WriteInstaller(plan, output());
  EXPECT_NE(test::ReadFileBytes(output()), first);
}

TEST_F(PackageWriterTest, AFailureLeavesNoOutput) {
  pack::WriteInstaller(plan, output());
  Bytes before = test::ReadFileBytes(output());
  plan.mainFiles.back().entry.size = 8;  // the file is shorter than planned
  EXPECT_THROW(pack::WriteInstaller(plan, output()), std::runtime_error);
  plan.mainFiles.back().entry.size = 6;  // longer
  EXPECT_THROW(pack::WriteInstaller(plan, output()), std::runtime_error);
  plan.mainFiles.back().source = scratch.native("product/missing.exe");
  EXPECT_THROW(pack::WriteInstaller(plan, output()), std::runtime_error);
  plan.stub = scratch.native("missing stub.exe");
  EXPECT_THROW(pack::WriteInstaller(plan, output()), std::runtime_error);
  // The earlier installer is untouched and nothing else was left behind.
  EXPECT_EQ(test::ReadFileBytes(output()), before);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(scratch.native())) entries += e.path().extension() == ".part";
  EXPECT_EQ(entries, 0u);
}

TEST_F(PackageWriterTest, VerifyDecodesEveryBlock) {
  pack::WriteInstaller(plan, output());
  pack::VerifyReport report = pack::VerifyInstaller(output());
  EXPECT_EQ(report.mainFiles, 3u);
  EXPECT_EQ(report.mainFolders, 1u);
  EXPECT_EQ(report.mainBytes, 12u);
  EXPECT_EQ(report.auxiliaryFiles, 1u);
  EXPECT_EQ(report.auxiliaryBytes, 7u);
}

TEST_F(PackageWriterTest, VerifyRefusesEveryTruncation) {
  pack::WriteInstaller(plan, output());
  Bytes whole = test::ReadFileBytes(output());
  for (size_t n = 0; n < whole.size(); ++n) {
    test::WriteFileBytes(scratch.native("cut.exe"), Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
    EXPECT_THROW(pack::VerifyInstaller(scratch.native("cut.exe")), pack::BadInstaller) << "cut at " << n;
  }
}

TEST_F(PackageWriterTest, VerifyRefusesDamage) {
  auto refused = [&](const std::string& what) {
    try {
      pack::VerifyInstaller(output());
      ADD_FAILURE() << what << ": accepted";
      return std::string();
    } catch (const pack::BadInstaller& e) {
      return e.message();
    }
  };
  const std::string corrupted = ToUtf8(LoadMessage(1181));

  plan.mainFiles.push_back(Content(u"..\\escape.txt", 0, "x"));
  pack::WriteInstaller(plan, output());
  EXPECT_EQ(refused("a traversing name"), corrupted);
  plan.mainFiles.pop_back();

  // A main block whose data is damaged cannot be decoded.
  InstallRecord r = pack::WriteInstaller(plan, output());
  Bytes file = test::ReadFileBytes(output());
  for (uint64_t at = r.mainBlock.offset + 14; at < r.mainBlock.offset + r.mainBlock.length; ++at) file[at] ^= 0x55;
  test::WriteFileBytes(output(), file);
  EXPECT_NE(refused("damaged data"), std::string());

  // The record names a hook library the auxiliary files lack.
  plan.auxiliaryFiles.clear();
  pack::WriteInstaller(plan, output());
  EXPECT_EQ(refused("missing hook library"), corrupted);

  // Entries that do not add up to the block's size.
  plan.record.hookLibrary.reset();
  pack::WriteInstaller(plan, output());
  pack::OpenedInstaller opened = pack::OpenInstaller(output());
  InstallRecord lying = opened.record;
  lying.mainBlock.entries[1].size += 1;
  Bytes bytes = test::ReadFileBytes(output());
  Bytes record = pack::WriteInstallRecord(lying);
  Bytes block = pack::EncodeBlock(record, 0);
  bytes.resize(opened.recordOffset);
  bytes.insert(bytes.end(), block.begin(), block.end());
  Bytes trailer = pack::MakeTrailer(opened.recordOffset, static_cast<uint32_t>(block.size()), record.size());
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  test::WriteFileBytes(output(), bytes);
  EXPECT_EQ(refused("sizes"), corrupted);

  test::WriteFileBytes(output(), stub);
  EXPECT_EQ(refused("a bare stub"), corrupted);
}

TEST_F(PackageWriterTest, ExtractWritesTheFilesWithTheirTimes) {
  pack::WriteInstaller(plan, output());
  pack::ExtractInstaller(output(), scratch.native("out"), false);
  EXPECT_EQ(test::ReadFileBytes(scratch.native("out/bin/a.txt")), (Bytes{'a', 'l', 'p', 'h', 'a'}));
  EXPECT_EQ(test::ModificationTime(scratch.native("out/bin/a.txt")), 1600000000);
  EXPECT_EQ(test::ReadFileBytes(scratch.native("out/bin/app.exe")), test::ReadFileBytes(scratch.native("product/app.exe")));
  EXPECT_TRUE(std::filesystem::is_regular_file(scratch.native("out/empty")));
  EXPECT_FALSE(std::filesystem::exists(scratch.native("out/hooks.dll")));
  pack::ExtractInstaller(output(), scratch.native("auxiliary"), true);
  EXPECT_EQ(test::ReadFileBytes(scratch.native("auxiliary/hooks.dll")).size(), 7u);
}

}  // namespace
}  // namespace corv

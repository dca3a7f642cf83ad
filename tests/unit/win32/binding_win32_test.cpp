// Binding real programs that the build linked with a ".config" section, and
// running them afterwards: the loaded image sees the bound block, also when
// the section grew.
#include <gtest/gtest.h>

#include <filesystem>

#include "scratch.h"
#include "streams_support.h"
#include "test_support.h"
#include "util/externalprogram.h"
#include "util/messages.h"
#include "xbind/bindscript.h"
#include "xbind/bintoolkit.h"

namespace corv {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
         uint32_t(b.at(at + 3)) << 24;
}

// The file offset of the first debug directory entry's data, or 0.
uint32_t DebugDataOffset(const Bytes& image) {
  const uint32_t nt = Le32(image, 0x3C);
  const uint32_t rva = Le32(image, nt + 24 + 96 + 6 * 8);
  const uint32_t table = nt + 24 + (Le32(image, nt + 20) & 0xFFFF);
  for (uint32_t i = 0; i < (Le32(image, nt + 6) & 0xFFFF); ++i) {
    const uint32_t h = table + 40 * i;
    const uint32_t va = Le32(image, h + 12), raw = Le32(image, h + 16), pointer = Le32(image, h + 20);
    if (rva >= va && rva < va + raw) return Le32(image, pointer + rva - va + 24);
  }
  return 0;
}

class BindingWin32Test : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // Installs `sample` as bin\app.exe and binds it with `items`.
  void InstallAndBind(const char* sample, const std::string& items) {
    std::filesystem::create_directories(scratch.native("bin"));
    // mingw's copy_file refuses to overwrite under Wine: replace by hand.
    std::filesystem::remove(scratch.native("bin/app.exe"));
    std::filesystem::copy_file(sample, scratch.native("bin/app.exe"));
    before = test::ReadFileBytes(scratch.native("bin/app.exe"));
    scratch.writeFile("xbind.script",
                      Utf16le(FromUtf8("ROOT Root\r\nCOMPONENT bin\\app.exe\r\n" + items + "ROOT JRE\r\n")));
    Bind(scratch.path(u"xbind.script"), scratch.path(), XString(u"C:\\Java"));
  }

  // What the bound program reports of its loaded block.
  std::string RunBound() {
    ExternalProgram(XString(u"bin\\app.exe"), XString(u"\"$(Root)\\record.txt\"")).RunAndWait(scratch.path());
    return scratch.readFile("record.txt");
  }

  ScratchFolder scratch;
  Bytes before;
};

TEST_F(BindingWin32Test, BoundProgramsSeeTheirBlockInPlaceAndGrown) {
  for (const char* sample : {CORV_CONFIG_NOTLAST_EXE, CORV_CONFIG_LAST_EXE, CORV_CONFIG_OVERLAY_EXE,
                             CORV_CONFIG_DEBUG_EXE}) {
    SCOPED_TRACE(sample);
    InstallAndBind(sample, "JRE $(JRE)\r\nKORVMPROP 'a=1'\r\n");
    EXPECT_EQ(test::ReadFileBytes(scratch.native("bin/app.exe")).size(), before.size());
    EXPECT_EQ(RunBound(), "2 C:\\Java\n");
    EXPECT_EQ(BinToolkit::BoundRuntimeHome(scratch.path(u"bin\\app.exe")), OptString(u"C:\\Java"));
  }

  // 892 bytes of block outgrow the 512 of the section by one file alignment
  // unit: the tail moves back by 512 bytes, debug data with it.
  const std::string big = "KORVMPROP '" + std::string(200, 'p') + "'\r\n";
  // The samples and the size of what lies behind their section.
  const std::pair<const char*, size_t> grown[] = {
      {CORV_CONFIG_LAST_EXE, 0}, {CORV_CONFIG_OVERLAY_EXE, 2621443}, {CORV_CONFIG_DEBUG_EXE, 5000}};
  for (const auto& [sample, tail] : grown) {
    SCOPED_TRACE(sample);
    InstallAndBind(sample, "JRE $(JRE)\r\n" + big + big + big + big);
    const Bytes after = test::ReadFileBytes(scratch.native("bin/app.exe"));
    ASSERT_EQ(after.size(), before.size() + 512);
    EXPECT_TRUE(std::equal(before.end() - tail, before.end(), after.end() - tail));
    if (const uint32_t debug = DebugDataOffset(before)) {
      EXPECT_EQ(DebugDataOffset(after), debug + 512);
      EXPECT_EQ(std::string(after.begin() + debug + 512, after.begin() + debug + 516), "RSDS");
    }
    EXPECT_EQ(RunBound(), "5 C:\\Java\n");
  }
}

TEST_F(BindingWin32Test, FilesThatCannotBeBoundAreRefusedUnchanged) {
  const std::string app = ToUtf8(scratch.path(u"bin\\app.exe"));
  const std::string big = "KORVMPROP '" + std::string(600, 'p') + "'\r\n";
  EXPECT_EQ(FailureOf([&] { InstallAndBind(CORV_CONFIG_NOTLAST_EXE, big); }),
            "Unable to bind " + app + ": invalid component");
  EXPECT_EQ(test::ReadFileBytes(scratch.native("bin/app.exe")), before);
  EXPECT_EQ(FailureOf([&] { InstallAndBind(CORV_TESTEXIT_EXE, "JRE x\r\n"); }),
            "Unable to bind " + app + ": invalid component");
  EXPECT_EQ(test::ReadFileBytes(scratch.native("bin/app.exe")), before);

  const std::string readme = scratch.native("readme.txt").string();
  scratch.writeFile("readme.txt", "not a program\r\n");
  EXPECT_EQ(FailureOf([&] { InstallAndBind(readme.c_str(), "JRE x\r\n"); }),
            "Unable to bind " + app + ": unrecognized file format");
  EXPECT_EQ(scratch.readFile("bin/app.exe"), "not a program\r\n");
}

}  // namespace
}  // namespace corv

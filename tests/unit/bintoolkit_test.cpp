#include "xbind/bintoolkit.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "blockwriter.h"
#include "pesamples.h"
#include "scratch.h"
#include "streams_support.h"
#include "test_support.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"
#include "xbind/bindscript.h"
#include "xbind/petoolkit.h"
#include "xbind/propertyblock.h"

namespace corv {
namespace {

using test::BlockEntry;
using test::Bytes;
using test::IntegerData;
using test::MakeBlock;
using test::ReadLe32;
using test::StringData;

constexpr int64_t kTime = 1111111111;

// An entry as the tests compare them: identifier and text (or value).
using Property = std::pair<uint32_t, std::string>;

void Patch(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<Property> PropertiesOf(const PropertyBlock& block) {
  std::vector<Property> result;
  for (const PropertyBlock::Entry& e : block.entries()) {
    if (KindOfProperty(e.id) == kPropertyInteger && e.length == 4) {
      result.emplace_back(e.id, "#" + std::to_string(ReadLe32(Bytes(e.data, e.data + 4), 0)));
    } else {
      result.emplace_back(e.id, std::string(reinterpret_cast<const char*>(e.data),
                                            std::find(e.data, e.data + e.length, 0) - e.data));
    }
  }
  return result;
}

TEST(PropertyBlockTest, WalksCutsFindsAndRebuilds) {
  SelectLanguage(kLanguageEnglish);
  Bytes data = MakeBlock({{7, StringData("res")},
                          {64, IntegerData(1)},
                          {1, IntegerData(4096)},
                          {5, StringData("old.vm=1")},
                          {15, StringData("X.DLL=old")},
                          {16, StringData("C:\\OldJava")},
                          {24, {'n', 'o', 'z', 'e', 'r', 'o'}},
                          {16, StringData("C:\\Java")},
                          {4, {9, 0}}},
                         100);
  // One more entry announced whose data runs past the section.
  Bytes truncated = data;
  truncated[24] += 1;
  for (uint8_t b : Bytes{11, 0, 0, 0, 200, 0, 0, 0, 'x'}) truncated.push_back(b);
  PropertyBlock block(u"app.exe", truncated.data(), truncated.size());
  EXPECT_EQ(block.count(), 9u);
  EXPECT_EQ(block.bytes(), Bytes(data.begin(), data.end()));
  EXPECT_EQ(block.findString(16), std::optional<AnsiString>("C:\\Java"));
  EXPECT_EQ(block.findString(24), std::optional<AnsiString>("nozero"));
  EXPECT_FALSE(block.find(11));

  // Kept in order: known identifiers but 5, 15, 16; strings re-padded,
  // short integers read as far as they go; the carried words stay.
  PropertyBlock rebuilt = block.rebuild();
  EXPECT_EQ(rebuilt.bytes(), MakeBlock({{7, StringData("res")},
                                        {1, IntegerData(4096)},
                                        {24, StringData("nozero")},
                                        {4, IntegerData(9)}},
                                       100));
  rebuilt.addString(5, "abc");
  rebuilt.addInteger(2, 7);
  EXPECT_EQ(PropertiesOf(rebuilt), (std::vector<Property>{{7, "res"}, {1, "#4096"}, {24, "nozero"}, {4, "#9"},
                                                          {5, "abc"}, {2, "#7"}}));
  EXPECT_EQ(rebuilt.bytes().size() % 4, 0u);

  Bytes zero = MakeBlock({{0, StringData("x")}});
  EXPECT_THROW(PropertyBlock(u"a", zero.data(), zero.size()).rebuild(), AssertionFailedError);

  for (Bytes bad : {Bytes(data.begin(), data.begin() + 27), Bytes(28, 0), MakeBlock({})}) {
    if (bad.size() == 28 && bad[0] == 'C') bad[4] = 3;  // version 3
    try {
      PropertyBlock(u"C:\\App\\app.exe", bad.data(), bad.size());
      ADD_FAILURE() << "accepted a bad block of " << bad.size() << " bytes";
    } catch (const FatalError& e) {
      EXPECT_EQ(ToUtf8(e.message()), "Unable to bind C:\\App\\app.exe: invalid component");
    }
  }
  ResetLanguage();
}

class BinToolkitTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // Writes an image at `relative` with the time kTime.
  void Write(const std::string& relative, const Bytes& bytes) {
    test::WriteFileBytes(scratch.native(relative), bytes);
    test::SetModificationTime(scratch.native(relative), kTime);
  }
  Bytes Read(const std::string& relative) { return test::ReadFileBytes(scratch.native(relative)); }

  // The block of ".config" as the toolkit reads it.
  std::vector<Property> Properties(const std::string& relative) {
    File file(scratch.path(FromUtf8(relative)));
    EXPECT_EQ(file.open(kFileRead), 0);
    std::unique_ptr<PEToolkit> pe = PEToolkit::open(file);
    EXPECT_TRUE(pe);
    std::optional<PropertyBlock> block = pe->readBlock();
    file.close();
    EXPECT_TRUE(block);
    return block ? PropertiesOf(*block) : std::vector<Property>();
  }

  // Binds `script` over the scratch folder as destination.
  void BindWith(const XString& script, const OptString& runtime = XString(u"C:\\Java")) {
    scratch.writeFile("xbind.script", Utf16le(script));
    Bind(scratch.path(u"xbind.script"), scratch.path(), runtime);
  }

  ScratchFolder scratch;
};

// Sections .text, .rdata and .config, each 0x200 bytes raw, and `tail`
// behind .config: more sections or an overlay.
test::PeImage Image(const Bytes& block, uint32_t configRaw = 0x200) {
  test::PeImage image;
  image.sections.push_back({".text", test::RandomBytes(0x180, 1)});
  image.sections.push_back({".rdata", Bytes(0x100, 0)});
  Bytes config = block;
  config.resize(configRaw, 0xCC);  // old bytes behind the block
  image.sections.push_back({".config", config, configRaw, configRaw});
  return image;
}

TEST_F(BinToolkitTest, BlockWithRoomIsRewrittenInPlaceAndRebuiltEachTime) {
  test::PeImage image = Image(MakeBlock({{11, StringData("CorvService")},
                                         {5, StringData("old=1")},
                                         {99, StringData("dropped")},
                                         {28, IntegerData(300)}}),
                              0x400);
  // .config is not the last section here.
  image.sections.push_back({".reloc", test::RandomBytes(0x40, 2)});
  test::PeLayout layout;
  const Bytes before = test::MakePe(image, &layout);
  Write("bin/app.exe", before);

  const XString script =
      u"ROOT Root\r\n"
      u"COMPONENT bin\\app.exe\r\n"
      u"  DLL \"TOOL.DLL\" = \"$(Root)\\lib\\tool.dll\"\r\n"
      u"  JRE \"$(JRE)\"\r\n"
      u"  KORVMPROP 'home=$(Root)\\n'\r\n"
      u"ROOT JRE\r\n";
  for (int round = 0; round < 2; ++round) {
    BindWith(script);
    const Bytes after = Read("bin/app.exe");
    ASSERT_EQ(after.size(), before.size());
    // Only the block's bytes changed; the rest of the section keeps its old
    // bytes.
    const uint32_t p = layout.rawPointers[2];
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + p, after.begin()));
    EXPECT_EQ(after[p + 0x3FF], 0xCC);
    EXPECT_TRUE(std::equal(before.begin() + p + 0x400, before.end(), after.begin() + p + 0x400));
    EXPECT_EQ(Properties("bin/app.exe"),
              (std::vector<Property>{{11, "CorvService"},
                                     {28, "#300"},
                                     {15, "TOOL.DLL=*{comp.dir}\\..\\lib\\tool.dll"},
                                     {16, "C:\\Java"},
                                     {5, "home=*{comp.dir}\\..\n"}}));
    EXPECT_EQ(test::ModificationTime(scratch.native("bin/app.exe")), kTime);
  }
  EXPECT_EQ(BinToolkit::BoundRuntimeHome(scratch.path(u"bin\\app.exe")), OptString(u"C:\\Java"));
  EXPECT_EQ(BinToolkit::BoundServiceName(scratch.path(u"bin\\app.exe")), OptString(u"CorvService"));
  EXPECT_EQ(test::ModificationTime(scratch.native("bin/app.exe")), kTime);
}

TEST_F(BinToolkitTest, AppendKeepsOldEntriesAndLookupsSeeTheNewOnes) {
  Write("tool.dll", test::MakePe(Image(MakeBlock({{16, StringData("C:\\Old")}, {15, StringData("A=B")}}))));
  const XString script = u"ROOT Root\nCOMPONENT tool.dll APPEND\nJRE $(JRE)\nROOT JRE\n";
  BindWith(script, XString(u"C:\\New"));
  BindWith(script, XString(u"C:\\Newer"));
  EXPECT_EQ(Properties("tool.dll"),
            (std::vector<Property>{{16, "C:\\Old"}, {15, "A=B"}, {16, "C:\\New"}, {16, "C:\\Newer"}}));
  EXPECT_EQ(BinToolkit::BoundRuntimeHome(scratch.path(u"tool.dll")), OptString(u"C:\\Newer"));
  EXPECT_EQ(BinToolkit::BoundServiceName(scratch.path(u"tool.dll")), std::nullopt);
}

// The block outgrows the last section: the section grows by whole file
// alignment units and everything behind it moves by exactly that much.
TEST_F(BinToolkitTest, GrowingBlockShiftsTheTailAndAdjustsTheHeaders) {
  // No tail, a tail of exactly two move buffers, and one that ends in a
  // partial buffer.
  for (size_t tailSize : {size_t(0), size_t(2) << 20, (size_t(5) << 19) + 3}) {
    SCOPED_TRACE(tailSize);
    test::PeImage image = Image(MakeBlock({{6, StringData("Main")}}));
    image.overlay = test::RandomBytes(tailSize, 7);
    if (tailSize > 0) {
      image.debug = {{0x10, 0x20}, {static_cast<uint32_t>(tailSize - 0x40), 0x40}};
      image.debugSection = 1;
    }
    test::PeLayout layout;
    const Bytes before = test::MakePe(image, &layout);
    Write("app.exe", before);

    // 5 * 0x100 bytes of VM properties: the block needs 0x600 bytes.
    XString script = u"ROOT Root\nCOMPONENT app.exe\n";
    for (int i = 0; i < 5; ++i) script += u"KORVMPROP '" + XString(0xF7, XChar(u'a' + i)) + u"'\n";
    BindWith(script + u"ROOT JRE\n");

    const uint32_t growth = 0x400;
    const Bytes after = Read("app.exe");
    ASSERT_EQ(after.size(), before.size() + growth);
    const uint32_t tail = layout.overlayOffset;
    EXPECT_TRUE(std::equal(before.begin() + tail, before.end(), after.begin() + tail + growth));
    // The block fills the grown section, zeros after it.
    const uint32_t p = layout.rawPointers[2];
    EXPECT_EQ(ReadLe32(after, p), PropertyBlock::kMagic);
    EXPECT_EQ(ReadLe32(after, p + 24), 6u);
    EXPECT_EQ(after[tail + growth - 1], 0);
    const std::vector<Property> properties = Properties("app.exe");
    ASSERT_EQ(properties.size(), 6u);
    EXPECT_EQ(properties[0], (Property{6, "Main"}));

    // Headers: raw size + growth; virtual size and image size cover the
    // section's raw size rounded to the section alignment.
    const uint32_t header = layout.sectionTableOffset + 2 * 40;
    EXPECT_EQ(ReadLe32(after, header + 16), 0x200u + growth);
    EXPECT_EQ(ReadLe32(after, header + 8), 0x1000u);
    EXPECT_EQ(ReadLe32(after, header + 20), p);
    EXPECT_EQ(ReadLe32(after, layout.ntOffset + 24 + 56), layout.sizeOfImage + (0x1000u - 0x200u));
    EXPECT_EQ(ReadLe32(after, layout.ntOffset + 24 + 64), 0x12345678u);  // CheckSum as it was
    if (tailSize > 0) {
      const uint32_t entries = layout.rawPointers[1];
      EXPECT_EQ(ReadLe32(after, entries + 24), tail + 0x10 + growth);
      EXPECT_EQ(ReadLe32(after, entries + 28 + 24), static_cast<uint32_t>(tail + tailSize - 0x40 + growth));
      // Nothing else before the section changed.
      Bytes expected(before.begin(), before.begin() + p);
      for (uint32_t at : {entries + 24, entries + 52, header + 8, header + 16, layout.ntOffset + 80}) {
        std::copy(after.begin() + at, after.begin() + at + 4, expected.begin() + at);
      }
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), after.begin()));
    }
    EXPECT_EQ(test::ModificationTime(scratch.native("app.exe")), kTime);
  }
}

TEST_F(BinToolkitTest, SectionsGrowByExactlyTheGrowthOrNothing) {
  // 0x180 raw bytes, not a multiple of the file alignment, and a short
  // overlay: the zeros after the block end where the moved overlay begins.
  test::PeImage image = Image(MakeBlock({}), 0x180);
  image.overlay = test::RandomBytes(16, 9);
  test::PeLayout layout;
  Bytes before = test::MakePe(image, &layout);
  Write("app.exe", before);
  XString script = u"ROOT Root\nCOMPONENT app.exe\n";
  for (int i = 0; i < 5; ++i) script += u"KORVMPROP '" + XString(0xF7, u'v') + u"'\n";
  BindWith(script + u"ROOT JRE\n");
  Bytes after = Read("app.exe");
  ASSERT_EQ(after.size(), before.size() + 0x400);
  EXPECT_TRUE(std::equal(before.end() - 16, before.end(), after.end() - 16));
  EXPECT_EQ(ReadLe32(after, layout.sectionTableOffset + 2 * 40 + 16), 0x580u);

  // A block of exactly the section's size grows it by nothing when last.
  Bytes full = MakeBlock({{7, StringData(std::string(0x200 - 28 - 8 - 1, 'r'))}});
  ASSERT_EQ(full.size(), 0x200u);
  before = test::MakePe(Image(full), &layout);
  Write("app.exe", before);
  script = u"ROOT Root\nCOMPONENT app.exe\nROOT JRE\n";
  BindWith(script);
  after = Read("app.exe");
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(ReadLe32(after, layout.sectionTableOffset + 2 * 40 + 16), 0x200u);
  // Not the last section: refused, the file as it was.
  image = Image(full);
  image.sections.push_back({".reloc", Bytes(0x20, 1)});
  const Bytes notLast = test::MakePe(image);
  Write("app.exe", notLast);
  EXPECT_EQ(FailureOf([&] { BindWith(script); }),
            "Unable to bind " + ToUtf8(scratch.path(u"app.exe")) + ": invalid component");
  EXPECT_EQ(Read("app.exe"), notLast);
}

TEST_F(BinToolkitTest, RefusedFilesStayAsTheyWere) {
  const std::string app = ToUtf8(scratch.path(u"app.exe"));
  const XString script = u"ROOT Root\nCOMPONENT app.exe\nKORVMPROP x\nROOT JRE\n";
  auto bind = [&] { BindWith(script); };

  EXPECT_EQ(FailureOf(bind), "Unable to open file " + app);

  std::vector<std::pair<Bytes, std::string>> cases;
  cases.emplace_back(Bytes{'M', 'Z', 'n', 'o', 't'}, "unrecognized file format");
  Bytes noPe = test::MakePe(Image(MakeBlock({})));
  noPe[0x80 + 1] = 'X';
  cases.emplace_back(noPe, "unrecognized file format");
  Bytes farHeaders = test::MakePe(Image(MakeBlock({})));
  farHeaders[0x3C + 3] = 0x7F;  // e_lfanew far beyond the file
  cases.emplace_back(farHeaders, "unrecognized file format");
  Bytes manySections = test::MakePe(Image(MakeBlock({})));
  manySections[0x80 + 6] = 0xFF;  // a section table beyond the file
  manySections[0x80 + 7] = 0xFF;
  cases.emplace_back(manySections, "unrecognized file format");
  test::PeImage noConfig = Image(MakeBlock({}));
  noConfig.sections[2].name = ".data";
  cases.emplace_back(test::MakePe(noConfig), "invalid component");
  cases.emplace_back(test::MakePe(Image(Bytes(0x100, 0))), "invalid component");
  // .config's raw data claimed beyond the end of the file.
  test::PeLayout layout;
  Bytes beyond = test::MakePe(Image(MakeBlock({})), &layout);
  Patch(beyond, layout.sectionTableOffset + 2 * 40 + 16, 0x7FFFFE00);
  cases.emplace_back(beyond, "invalid component");
  // Growth with a zero file alignment.
  Bytes zeroAlignment = test::MakePe(Image(MakeBlock({}), 0x20), &layout);
  Patch(zeroAlignment, layout.ntOffset + 24 + 36, 0);
  cases.emplace_back(zeroAlignment, "invalid component");
  // A valid block whose section would reach over the NT headers.
  Bytes overHeaders = test::MakePe(Image(MakeBlock({})), &layout);
  Patch(overHeaders, layout.sectionTableOffset + 2 * 40 + 16, 0x200);
  Patch(overHeaders, layout.sectionTableOffset + 2 * 40 + 20, 0x40);
  const Bytes empty = MakeBlock({});
  std::copy(empty.begin(), empty.end(), overHeaders.begin() + 0x40);
  cases.emplace_back(overHeaders, "invalid component");
  for (const auto& [bytes, reason] : cases) {
    Write("app.exe", bytes);
    EXPECT_EQ(FailureOf(bind), "Unable to bind " + app + ": " + reason);
    EXPECT_EQ(Read("app.exe"), bytes);
    EXPECT_EQ(test::ModificationTime(scratch.native("app.exe")), kTime);
  }

  // Debug data mapped into the image behind the section cannot move; the
  // file is refused before anything is written.
  test::PeImage mapped = Image(MakeBlock({}), 0x20);
  mapped.overlay = Bytes(0x100, 3);
  mapped.debug = {{0, 0x10, 0x5000}};
  mapped.debugSection = 1;
  const Bytes mappedBytes = test::MakePe(mapped);
  Write("app.exe", mappedBytes);
  EXPECT_THROW(bind(), AssertionFailedError);
  EXPECT_EQ(Read("app.exe"), mappedBytes);

  // The script must name both roots.
  EXPECT_EQ(FailureOf([&] { BindWith(u"ROOT Root\n"); }), "Unable to bind : root JRE is undefined");
  EXPECT_EQ(FailureOf([&] { BindWith(u"ROOT JRE\n"); }), "Unable to bind : root Root is undefined");
}

}  // namespace
}  // namespace corv

#include "unpacker/decompressor.h"

#include <gtest/gtest.h>

#include "blockwriter.h"
#include "samples.h"
#include "streams_support.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

using test::Bytes;

Bytes Decode(const Bytes& block, uint32_t maxPerRead = UINT32_MAX, test::CollectingOutputStream* sink = nullptr) {
  test::BytesInputStream in(block, maxPerRead);
  test::CollectingOutputStream local;
  test::CollectingOutputStream& out = sink ? *sink : local;
  Decompressor().decompress(in, out);
  return out.bytes;
}

// Decoding fails with message 1202; both streams were opened first.
void ExpectCorrupted(const Bytes& block, const char* what) {
  SCOPED_TRACE(what);
  test::BytesInputStream in(block);
  test::CollectingOutputStream out;
  try {
    Decompressor().decompress(in, out);
    ADD_FAILURE() << "decoded a damaged block";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), LoadMessage(1202));
  }
  EXPECT_EQ(in.opens, 1);
  EXPECT_EQ(out.opens, 1);
}

Bytes MixedPayload() {
  Bytes out = test::ReadSample(test::ExecutableSamples().front(), 1500000);
  const char* text = "The quick brown fox jumps over the lazy dog. ";
  for (int i = 0; i < 20000; ++i) out.insert(out.end(), text, text + 45);
  Bytes noise = test::RandomBytes(300000, 9);
  out.insert(out.end(), noise.begin(), noise.end());
  return out;
}

TEST(BlockHeader, SplitsThePropertiesAndReadsLittleEndian) {
  uint8_t raw[kBlockHeaderSize] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x5D, 0x00, 0x00, 0x80, 0x00};
  auto h = ParseBlockHeader(raw);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->decodedSize, 0x0102030405060708);
  EXPECT_EQ(h->lc, 3u);
  EXPECT_EQ(h->lp, 0u);
  EXPECT_EQ(h->pb, 2u);
  EXPECT_EQ(h->dictionary, 8388608u);
  raw[8] = 224;  // pb 4, lp 4, lc 8
  h = ParseBlockHeader(raw);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->lc, 8u);
  EXPECT_EQ(h->lp, 4u);
  EXPECT_EQ(h->pb, 4u);
  raw[8] = 225;
  EXPECT_FALSE(ParseBlockHeader(raw));
}

TEST(Decompressor, RoundTripsMixedDataForVariousProperties) {
  Bytes data = MixedPayload();
  struct Case { uint32_t lc, lp, pb, dict; } cases[] = {
      {3, 0, 2, 8u << 20}, {0, 0, 0, 1u << 16}, {4, 0, 4, 1u << 20}, {1, 3, 1, 4096}, {0, 4, 0, 1u << 22}};
  for (const Case& c : cases) {
    test::BlockOptions o;
    o.lc = c.lc;
    o.lp = c.lp;
    o.pb = c.pb;
    o.dictionary = c.dict;
    EXPECT_TRUE(Decode(test::EncodeBlock(data, o)) == data) << c.lc << c.lp << c.pb << " " << c.dict;
  }
}

TEST(Decompressor, ReadsAtMostOneMebibyteAtATimeAndCopesWithShortReads) {
  Bytes data = MixedPayload();
  Bytes block = test::EncodeBlock(data);
  test::BytesInputStream in(block);
  test::CollectingOutputStream out;
  Decompressor().decompress(in, out);
  EXPECT_LE(in.largestRequest, Decompressor::kInputBufferSize);
  EXPECT_TRUE(out.bytes == data);
  EXPECT_TRUE(Decode(block, 1) == data);
  EXPECT_TRUE(Decode(block, 4093) == data);
}

TEST(Decompressor, EndMarkerBeforeTheDecodedSizeEndsWithoutError) {
  Bytes data = test::RandomBytes(5000, 4);
  data[100] = 0xE8;
  EXPECT_EQ(Decode(test::EncodeBlock(data, {}, 7000)), data);
}

TEST(Decompressor, BlocksOf4GiBOrMorePassUnfiltered) {
  Bytes data = {0xE8, 0x05, 0x01, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90, 0x90};
  test::BlockOptions plain;
  plain.x86 = false;
  EXPECT_EQ(Decode(test::EncodeBlock(data, plain, 0xFFFFFFFFll)), data);
  // Below that size the same bytes are x86-decoded.
  Bytes filtered = Decode(test::EncodeBlock(data, plain, 0xFFFFFFFEll));
  EXPECT_EQ(filtered, test::LiblzmaX86Decode(data));
  EXPECT_NE(filtered, data);
}

TEST(Decompressor, EmptyAndNegativeSizesWriteNothing) {
  for (int64_t size : {int64_t(0), int64_t(-1), INT64_MIN}) {
    test::CollectingOutputStream out;
    Decode(test::EncodeBlock(test::RandomBytes(100, 1), {}, size), UINT32_MAX, &out);
    EXPECT_TRUE(out.writes.empty()) << size;
    EXPECT_EQ(out.opens, 1);
  }
}

TEST(Decompressor, DictionaryOfZeroDecodesAsTheSmallest) {
  Bytes data;
  for (int i = 0; i < 3000; ++i) data.push_back(static_cast<uint8_t>(i * 7 % 251));
  for (int i = 0; i < 3; ++i) data.insert(data.end(), data.begin(), data.begin() + 3000);
  test::BlockOptions o;
  o.dictionary = 4096;
  Bytes block = test::EncodeBlock(data, o);
  block[9] = block[10] = block[11] = block[12] = 0;
  EXPECT_EQ(Decode(block), data);
}

TEST(Decompressor, HugeDictionaryInTheHeaderCostsNoMoreThanTheBlock) {
  Bytes data = test::RandomBytes(20000, 5);
  Bytes block = test::EncodeBlock(data);
  block[9] = block[10] = block[11] = block[12] = 0xFF;
  EXPECT_EQ(Decode(block), data);
}

TEST(Decompressor, DamagedBlocksFailWith1202) {
  Bytes data = MixedPayload();
  data.resize(200000);
  Bytes block = test::EncodeBlock(data);

  for (size_t n = 0; n < kBlockHeaderSize; ++n) ExpectCorrupted(Bytes(block.begin(), block.begin() + n), "short header");
  // Header, then fewer than the 5 bytes the range decoder starts from.
  ExpectCorrupted(Bytes(block.begin(), block.begin() + kBlockHeaderSize + 4), "4 data bytes");
  // Data that ends before the decoded size.
  // (The last bytes are the end marker and the range coder's flush, which a
  // decoder that stops at the decoded size does not need.)
  for (size_t cut : {size_t(20), block.size() / 3, block.size() - 16}) {
    ExpectCorrupted(Bytes(block.begin(), block.begin() + cut), "truncated");
  }

  Bytes badProperties = block;
  badProperties[8] = 225;
  ExpectCorrupted(badProperties, "225");
  badProperties[8] = 255;
  ExpectCorrupted(badProperties, "255");
  // Valid byte, but lc + lp above 4 is beyond what the decoder takes.
  badProperties[8] = test::PropertiesByte(4, 1, 0);
  ExpectCorrupted(badProperties, "lc + lp");

  Bytes badStart = block;
  badStart[kBlockHeaderSize] = 0xFF;  // the range coder's first byte is 0
  ExpectCorrupted(badStart, "first byte");

  Bytes garbage = test::BlockHeader(100000, 0x5D, 1 << 20);
  Bytes noise = test::RandomBytes(50000, 77);
  noise[0] = 0;
  garbage.insert(garbage.end(), noise.begin(), noise.end());
  ExpectCorrupted(garbage, "garbage");
}

TEST(Decompressor, FailuresOfTheOutputPassThroughUnchanged) {
  Bytes block = test::EncodeBlock(MixedPayload());
  test::BytesInputStream in(block);
  test::CollectingOutputStream out;
  out.onWrite = [&](uint32_t) {
    if (out.writes.size() == 1) throw AbortUnpackException();
  };
  EXPECT_THROW(Decompressor().decompress(in, out), AbortUnpackException);
}

TEST(DecompressorFactory, CreatesLzmaDecompressorsAndCanBeReplaced) {
  Bytes data = test::RandomBytes(1000, 2);
  Bytes block = test::EncodeBlock(data);
  test::BytesInputStream in(block);
  test::CollectingOutputStream out;
  DecompressorFactory::current().create()->decompress(in, out);
  EXPECT_EQ(out.bytes, data);

  struct Counting : DecompressorFactory {
    mutable int made = 0;
    std::unique_ptr<Decompressor> create() const override {
      ++made;
      return DecompressorFactory::create();
    }
  } counting;
  DecompressorFactory::setCurrent(&counting);
  DecompressorFactory::current().create();
  DecompressorFactory::setCurrent(nullptr);
  DecompressorFactory::current().create();
  EXPECT_EQ(counting.made, 1);
}

}  // namespace
}  // namespace corv

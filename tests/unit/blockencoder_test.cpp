#include "blockencoder.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "blockwriter.h"
#include "samples.h"
#include "streams_support.h"
#include "unpacker/decompressor.h"

namespace corv {
namespace {

using test::Bytes;

Bytes DecodeWithTheInstaller(const Bytes& block) {
  test::BytesInputStream in(block);
  test::CollectingOutputStream out;
  Decompressor().decompress(in, out);
  return out.bytes;
}

// Machine code, so that the x86 conversion has calls and jumps to turn,
// then text and noise.
Bytes Payload() {
  Bytes out = test::ReadSample(test::ExecutableSamples().front(), 600000);
  const char* text = "call me at the jump; ";
  for (int i = 0; i < 5000; ++i) out.insert(out.end(), text, text + 21);
  Bytes noise = test::RandomBytes(70000, 3);
  out.insert(out.end(), noise.begin(), noise.end());
  return out;
}

TEST(BlockEncoder, HeaderCarriesSizePropertiesAndDictionary) {
  Bytes data(1000, 'a');
  Bytes block = pack::EncodeBlock(data);
  ASSERT_GT(block.size(), kBlockHeaderSize);
  uint8_t header[kBlockHeaderSize];
  std::copy(block.begin(), block.begin() + kBlockHeaderSize, header);
  std::optional<BlockHeader> h = ParseBlockHeader(header);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->decodedSize, 1000);
  EXPECT_EQ(block[8], 0x5D);
  EXPECT_EQ(h->lc, 3u);
  EXPECT_EQ(h->lp, 0u);
  EXPECT_EQ(h->pb, 2u);
  EXPECT_EQ(h->dictionary, 8u << 20);
}

TEST(BlockEncoder, TheInstallersDecoderGivesBackEveryByte) {
  for (const Bytes& data : {Bytes(), Bytes{0xE8}, Bytes{0xE8, 0, 0, 0, 0}, test::RandomBytes(4099, 1), Payload()}) {
    SCOPED_TRACE(data.size());
    EXPECT_EQ(DecodeWithTheInstaller(pack::EncodeBlock(data, 1)), data);
  }
}

TEST(BlockEncoder, AppliesTheX86ConversionBeforeCompressing) {
  // The same compression without the converter gives other bytes, and the
  // test helper's x86 block (liblzma's converter) gives the same ones.
  Bytes data = Payload();
  test::BlockOptions options;
  options.preset = 1;
  options.dictionary = 8u << 20;
  EXPECT_EQ(pack::EncodeBlock(data, 1), test::EncodeBlock(data, options));
  options.x86 = false;
  EXPECT_NE(pack::EncodeBlock(data, 1), test::EncodeBlock(data, options));
}

TEST(BlockEncoder, OutputDoesNotDependOnHowTheInputIsCut) {
  Bytes data = Payload();
  data.resize(300000);
  Bytes whole = pack::EncodeBlock(data, 1);
  for (size_t piece : {1u, 7u, 4096u, 1u << 20}) {
    pack::MemorySink sink;
    pack::BlockEncoder encoder(sink, data.size(), 1);
    for (size_t at = 0; at < data.size(); at += piece) {
      encoder.write(data.data() + at, std::min(piece, data.size() - at));
    }
    uint64_t length = encoder.finish();
    EXPECT_EQ(length, sink.bytes.size());
    EXPECT_EQ(sink.bytes, whole) << "pieces of " << piece;
  }
}

TEST(BlockEncoder, RefusesMisuse) {
  pack::MemorySink sink;
  EXPECT_THROW(pack::BlockEncoder(sink, 1, 10), std::invalid_argument);
  EXPECT_THROW(pack::BlockEncoder(sink, 1, -1), std::invalid_argument);
  pack::BlockEncoder short_(sink, 4);
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  EXPECT_THROW(short_.write(bytes, 5), std::logic_error);
  short_.write(bytes, 3);
  EXPECT_THROW(short_.finish(), std::logic_error);
  pack::BlockEncoder done(sink, 0);
  done.finish();
  EXPECT_THROW(done.finish(), std::logic_error);
}

}  // namespace
}  // namespace corv

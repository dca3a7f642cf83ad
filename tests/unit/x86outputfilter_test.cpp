#include "unpacker/x86outputfilter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "blockwriter.h"
#include "samples.h"
#include "streams_support.h"

namespace corv {
namespace {

using test::Bytes;

// Feeds `in` to a fresh filter in pieces whose sizes cycle through `pieces`.
Bytes Filter(const Bytes& in, const std::vector<size_t>& pieces, test::CollectingOutputStream* out = nullptr) {
  test::CollectingOutputStream local;
  test::CollectingOutputStream& sink = out ? *out : local;
  X86OutputFilter filter(sink);
  filter.open();
  size_t at = 0;
  for (size_t k = 0; at < in.size(); ++k) {
    size_t n = std::min(pieces[k % pieces.size()], in.size() - at);
    filter.write(in.data() + at, static_cast<uint32_t>(n));
    at += n;
  }
  filter.finish();
  return sink.bytes;
}

TEST(X86OutputFilter, EqualsLiblzmasX86FilterOnRealExecutablesForAnyPieces) {
  const size_t mib = 1 << 20;
  const std::vector<std::vector<size_t>> chunkings = {
      {1},          {2},           {3},        {5},       {4095},
      {mib - 1},    {mib},         {mib + 4},  {mib + 5}, {3 * mib},
      {7, 1, mib + 3, 0, 65536, 2 * mib + 1}};
  for (const std::string& path : test::ExecutableSamples()) {
    SCOPED_TRACE(path);
    Bytes in = test::ReadSample(path);
    ASSERT_GT(in.size(), 100000u);
    Bytes expected = test::LiblzmaX86Decode(in);
    ASSERT_EQ(expected.size(), in.size());
    ASSERT_NE(expected, in);  // real code has branches to convert
    for (const auto& pieces : chunkings) {
      EXPECT_TRUE(Filter(in, pieces) == expected) << "first piece size " << pieces[0];
    }
  }
}

TEST(X86OutputFilter, PassesOnFullBuffersOfAboutOneMebibyte) {
  Bytes in = test::RandomBytes(5 * (1 << 20) + 17, 3);
  for (size_t i = 0; i < in.size(); i += 97) in[i] = 0xE8;
  test::CollectingOutputStream out;
  Filter(in, {12345}, &out);
  ASSERT_GE(out.writes.size(), 2u);
  for (size_t i = 0; i + 1 < out.writes.size(); ++i) {
    EXPECT_GE(out.writes[i], 1048576u);
    EXPECT_LE(out.writes[i], X86OutputFilter::kBufferSize);
  }
  EXPECT_EQ(out.bytes.size(), in.size());
  EXPECT_EQ(out.opens, 0);  // the owner opens the next stream
}

TEST(X86OutputFilter, ShortStreamsPassUnchangedAndNothingWritesNothing) {
  for (size_t n = 0; n < 5; ++n) {
    Bytes in(n, 0xE8);
    test::CollectingOutputStream out;
    EXPECT_EQ(Filter(in, {1}, &out), in);
    EXPECT_EQ(out.writes.size(), n == 0 ? 0u : 1u);
  }
}

TEST(X86OutputFilter, PositionCountsBytesPassedOnBeforeFinish) {
  test::CollectingOutputStream out;
  X86OutputFilter filter(out);
  filter.open();
  Bytes in(X86OutputFilter::kBufferSize - 1, 0x90);
  filter.write(in.data(), static_cast<uint32_t>(in.size()));
  EXPECT_EQ(filter.position(), 0u);
  EXPECT_TRUE(out.writes.empty());
  filter.write(in.data(), 1);
  // No opcode: everything but the last 4 bytes is final.
  EXPECT_EQ(filter.position(), X86OutputFilter::kBufferSize - 4);
  filter.finish();
  EXPECT_EQ(filter.position(), X86OutputFilter::kBufferSize - 4);
  EXPECT_EQ(out.bytes.size(), X86OutputFilter::kBufferSize);
}

}  // namespace
}  // namespace corv

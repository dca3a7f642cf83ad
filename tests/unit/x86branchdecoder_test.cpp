#include "unpacker/x86branchdecoder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "blockwriter.h"

namespace corv {
namespace {

using test::Bytes;

// Converts a whole stream in pieces of at most `piece` bytes, carrying the
// unfinished tail of each piece to the front of the next, and passes the
// last unfinished bytes on unconverted.
Bytes DecodeInPieces(const Bytes& in, size_t piece) {
  X86BranchDecoder decoder;
  Bytes out;
  Bytes pending;
  uint32_t position = 0;
  size_t next = 0;
  while (next < in.size()) {
    size_t take = std::min(piece, in.size() - next);
    pending.insert(pending.end(), in.begin() + next, in.begin() + next + take);
    next += take;
    size_t done = decoder.convert(pending.data(), pending.size(), position);
    out.insert(out.end(), pending.begin(), pending.begin() + done);
    pending.erase(pending.begin(), pending.begin() + done);
    position += static_cast<uint32_t>(done);
  }
  out.insert(out.end(), pending.begin(), pending.end());
  return out;
}

TEST(X86BranchDecoder, StartsInTheEncodersInitialState) {
  X86BranchDecoder d;
  EXPECT_EQ(d.prevMask(), 0u);
  EXPECT_EQ(d.prevPosition(), 0xFFFFFFFBu);
}

TEST(X86BranchDecoder, ConvertsACallAtOffsetZero) {
  // call to absolute 0x105 at offset 0 becomes relative 0x100.
  Bytes b = {0xE8, 0x05, 0x01, 0x00, 0x00, 0x90};
  X86BranchDecoder d;
  EXPECT_EQ(d.convert(b.data(), b.size(), 0), 5u);
  EXPECT_EQ(b, (Bytes{0xE8, 0x00, 0x01, 0x00, 0x00, 0x90}));
}

TEST(X86BranchDecoder, LeavesShortPiecesAndFarOperandsAlone) {
  Bytes shortPiece = {0xE8, 0x01, 0x02, 0x03};
  Bytes copy = shortPiece;
  X86BranchDecoder d;
  EXPECT_EQ(d.convert(shortPiece.data(), shortPiece.size(), 0), 0u);
  EXPECT_EQ(shortPiece, copy);

  Bytes distant = {0xE9, 0x11, 0x22, 0x33, 0x44, 0x90, 0x90, 0x90, 0x90};
  copy = distant;
  X86BranchDecoder d2;
  EXPECT_EQ(d2.convert(distant.data(), distant.size(), 0), distant.size() - 4);
  EXPECT_EQ(distant, copy);
}

TEST(X86BranchDecoder, KeepsAtMostFourTrailingBytesUnfinished) {
  for (size_t size = 5; size < 64; ++size) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
      Bytes b = test::RandomBytes(size, seed);
      for (size_t i = 0; i < size; i += 3) b[i] = 0xE8;  // many opcodes
      X86BranchDecoder d;
      size_t done = d.convert(b.data(), b.size(), seed * 977);
      EXPECT_GE(done, size - 4);
      EXPECT_LE(done, size);
    }
  }
}

// Dense opcodes with near operands exercise the skipping state far more than
// real code does.
Bytes OpcodeSoup(size_t size, uint32_t seed) {
  Bytes b = test::RandomBytes(size, seed);
  Bytes pick = test::RandomBytes(size, seed + 1000);
  for (size_t i = 0; i < size; ++i) {
    switch (pick[i] % 6) {
      case 0: b[i] = 0xE8; break;
      case 1: b[i] = 0xE9; break;
      case 2: b[i] = 0x00; break;
      case 3: b[i] = 0xFF; break;
      default: break;
    }
  }
  return b;
}

TEST(X86BranchDecoder, MatchesLiblzmaOnOpcodeSoup) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    Bytes in = OpcodeSoup(200000 + seed * 13, seed);
    Bytes expected = test::LiblzmaX86Decode(in);
    ASSERT_EQ(expected.size(), in.size());
    for (size_t piece : {size_t(1), size_t(5), size_t(7), size_t(4096), in.size()}) {
      EXPECT_EQ(DecodeInPieces(in, piece), expected) << "seed " << seed << " piece " << piece;
    }
  }
}

}  // namespace
}  // namespace corv

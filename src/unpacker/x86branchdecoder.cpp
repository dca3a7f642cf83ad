#include "unpacker/x86branchdecoder.h"

#include <cstring>

namespace corv {
namespace {

// 00 or FF: the top byte of a target within 16 MiB of the instruction,
// forwards or backwards, the only operands the encoder converts.
inline bool IsNearTopByte(uint8_t b) { return static_cast<uint8_t>(b + 1) <= 1; }

// The previous-mask, bit by bit: bit k (1 to 3) says that the byte k
// positions before the current opcode was itself an unconverted E8/E9;
// bit 4 + k that this earlier opcode's operand had a near top byte. Bits
// further back are dropped as the mask moves along.
//
// An operand may be converted only when no earlier opcode with a near
// operand lies 1 to 3 bytes back, and the earlier plain opcodes form one of
// the patterns the encoder accepted (indexed by bits 1 to 3).
constexpr bool kMayConvert[8] = {true, true, true, false, true, false, false, false};
// Which byte of the operand, counted from its top (1 to 3), the nearest
// earlier opcode's operand ends on; indexed by bits 1 to 3 (bit 4 is always
// clear here when the piece follows on from the previous one; the index is
// masked all the same so that no caller can make it read past the table).
constexpr unsigned kOverlapByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};

// Index of the first E8 or E9 in data[from, end), or end. Word at a time:
// b | 1 equals E9 for both opcodes, so XOR with E9 leaves a zero byte there.
size_t FindBranchOpcode(const uint8_t* data, size_t from, size_t end) {
  using Word = size_t;
  constexpr Word kOnes = ~Word(0) / 0xFF;
  constexpr Word kHighs = kOnes * 0x80;
  constexpr Word kE9 = kOnes * 0xE9;
  size_t i = from;
  while (end - i >= sizeof(Word)) {
    Word w;
    std::memcpy(&w, data + i, sizeof w);
    Word x = (w | kOnes) ^ kE9;
    if (((x - kOnes) & ~x & kHighs) != 0) break;
    i += sizeof(Word);
  }
  while (i < end && (data[i] | 1) != 0xE9) ++i;
  return i;
}

}  // namespace

size_t X86BranchDecoder::convert(uint8_t* data, size_t size, uint32_t streamOffset) {
  if (size < 5) return 0;
  uint32_t mask = prevMask_;
  uint32_t prevPos = prevPosition_;
  // An opcode seen more than 5 bytes before this piece tells nothing any more.
  if (streamOffset - prevPos > 5) prevPos = streamOffset - 5;

  // Opcodes are looked for up to 5 bytes before the end: each needs its
  // 4-byte operand within the piece.
  const size_t scanEnd = size - 4;
  size_t i = 0;
  for (;;) {
    i = FindBranchOpcode(data, i, scanEnd);
    if (i == scanEnd) break;

    const uint32_t here = streamOffset + static_cast<uint32_t>(i);
    const uint32_t distance = here - prevPos;
    prevPos = here;
    if (distance > 5) {
      mask = 0;
    } else {
      for (uint32_t step = 0; step < distance; ++step) mask = (mask & 0x77) << 1;
    }

    uint8_t* operand = data + i + 1;
    const uint8_t top = operand[3];
    if (IsNearTopByte(top) && kMayConvert[(mask >> 1) & 7] && (mask >> 1) < 0x10) {
      uint32_t value = static_cast<uint32_t>(operand[0]) | static_cast<uint32_t>(operand[1]) << 8 |
                       static_cast<uint32_t>(operand[2]) << 16 | static_cast<uint32_t>(top) << 24;
      const uint32_t next = here + 5;
      uint32_t target;
      for (;;) {
        target = value - next;
        if (mask == 0) break;
        // The encoder converted this operand again while the byte that the
        // earlier operand overlaps came out near; undo that round too.
        const unsigned shift = 24 - kOverlapByte[(mask >> 1) & 7] * 8;
        if (!IsNearTopByte(static_cast<uint8_t>(target >> shift))) break;
        value = target ^ ((uint32_t(1) << (shift + 8)) - 1);
      }
      operand[0] = static_cast<uint8_t>(target);
      operand[1] = static_cast<uint8_t>(target >> 8);
      operand[2] = static_cast<uint8_t>(target >> 16);
      // Bit 24 of the result decides the sign: the top byte is 00 or FF again.
      operand[3] = (target & 0x01000000u) ? 0xFF : 0x00;
      i += 5;
      mask = 0;
    } else {
      ++i;
      mask |= 1;
      if (IsNearTopByte(top)) mask |= 0x10;
    }
    if (i >= scanEnd) break;
  }

  prevMask_ = mask;
  prevPosition_ = prevPos;
  return i;
}

}  // namespace corv

// The x86 branch-conversion decoder (BCJ).
//
// Before compression the packager turns the 32-bit relative operands of
// x86 call (E8) and jump (E9) instructions into absolute targets, which
// compress better; this decoder turns them back. An operand is converted
// only when its top byte is 00 or FF, and the decoder skips the same
// operands that the encoder skipped, which it recognises from the recent
// E8/E9 bytes it has seen (the previous-mask) and where the last one was
// (the previous-position). The state carries over from one call to the
// next, so a stream can be converted in pieces, provided each call starts
// with the bytes that the previous call did not finish.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corv {

class X86BranchDecoder {
public:
  // The state at the start of a stream: no E8/E9 byte seen, the previous
  // one taken to lie 5 bytes before offset 0.
  static constexpr uint32_t kInitialPrevMask = 0;
  static constexpr uint32_t kInitialPrevPosition = 0xFFFFFFFBu;

  X86BranchDecoder() { reset(); }

  void reset() {
    prevMask_ = kInitialPrevMask;
    prevPosition_ = kInitialPrevPosition;
  }

  // Converts `size` bytes in place; `streamOffset` is the offset of data[0]
  // in the stream, modulo 2^32. Returns how many leading bytes are final:
  // 0 when size < 5, otherwise between size - 4 and size. The bytes after
  // them (an instruction that may continue in the next piece) are unchanged
  // and must be passed again, at the front of the next call.
  size_t convert(uint8_t* data, size_t size, uint32_t streamOffset);

  uint32_t prevMask() const { return prevMask_; }
  uint32_t prevPosition() const { return prevPosition_; }

private:
  uint32_t prevMask_;
  uint32_t prevPosition_;
};

}  // namespace corv

// X86OutputFilter: the output stream that undoes the packager's x86 branch
// conversion on the decoded bytes of a block before they reach their
// destination.
//
// Bytes are collected in a buffer of 1 MiB + 4 and converted a full buffer
// at a time, so the result never depends on how the decoder happened to cut
// its output; the at most 4 bytes that could start an instruction reaching
// into the next buffer stay behind and are converted with it. `finish`
// passes on the rest, whose last up to 4 bytes stay as they are.
#pragma once

#include <cstdint>
#include <memory>

#include "unpacker/x86branchdecoder.h"
#include "util/xstream.h"

namespace corv {

class X86OutputFilter : public OutputStream {
public:
  static constexpr uint32_t kBufferSize = 1048580;

  // `next` (borrowed) receives the converted bytes, in pieces of about
  // 1 MiB; it must have been opened by its owner.
  explicit X86OutputFilter(OutputStream& next);
  ~X86OutputFilter() override;

  // Starts the conversion state at the beginning of a stream; `next` is not
  // opened again.
  void open() override;
  // Takes `count` bytes; passes on every full buffer. A stream that reaches
  // 4 GiB is an assertion failure: offsets are 32-bit.
  void write(const void* data, uint32_t count) override;
  // Converts and passes on what is left, the last up to 4 bytes unconverted.
  void finish();

  // Bytes already converted and passed on: the stream offset of the
  // buffer's first byte.
  uint64_t position() const { return position_; }

private:
  void convertFullBuffer();

  OutputStream& next_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t fill_ = 0;
  uint64_t position_ = 0;
  X86BranchDecoder decoder_;
};

}  // namespace corv

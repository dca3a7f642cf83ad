// Fuzz target: arbitrary bytes as a package block through the decompressor
// and, as decoded data, through the x86 output filter.
//
// Checks beyond "no crash": a block fails only with FatalError (never an
// assertion), and the filter's output depends neither on how its input is
// cut nor on anything but the bytes (it matches one pass of the decoder).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "unpacker/decompressor.h"
#include "unpacker/x86branchdecoder.h"
#include "unpacker/x86outputfilter.h"
#include "util/exceptions.h"

namespace {

using corv::InputStream;
using corv::OutputStream;

class MemoryInput : public InputStream {
public:
  MemoryInput(const uint8_t* data, size_t size, uint32_t piece) : data_(data), size_(size), piece_(piece) {}
  void open() override {}
  uint32_t read(void* buffer, uint32_t count) override {
    size_t n = count;
    if (n > piece_) n = piece_;
    if (n > size_ - at_) n = size_ - at_;
    if (n) std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return static_cast<uint32_t>(n);
  }

private:
  const uint8_t* data_;
  size_t size_;
  uint32_t piece_;
  size_t at_ = 0;
};

struct OutputLimit {};

// Keeps what it is given, up to a limit that keeps each run short.
class Collect : public OutputStream {
public:
  explicit Collect(size_t limit) : limit_(limit) {}
  void open() override {}
  void write(const void* buffer, uint32_t count) override {
    if (count == 0) std::abort();  // the decoder never writes nothing
    if (bytes.size() + count > limit_) throw OutputLimit();
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    bytes.insert(bytes.end(), p, p + count);
  }
  std::vector<uint8_t> bytes;

private:
  size_t limit_;
};

void FuzzBlock(const uint8_t* data, size_t size) {
  std::vector<uint8_t> block(data, data + size);
  // Keep the dictionary within what a fuzzing process may allocate.
  if (block.size() >= corv::kBlockHeaderSize) {
    uint32_t dict;
    std::memcpy(&dict, &block[9], 4);
    if (dict > (16u << 20)) block[12] = 0;
  }
  uint32_t piece = size > 0 ? 1 + data[size - 1] * 4099u : 1;
  MemoryInput in(block.data(), block.size(), piece);
  Collect out(32u << 20);
  try {
    corv::Decompressor().decompress(in, out);
  } catch (const corv::AssertionFailedError&) {
    std::abort();
  } catch (const corv::Exception&) {
  } catch (const OutputLimit&) {
  }
}

void FuzzFilter(const uint8_t* data, size_t size) {
  Collect whole(SIZE_MAX), pieces(SIZE_MAX);
  {
    corv::X86OutputFilter f(whole);
    f.open();
    f.write(data, static_cast<uint32_t>(size));
    f.finish();
  }
  {
    corv::X86OutputFilter f(pieces);
    f.open();
    uint32_t seed = size ? data[0] : 1;
    for (size_t at = 0; at < size;) {
      seed = seed * 1103515245u + 12345u;
      size_t n = 1 + (seed >> 16) % 97;
      if (n > size - at) n = size - at;
      f.write(data + at, static_cast<uint32_t>(n));
      at += n;
    }
    f.finish();
  }
  std::vector<uint8_t> direct(data, data + size);
  corv::X86BranchDecoder d;
  size_t done = d.convert(direct.data(), direct.size(), 0);
  if (size >= 5 ? (done + 4 < size || done > size) : done != 0) std::abort();
  if (whole.bytes != pieces.bytes || whole.bytes != direct) std::abort();

  // Any starting offset is safe too.
  if (size >= 4) {
    uint32_t offset;
    std::memcpy(&offset, data, 4);
    corv::X86BranchDecoder other;
    std::vector<uint8_t> copy(data, data + size);
    done = other.convert(copy.data(), copy.size(), offset);
    if (size >= 5 && (done + 4 < size || done > size)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBlock(data, size);
  FuzzFilter(data, size);
  return 0;
}

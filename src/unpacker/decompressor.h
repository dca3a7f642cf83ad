// Decoding of one package block.
//
// A block is a 13-byte header followed by raw LZMA1 data:
//   offset 0, 8 bytes: decoded size (signed 64-bit, little-endian)
//   offset 8, 1 byte:  LZMA properties (pb * 5 + lp) * 9 + lc, below 225
//   offset 9, 4 bytes: dictionary size (unsigned 32-bit; 0 means 1)
// (the decoded size first: the reverse of the LZMA-Alone header). Blocks of
// less than 0xFFFFFFFF decoded bytes were x86-converted before compression
// and pass through X86OutputFilter on the way out.
//
// Every damage of the block (short header, bad properties, undecodable or
// truncated data) is FatalError 1202; failures of the streams themselves
// (1102 from the package file, 1103 or AbortUnpackException from an
// extraction) pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "util/xstream.h"

namespace corv {

constexpr size_t kBlockHeaderSize = 13;

struct BlockHeader {
  int64_t decodedSize = 0;
  uint32_t lc = 0;
  uint32_t lp = 0;
  uint32_t pb = 0;
  // As stored; the decoder takes 0 as 1.
  uint32_t dictionary = 0;
};

// The header of `bytes`; none when the properties byte is 225 or more.
std::optional<BlockHeader> ParseBlockHeader(const uint8_t (&bytes)[kBlockHeaderSize]);

class Decompressor {
public:
  // Read sizes of the compressed data and the most produced in one step.
  static constexpr uint32_t kInputBufferSize = 1048576;
  static constexpr uint32_t kOutputBufferSize = 1048576;

  Decompressor() = default;
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  virtual ~Decompressor();

  // Opens `input` and `output`, reads the block header and decodes exactly
  // one block into `output`, in steps of at most 1 MiB. Decoding stops at
  // the decoded size or at an end marker, whichever comes first; the
  // output is not told of the end (it knows how much it expects). Memory:
  // the dictionary (at most the decoded size) plus about 3 MiB, whatever the
  // block's size.
  virtual void decompress(InputStream& input, OutputStream& output);
};

// The CRC-32 (the polynomial of zip and PNG) of `size` bytes, continuing
// from `crc`, the value of the bytes before them (0 for none). Blocks record
// it of their decoded bytes, since LZMA data carries no check of its own.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Makes the decompressors of the package's blocks. The process has one,
// registered by the driver; the LZMA factory serves when none is.
class DecompressorFactory {
public:
  virtual ~DecompressorFactory();
  virtual std::unique_ptr<Decompressor> create() const;

  static const DecompressorFactory& current();
  // `factory` is borrowed and must outlive its use; null restores the
  // built-in one.
  static void setCurrent(const DecompressorFactory* factory);
};

}  // namespace corv

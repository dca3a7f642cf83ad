// Test helper: writes package blocks with liblzma, and gives liblzma's own
// decoding of them for comparison.
//
// A block is the 13-byte header (decoded size as signed 64-bit, the LZMA
// properties byte, the dictionary size as unsigned 32-bit; little-endian)
// followed by raw LZMA1 data, normally of bytes put through the x86
// branch-conversion encoder first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corv {
namespace test {

using Bytes = std::vector<uint8_t>;

struct BlockOptions {
  bool x86 = true;                 // put the bytes through the x86 encoder first
  uint32_t preset = 0;             // liblzma preset level (0 is fastest)
  uint32_t dictionary = 1u << 20;  // dictionary size in bytes
  uint32_t lc = 3, lp = 0, pb = 2;
};

// The raw LZMA1 stream (with end marker) of `data`, through the x86 encoder
// first when options.x86.
Bytes CompressRaw(const Bytes& data, const BlockOptions& options = {});

// 13-byte header + CompressRaw(data). `decodedSize` replaces data.size() in
// the header when it is not -2 (for blocks that lie about their size).
Bytes EncodeBlock(const Bytes& data, const BlockOptions& options = {}, int64_t decodedSize = -2);

// The header alone.
Bytes BlockHeader(int64_t decodedSize, uint8_t properties, uint32_t dictionary);
uint8_t PropertiesByte(uint32_t lc, uint32_t lp, uint32_t pb);

// liblzma's x86 decoder applied to `data` as a whole stream starting at
// offset 0 (through a raw LZMA1 round trip, since liblzma offers the x86
// filter only in front of a compressor).
Bytes LiblzmaX86Decode(const Bytes& data);

// The installer's trailer: magic "5II1", record block length, offset and
// decoded record size.
Bytes Trailer(uint32_t length, uint64_t offset, uint64_t recordSize);

void AppendLE(Bytes& out, uint64_t value, int bytes);

// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed);

}  // namespace test
}  // namespace corv

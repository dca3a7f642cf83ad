// Package blocks as the installer decodes them: a 13-byte header (the
// decoded size as a signed 64-bit number, then the LZMA properties byte and
// the 32-bit dictionary size) followed by raw LZMA data of the bytes put
// through the x86 branch converter from the block's offset 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "unpacker/decompressor.h"

namespace corv::pack {

// The block parameters every package uses: lc 3, lp 0, pb 2, 8 MiB.
constexpr uint8_t kLzmaProperties = 0x5D;
constexpr uint32_t kLzmaDictionary = 8u << 20;

// Where encoded bytes go.
class ByteSink {
public:
  virtual ~ByteSink() = default;
  // Throws std::runtime_error when the bytes cannot be written.
  virtual void write(const uint8_t* data, size_t size) = 0;
};

class MemorySink : public ByteSink {
public:
  void write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// Encodes one block of a size known beforehand, fed in pieces of any size.
// The output depends only on the bytes fed and the level, never on how
// they were cut.
class BlockEncoder {
public:
  // Writes the header at once. `level` is the encoder preset (0-9, speed
  // against size); the properties and the dictionary are fixed whatever it
  // is. Throws std::invalid_argument for a bad level and std::runtime_error
  // when the encoder cannot start.
  BlockEncoder(ByteSink& out, uint64_t decodedSize, int level = 6);
  BlockEncoder(const BlockEncoder&) = delete;
  BlockEncoder& operator=(const BlockEncoder&) = delete;
  ~BlockEncoder();

  // Feeds bytes; more than the announced size is a std::logic_error.
  void write(const uint8_t* data, size_t size);
  // Ends the data; fewer bytes than announced is a std::logic_error.
  // Returns the block's length: header and compressed data.
  uint64_t finish();

  uint64_t fed() const { return fed_; }

private:
  void pump(bool finishing);

  struct State;
  std::unique_ptr<State> state_;
  ByteSink& out_;
  uint64_t decodedSize_;
  uint64_t fed_ = 0;
  uint64_t written_ = 0;
  bool finished_ = false;
};

// The whole block of `data` in memory.
std::vector<uint8_t> EncodeBlock(const std::vector<uint8_t>& data, int level = 6);

}  // namespace corv::pack

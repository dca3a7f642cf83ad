// The property block that an executable or library of the product carries
// in its ".config" section.
//
// A property block, all integers unsigned 32-bit little-endian:
//   0 magic "CPB\0" (0x00425043), 4 version 2, 8..23 four words carried
//   over unchanged, 24 number of entries, 28 the entries back to back.
// An entry is its identifier, its data length L and L bytes of data; a
// string entry holds the ANSI text with its zero, padded with zeros to a
// multiple of 4; an integer entry holds one value (L = 4). The same
// identifier may occur more than once; a lookup takes the last one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "util/messagenames.h"
#include "util/xstring.h"

namespace corv {

// A component whose executable cannot take a property block.
using msg::kInvalidComponent;


// Identifiers of the properties the installer writes or reads.
enum PropertyId : uint32_t {
  kPropertyVMProperty = 5,
  kPropertyNTService = 11,
  kPropertyDLLRedirection = 15,
  kPropertyJREHome = 16,
};

// Kinds of the property table.
enum PropertyKind : int { kPropertyUnknown = 0, kPropertyInteger = 1, kPropertyString = 2 };

// The table's kind of property `id`; kPropertyUnknown for an identifier it
// does not list (0, 24, above 29).
PropertyKind KindOfProperty(uint32_t id);
// The table's name of property `id` ("JREHome"); none for an unlisted one.
const char* NameOfProperty(uint32_t id);

class PropertyBlock {
public:
  static constexpr uint32_t kMagic = 0x00425043;
  static constexpr uint32_t kVersion = 2;
  static constexpr uint32_t kHeaderSize = 28;
  // Identifiers a rebuild may carry over.
  static constexpr uint32_t kLastKnownId = 29;

  // The data of one entry, pointing into the block.
  struct Entry {
    uint32_t id;
    const uint8_t* data;
    uint32_t length;
  };

  // An empty block: magic, version 2, the carried words 0, no entry.
  PropertyBlock();

  // The block in the bytes of a ".config" section of the file `path`. At
  // least 28 bytes with the magic and version 2, else FatalError 1243 with
  // the path. Entries are walked; the count is cut to the entries that lie
  // wholly inside the bytes, and the block ends after the last of them.
  PropertyBlock(const XString& path, const uint8_t* data, size_t length);

  // The last entry with identifier `id`, or none.
  std::optional<Entry> find(uint32_t id) const;
  // The text of the last entry `id`: its bytes up to the first zero (all of
  // them if it holds none); none without such an entry.
  std::optional<AnsiString> findString(uint32_t id) const;

  // Append one entry and count it. A string entry holds `text`, a zero and
  // zero padding to a multiple of 4.
  void addString(uint32_t id, const AnsiString& text);
  void addInteger(uint32_t id, uint32_t value);

  // A new block with this block's header (count 0) and, in order, every
  // entry whose identifier lies in 1..29 other than 5, 15 and 16: as an
  // integer where the table says integer, else as a string re-padded.
  // Entries with other identifiers are dropped; identifier 0 is an
  // assertion failure.
  PropertyBlock rebuild() const;

  uint32_t count() const;
  // The used bytes: header and entries.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // Every entry, in order.
  std::vector<Entry> entries() const;

private:
  void append(uint32_t id, const void* data, uint32_t length, uint32_t paddedLength);

  std::vector<uint8_t> bytes_;
};

}  // namespace corv

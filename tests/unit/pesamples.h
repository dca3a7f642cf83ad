// Test helper: small PE32 images made from a description, byte by byte, and
// property blocks in the layout of a ".config" section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corv {
namespace test {

struct PeSection {
  std::string name;            // up to 8 characters
  std::vector<uint8_t> data;   // the raw data; padded with zeros to rawSize
  uint32_t rawSize = 0;        // 0: the data's size rounded up to FileAlignment
  uint32_t virtualSize = 0;    // 0: the data's size
};

// A debug directory entry whose data lies in the overlay.
struct PeDebugEntry {
  uint32_t overlayOffset;   // where its data starts, within the overlay
  uint32_t size;
  uint32_t addressOfRawData = 0;
};

struct PeImage {
  std::vector<PeSection> sections;
  uint32_t fileAlignment = 0x200;
  uint32_t sectionAlignment = 0x1000;
  std::vector<uint8_t> overlay;  // bytes behind the last section
  // Debug directory entries, placed at the start of section
  // `debugSection`'s data (which must have room for them).
  std::vector<PeDebugEntry> debug;
  size_t debugSection = 0;
};

// Where the generator put things.
struct PeLayout {
  uint32_t ntOffset;            // e_lfanew
  uint32_t sectionTableOffset;
  std::vector<uint32_t> rawPointers;
  std::vector<uint32_t> virtualAddresses;
  uint32_t overlayOffset;
  uint32_t sizeOfImage;
};

// The image's bytes: DOS header, NT headers, section table, the sections
// laid out in order at FileAlignment and SectionAlignment, the overlay.
std::vector<uint8_t> MakePe(const PeImage& image, PeLayout* layout = nullptr);

// A property block: the header with `carried` as its four carried words,
// then the entries (identifier, data) with their lengths as given.
struct BlockEntry {
  uint32_t id;
  std::vector<uint8_t> data;
};
std::vector<uint8_t> MakeBlock(const std::vector<BlockEntry>& entries, uint32_t carried = 0);
// String and integer data as the toolkit writes them.
std::vector<uint8_t> StringData(const std::string& text);
std::vector<uint8_t> IntegerData(uint32_t value);

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset);

}  // namespace test
}  // namespace corv

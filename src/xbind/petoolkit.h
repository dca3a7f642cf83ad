// Access to a PE32 file for binding: its DOS header, NT headers and section
// table, and the property block in its ".config" section, which it can
// rewrite in place or, when the block has outgrown the section, by growing
// the section (the last one) and moving everything behind it.
//
// Every position read from the file is checked against the file before it
// is used: a hostile file gives none or a FatalError, never an access
// outside a buffer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "util/file.h"
#include "util/messagenames.h"
#include "xbind/bintoolkit.h"

namespace corv {

// A component whose executable cannot take a property block.
using msg::kInvalidComponent;

class PEToolkit {
public:
  static constexpr uint32_t kNtHeadersSize = 248;
  static constexpr uint32_t kSectionHeaderSize = 40;
  // The size of each of the two buffers that move the data behind a
  // growing section, and the largest growth.
  static constexpr uint32_t kMoveChunk = 0x100000;

  // Reads the headers of `file`, which is open for reading (and writing,
  // for writeBlock) and borrowed. None when a seek or a read fails, the DOS
  // header lacks "MZ" or the NT headers lack "PE\0\0".
  static std::unique_ptr<PEToolkit> open(AbstractFile& file);

  // A section named ".config" exists.
  bool hasConfigSection() const;

  // The block in ".config"; none without such a section or when its bytes
  // cannot be read. FatalError 1243 for bytes that hold no valid block.
  std::optional<PropertyBlock> readBlock();

  // Writes `block` into ".config" (FatalError 1243 without one, or when
  // its data does not lie behind the headers). A block smaller than the section's raw
  // size is written at its start; the rest of the section keeps its bytes.
  // Otherwise the section, which must be the last one, grows by whole
  // FileAlignment units (at most 1 MiB, else an assertion failure): the
  // block and zeros fill it, everything behind it moves back by the growth,
  // VirtualSize and SizeOfImage grow to cover it, and debug data behind
  // the section keeps its place in the debug directory.
  // Everything the growth needs is checked before the first byte is
  // written: FatalError 1243 when the section is not the last one, for a
  // zero alignment, a size that would overflow, or debug entries inside the
  // section or the headers; an
  // assertion failure for debug data behind it that is mapped. Then 1102
  // for a failed seek or read, 1103 for a failed write.
  void writeBlock(const PropertyBlock& block);

  // Closes the file; non-zero if closing failed.
  int close() { return file_.close(); }

  const XString& path() const { return file_.widePath(); }

private:
  struct Section {
    uint32_t index;
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
  };
  // What the growth of ".config" changes in the debug directory.
  struct DebugFix {
    uint64_t offset = 0;  // of the entries in the file, before the move
    std::vector<uint8_t> entries;
  };

  PEToolkit(AbstractFile& file, uint32_t ntOffset) : file_(file), ntOffset_(ntOffset) {}

  std::optional<Section> findSection(const char* name) const;
  Section section(uint32_t index) const;
  uint32_t sectionCount() const;
  // The end of the NT headers or of the section table, whichever is later.
  uint64_t headersEnd() const;
  uint32_t ntWord(uint32_t offset) const;
  void setNtWord(uint32_t offset, uint32_t value);
  void setSectionWord(uint32_t index, uint32_t offset, uint32_t value);

  void grow(const Section& config, const PropertyBlock& block);
  std::optional<DebugFix> debugEntriesBehind(const Section& config, uint64_t growth);
  void seekForRead(uint64_t offset);
  void seekForWrite(uint64_t offset);
  void writeAt(uint64_t offset, const void* data, size_t count);
  bool readAt(uint64_t offset, void* data, size_t count);

  AbstractFile& file_;
  uint32_t ntOffset_;
  std::array<uint8_t, kNtHeadersSize> nt_{};
  uint64_t sectionTableOffset_ = 0;
  std::vector<uint8_t> sectionTable_;
};

}  // namespace corv

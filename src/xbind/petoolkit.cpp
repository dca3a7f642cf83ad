#include "xbind/petoolkit.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "util/exceptions.h"
#include "xbind/littleendian.h"

namespace corv {

namespace {


constexpr uint32_t kDosHeaderSize = 64;
constexpr uint16_t kDosMagic = 0x5A4D;       // "MZ"
constexpr uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kLfanewOffset = 0x3C;

// Offsets within the NT headers (signature, file header, 32-bit optional
// header).
constexpr uint32_t kNumberOfSections = 6;
constexpr uint32_t kSizeOfOptionalHeader = 20;
constexpr uint32_t kOptionalHeader = 24;
constexpr uint32_t kSectionAlignment = kOptionalHeader + 32;
constexpr uint32_t kFileAlignment = kOptionalHeader + 36;
constexpr uint32_t kSizeOfImage = kOptionalHeader + 56;
constexpr uint32_t kDebugDirectory = kOptionalHeader + 96 + 6 * 8;

// Offsets within a section header.
constexpr uint32_t kVirtualSize = 8;
constexpr uint32_t kVirtualAddress = 12;
constexpr uint32_t kSizeOfRawData = 16;
constexpr uint32_t kPointerToRawData = 20;

// A debug directory entry and its fields.
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kAddressOfRawData = 20;
constexpr uint32_t kDebugPointerToRawData = 24;

const char kConfigName[8] = {'.', 'c', 'o', 'n', 'f', 'i', 'g', 0};


uint64_t RoundUp(uint64_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

// Reads exactly `count` bytes; false on an error or at the end of the file.
bool ReadFully(AbstractFile& file, void* buffer, size_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    uint32_t ask = static_cast<uint32_t>(std::min<size_t>(count, PEToolkit::kMoveChunk));
    int32_t got = file.read(p, ask);
    if (got <= 0) return false;
    CORV_ASSERT(static_cast<uint32_t>(got) <= ask);
    p += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

// Reads up to `count` bytes, fewer only at the end of the file: the number
// read, or -1 on an error.
int64_t ReadUpTo(AbstractFile& file, uint8_t* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    int32_t got = file.read(buffer + done, count - done);
    if (got < 0) return -1;
    if (got == 0) break;
    CORV_ASSERT(static_cast<uint32_t>(got) <= count - done);
    done += static_cast<uint32_t>(got);
  }
  return done;
}

bool Overlaps(uint64_t start1, uint64_t length1, uint64_t start2, uint64_t length2) {
  return start1 < start2 + length2 && start2 < start1 + length1;
}

}  // namespace

std::unique_ptr<PEToolkit> PEToolkit::open(AbstractFile& file) {
  uint8_t dos[kDosHeaderSize];
  if (file.seek(kSeekStart, 0) != 0 || !ReadFully(file, dos, sizeof dos)) return nullptr;
  if (le::Get16(dos) != kDosMagic) return nullptr;
  std::unique_ptr<PEToolkit> pe(new PEToolkit(file, le::Get32(dos + kLfanewOffset)));
  if (file.seek(kSeekStart, pe->ntOffset_) != 0 || !ReadFully(file, pe->nt_.data(), kNtHeadersSize)) {
    return nullptr;
  }
  if (le::Get32(pe->nt_.data()) != kNtSignature) return nullptr;
  pe->sectionTableOffset_ = uint64_t(pe->ntOffset_) + kOptionalHeader + le::Get16(&pe->nt_[kSizeOfOptionalHeader]);
  pe->sectionTable_.resize(size_t(pe->sectionCount()) * kSectionHeaderSize);
  if (file.seek(kSeekStart, static_cast<int64_t>(pe->sectionTableOffset_)) != 0 ||
      !ReadFully(file, pe->sectionTable_.data(), pe->sectionTable_.size())) {
    return nullptr;
  }
  return pe;
}

uint32_t PEToolkit::sectionCount() const { return le::Get16(&nt_[kNumberOfSections]); }
uint32_t PEToolkit::ntWord(uint32_t offset) const { return le::Get32(&nt_[offset]); }
void PEToolkit::setNtWord(uint32_t offset, uint32_t value) { le::Put32(&nt_[offset], value); }

void PEToolkit::setSectionWord(uint32_t index, uint32_t offset, uint32_t value) {
  le::Put32(&sectionTable_[size_t(index) * kSectionHeaderSize + offset], value);
}

PEToolkit::Section PEToolkit::section(uint32_t index) const {
  const uint8_t* h = &sectionTable_[size_t(index) * kSectionHeaderSize];
  return Section{index, le::Get32(h + kVirtualSize), le::Get32(h + kVirtualAddress), le::Get32(h + kSizeOfRawData),
                 le::Get32(h + kPointerToRawData)};
}

std::optional<PEToolkit::Section> PEToolkit::findSection(const char* name) const {
  for (uint32_t i = 0; i < sectionCount(); ++i) {
    if (std::memcmp(&sectionTable_[size_t(i) * kSectionHeaderSize], name, 8) == 0) return section(i);
  }
  return std::nullopt;
}

uint64_t PEToolkit::headersEnd() const {
  return std::max<uint64_t>(uint64_t(ntOffset_) + kNtHeadersSize, sectionTableOffset_ + sectionTable_.size());
}

bool PEToolkit::hasConfigSection() const { return findSection(kConfigName).has_value(); }

bool PEToolkit::holds(uint64_t offset, uint64_t count) {
  int64_t size = file_.size();
  return size >= 0 && offset <= uint64_t(size) && count <= uint64_t(size) - offset;
}

bool PEToolkit::readAt(uint64_t offset, void* data, size_t count) {
  if (!holds(offset, count)) return false;
  return file_.seek(kSeekStart, static_cast<int64_t>(offset)) == 0 && ReadFully(file_, data, count);
}

std::optional<PropertyBlock> PEToolkit::readBlock() {
  std::optional<Section> config = findSection(kConfigName);
  if (!config) return std::nullopt;
  int64_t size = file_.size();
  if (size < 0 || uint64_t(config->rawPointer) + config->rawSize > uint64_t(size)) return std::nullopt;
  std::vector<uint8_t> data(config->rawSize);
  if (!readAt(config->rawPointer, data.data(), data.size())) return std::nullopt;
  return PropertyBlock(path(), data.data(), data.size());
}

void PEToolkit::seekForRead(uint64_t offset) {
  if (file_.seek(kSeekStart, static_cast<int64_t>(offset)) != 0) throw FatalError(kUnableToReadFile, path());
}

void PEToolkit::seekForWrite(uint64_t offset) {
  if (file_.seek(kSeekStart, static_cast<int64_t>(offset)) != 0) throw FatalError(kUnableToWriteFile, path());
}

void PEToolkit::writeAt(uint64_t offset, const void* data, size_t count) {
  seekForWrite(offset);
  if (count > 0 && file_.write(data, static_cast<uint32_t>(count)) != 0) throw FatalError(kUnableToWriteFile, path());
}

void PEToolkit::writeBlock(const PropertyBlock& block) {
  std::optional<Section> config = findSection(kConfigName);
  if (!config) throw FatalError(kInvalidComponent, path());
  // The headers stay where they are: the section must not cover them.
  if (headersEnd() > config->rawPointer) throw FatalError(kInvalidComponent, path());
  seekForRead(config->rawPointer);
  const std::vector<uint8_t>& bytes = block.bytes();
  if (bytes.size() < config->rawSize) {
    if (file_.write(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) {
      throw FatalError(kUnableToWriteFile, path());
    }
    return;
  }
  grow(*config, block);
}

void PEToolkit::grow(const Section& config, const PropertyBlock& block) {
  const std::vector<uint8_t>& bytes = block.bytes();
  const uint64_t blockSize = bytes.size();
  if (config.index + 1 != sectionCount()) throw FatalError(kInvalidComponent, path());
  const uint32_t fileAlignment = ntWord(kFileAlignment);
  const uint32_t sectionAlignment = ntWord(kSectionAlignment);
  if (fileAlignment == 0 || sectionAlignment == 0) throw FatalError(kInvalidComponent, path());

  const uint64_t growth = RoundUp(blockSize - config.rawSize, fileAlignment);
  CORV_ASSERT(growth <= kMoveChunk);
  const uint64_t oldEnd = uint64_t(config.rawPointer) + config.rawSize;
  const uint64_t rawSize = uint64_t(config.rawSize) + growth;
  const uint64_t mapped = RoundUp(rawSize, sectionAlignment);
  const uint64_t added = mapped > config.virtualSize ? mapped - config.virtualSize : 0;
  const uint64_t virtualSize = config.virtualSize + added;
  const uint64_t imageSize = ntWord(kSizeOfImage) + added;
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (rawSize > kMax || virtualSize > kMax || imageSize > kMax) throw FatalError(kInvalidComponent, path());
  std::optional<DebugFix> debug = debugEntriesBehind(config, growth);

  // The first chunk behind the section is read before the block covers it.
  std::vector<uint8_t> current(kMoveChunk);
  seekForRead(oldEnd);
  int64_t have = ReadUpTo(file_, current.data(), kMoveChunk);
  if (have < 0) throw FatalError(kUnableToReadFile, path());

  // The block, then zeros up to the section's new end.
  writeAt(config.rawPointer, bytes.data(), bytes.size());
  writeAt(config.rawPointer + blockSize, std::vector<uint8_t>(rawSize - blockSize, 0).data(), rawSize - blockSize);

  if (growth > 0) {
    std::vector<uint8_t> next(kMoveChunk);
    uint64_t offset = oldEnd;
    while (have > 0) {
      // The next chunk is read before this one overwrites its start.
      int64_t nextHave = 0;
      if (have == kMoveChunk) {
        seekForRead(offset + kMoveChunk);
        nextHave = ReadUpTo(file_, next.data(), kMoveChunk);
        if (nextHave < 0) throw FatalError(kUnableToReadFile, path());
      }
      writeAt(offset + growth, current.data(), static_cast<size_t>(have));
      offset += static_cast<uint64_t>(have);
      current.swap(next);
      have = nextHave;
    }
  }

  setSectionWord(config.index, kSizeOfRawData, static_cast<uint32_t>(rawSize));
  setSectionWord(config.index, kVirtualSize, static_cast<uint32_t>(virtualSize));
  setNtWord(kSizeOfImage, static_cast<uint32_t>(imageSize));
  writeAt(ntOffset_, nt_.data(), nt_.size());
  writeAt(sectionTableOffset_, sectionTable_.data(), sectionTable_.size());
  if (debug) writeAt(debug->offset, debug->entries.data(), debug->entries.size());
}

std::optional<PEToolkit::DebugFix> PEToolkit::debugEntriesBehind(const Section& config, uint64_t growth) {
  const uint32_t address = ntWord(kDebugDirectory);
  const uint64_t count = ntWord(kDebugDirectory + 4) / kDebugEntrySize;
  if (address == 0 || count == 0) return std::nullopt;
  const uint64_t length = count * kDebugEntrySize;
  std::optional<Section> holder;
  for (uint32_t i = 0; i < sectionCount() && !holder; ++i) {
    Section s = section(i);
    if (s.virtualAddress <= address && uint64_t(address) + length <= uint64_t(s.virtualAddress) + s.rawSize) {
      holder = s;
    }
  }
  if (!holder) return std::nullopt;

  const uint64_t oldEnd = uint64_t(config.rawPointer) + config.rawSize;
  DebugFix fix;
  fix.offset = uint64_t(holder->rawPointer) + (address - holder->virtualAddress);
  // Entries inside the rewritten section or the headers would undo what
  // the growth writes there.
  if (Overlaps(fix.offset, length, config.rawPointer, config.rawSize) ||
      Overlaps(fix.offset, length, ntOffset_, headersEnd() - ntOffset_)) {
    throw FatalError(kInvalidComponent, path());
  }
  // Nothing is allocated for entries the file does not hold.
  if (!holds(fix.offset, length)) throw FatalError(kUnableToReadFile, path());
  fix.entries.resize(static_cast<size_t>(length));
  if (!readAt(fix.offset, fix.entries.data(), fix.entries.size())) throw FatalError(kUnableToReadFile, path());
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* entry = &fix.entries[static_cast<size_t>(i * kDebugEntrySize)];
    const uint32_t pointer = le::Get32(entry + kDebugPointerToRawData);
    if (pointer < oldEnd) continue;
    // Debug data mapped into the image cannot move.
    CORV_ASSERT(le::Get32(entry + kAddressOfRawData) == 0);
    if (pointer + growth > std::numeric_limits<uint32_t>::max()) throw FatalError(kInvalidComponent, path());
    le::Put32(entry + kDebugPointerToRawData, static_cast<uint32_t>(pointer + growth));
  }
  // Entries that lie behind the section themselves move with it.
  if (fix.offset >= oldEnd) fix.offset += growth;
  return fix;
}

}  // namespace corv

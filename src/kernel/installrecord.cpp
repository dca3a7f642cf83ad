#include "kernel/installrecord.h"

#include "kernel/installrecordlayout.h"
#include "kernel/recordchecks.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"

namespace corv {

namespace {

[[noreturn]] void Corrupt() { throw FatalError(kCorruptedPackage); }

// Bounds-checked little-endian access to the record's bytes. Every read that
// would leave the record is the corrupted-package error.
class RecordReader {
public:
  // Strings may share their bytes, so a small record could name one long
  // string from every entry of a long table; the characters copied out are
  // therefore limited to a generous multiple of the record's size.
  RecordReader(const uint8_t* data, size_t size)
      : data_(data), size_(size), budget_(8 * static_cast<uint64_t>(size) + (1u << 20)), entries_(size / 4) {}

  uint8_t u8(uint64_t at) const {
    need(at, 1);
    return data_[at];
  }

  uint32_t u32(uint64_t at) const {
    need(at, 4);
    const uint8_t* p = data_ + at;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }

  uint64_t u64(uint64_t at) const {
    return static_cast<uint64_t>(u32(at)) | static_cast<uint64_t>(u32(at + 4)) << 32;
  }

  // The string whose offset is stored at `field`; none for offset 0.
  OptString string(uint64_t field) const {
    uint32_t offset = u32(field);
    if (offset == 0) return std::nullopt;
    if (offset >= size_) Corrupt();
    XString s;
    for (uint64_t at = offset;; at += 2) {
      if (at + 2 > size_) Corrupt();  // no NUL inside the record
      XChar c = static_cast<XChar>(data_[at] | data_[at + 1] << 8);
      if (c == 0) return s;
      if (budget_ == 0) Corrupt();
      --budget_;
      s += c;
    }
  }

  // A string that an entry must carry: absent reads as empty.
  XString text(uint64_t field) const { return string(field).value_or(XString()); }

  // Checks that `count` entries of `entrySize` bytes from `offset` lie inside
  // the record. A table with no entries may point anywhere. Tables may
  // overlap (every service could name the same dependency table), so
  // together they may not announce more entries than the record could hold
  // side by side: a small record must not make the reader build millions
  // of entries.
  void table(uint32_t count, uint32_t offset, size_t entrySize) const {
    if (count == 0) return;
    need(offset, static_cast<uint64_t>(count) * entrySize);
    if (count > entries_) Corrupt();
    entries_ -= count;
  }

private:
  void need(uint64_t at, uint64_t n) const {
    if (at > size_ || n > size_ - at) Corrupt();
  }

  const uint8_t* data_;
  size_t size_;
  mutable uint64_t budget_;
  mutable uint64_t entries_;
};

RecordBlock ReadBlock(const RecordReader& r, uint64_t at) {
  RecordBlock b;
  uint32_t count = r.u32(at + layout::block::kEntryCount);
  b.offset = r.u64(at + layout::block::kOffset);
  b.length = r.u64(at + layout::block::kLength);
  b.decodedSize = r.u64(at + layout::block::kDecodedSize);
  uint32_t table = r.u32(at + layout::block::kEntries);
  b.crc = r.u32(at + layout::block::kCrc);
  r.table(count, table, kRecordFileEntrySize);
  b.entries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = table + static_cast<uint64_t>(i) * kRecordFileEntrySize;
    RecordFileEntry entry;
    entry.name = r.text(e + layout::file::kName);
    entry.time = static_cast<int32_t>(r.u32(e + layout::file::kTime));
    entry.size = static_cast<int64_t>(r.u64(e + layout::file::kSize));
    b.entries.push_back(std::move(entry));
  }
  return b;
}

// A table of string offsets whose count and offset are stored at `field`.
std::vector<XString> ReadStringTable(const RecordReader& r, uint64_t field) {
  uint32_t count = r.u32(field + layout::kTableCount);
  uint32_t offset = r.u32(field + layout::kTableOffset);
  r.table(count, offset, 4);
  std::vector<XString> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = offset + static_cast<uint64_t>(i) * 4;
    out.push_back(r.text(at));
  }
  return out;
}

RecordJreRequirement ReadJre(const RecordReader& r) {
  RecordJreRequirement jre;
  jre.version = r.text(layout::kJreVersion);
  jre.value = r.u32(layout::kJreValue);
  jre.names = ReadStringTable(r, layout::kJreNames);
  uint32_t count = r.u32(layout::kJreGroups + layout::kTableCount);
  uint32_t offset = r.u32(layout::kJreGroups + layout::kTableOffset);
  r.table(count, offset, kRecordJreGroupSize);
  jre.groups.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t g = offset + static_cast<uint64_t>(i) * kRecordJreGroupSize;
    RecordJreGroup group;
    group.flag = r.u8(g + layout::jregroup::kFlag);
    uint32_t checks = r.u32(g + layout::jregroup::kChecks + layout::kTableCount);
    uint32_t checksAt = r.u32(g + layout::jregroup::kChecks + layout::kTableOffset);
    r.table(checks, checksAt, kRecordJreCheckSize);
    group.checks.reserve(checks);
    for (uint32_t k = 0; k < checks; ++k) {
      uint64_t c = checksAt + static_cast<uint64_t>(k) * kRecordJreCheckSize;
      RecordJreCheck check;
      check.path = r.text(c + layout::jrecheck::kPath);
      check.size = static_cast<int64_t>(r.u64(c + layout::jrecheck::kSize));
      group.checks.push_back(std::move(check));
    }
    jre.groups.push_back(std::move(group));
  }
  return jre;
}

std::vector<ShortcutEntry> ReadShortcuts(const RecordReader& r) {
  uint32_t count = r.u32(layout::kShortcuts + layout::kTableCount);
  uint32_t offset = r.u32(layout::kShortcuts + layout::kTableOffset);
  r.table(count, offset, kRecordShortcutSize);
  std::vector<ShortcutEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordShortcutSize;
    ShortcutEntry s;
    s.location = static_cast<ShortcutLocation>(r.u32(e + layout::shortcut::kLocation));
    s.name = r.text(e + layout::shortcut::kName);
    s.iconFile = r.string(e + layout::shortcut::kIconFile);
    s.iconIndex = static_cast<int32_t>(r.u32(e + layout::shortcut::kIconIndex));
    s.workingFolder = r.text(e + layout::shortcut::kWorkingFolder);
    s.target = r.text(e + layout::shortcut::kTarget);
    s.arguments = r.text(e + layout::shortcut::kArguments);
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<AssociationEntry> ReadAssociations(const RecordReader& r) {
  uint32_t count = r.u32(layout::kAssociations + layout::kTableCount);
  uint32_t offset = r.u32(layout::kAssociations + layout::kTableOffset);
  r.table(count, offset, kRecordAssociationSize);
  std::vector<AssociationEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordAssociationSize;
    AssociationEntry a;
    a.extension = r.text(e + layout::association::kExtension);
    a.label = r.text(e + layout::association::kLabel);
    a.typeDescription = r.text(e + layout::association::kTypeDescription);
    a.program = r.text(e + layout::association::kProgram);
    a.arguments = r.text(e + layout::association::kArguments);
    a.selected = r.u8(e + layout::association::kSelected) != 0;
    out.push_back(std::move(a));
  }
  return out;
}

std::vector<ServiceEntry> ReadServices(const RecordReader& r) {
  uint32_t count = r.u32(layout::kServices + layout::kTableCount);
  uint32_t offset = r.u32(layout::kServices + layout::kTableOffset);
  r.table(count, offset, kRecordServiceSize);
  std::vector<ServiceEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordServiceSize;
    ServiceEntry s;
    s.program = r.text(e + layout::service::kProgram);
    s.displayName = r.text(e + layout::service::kDisplayName);
    s.description = r.text(e + layout::service::kDescription);
    s.startKind = static_cast<ServiceEntry::StartKind>(r.u8(e + layout::service::kStartKind));
    s.accountKind = static_cast<ServiceEntry::AccountKind>(r.u8(e + layout::service::kAccountKind));
    s.interactive = r.u8(e + layout::service::kInteractive) != 0;
    s.dependencies = ReadStringTable(r, e + layout::service::kDependencies);
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace

uint32_t RecordChecksum(const uint8_t* data, size_t size) {
  CORV_ASSERT(size >= kRecordHeaderSize);
  static const uint8_t kZero[4] = {0, 0, 0, 0};
  uint32_t crc = Crc32(data, layout::kChecksum);
  crc = Crc32(kZero, sizeof kZero, crc);
  return Crc32(data + layout::kChecksum + 4, size - layout::kChecksum - 4, crc);
}

bool RecordChecksumMatches(const uint8_t* data, size_t size) {
  CORV_ASSERT(size >= kRecordHeaderSize);
  const uint8_t* p = data + layout::kChecksum;
  const uint32_t stored = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                          static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  return stored == 0 || stored == RecordChecksum(data, size);
}

InstallRecord ReadInstallRecord(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  if (r.u32(layout::kMagic) != kPackageMagic) Corrupt();
  if (size < kRecordHeaderSize) Corrupt();

  InstallRecord rec;
  for (const layout::ByteField& field : layout::kByteFields) field.set(rec, r.u8(field.offset));
  // What each name may be is for the record checks, once every value is read.
  for (const layout::StringField& field : layout::kStringFields) rec.*field.member = r.string(field.offset);

  rec.auxiliaryBlock = ReadBlock(r, layout::kAuxiliaryBlock);
  rec.mainBlock = ReadBlock(r, layout::kMainBlock);
  if (rec.noJre == 0) rec.jre = ReadJre(r);
  rec.shortcuts = ReadShortcuts(r);
  rec.associations = ReadAssociations(r);
  rec.services = ReadServices(r);
  rec.primaryMarkerFiles = ReadStringTable(r, layout::kPrimaryMarkerFiles);
  if (r.u8(layout::kExtensionFlags) & kRecordHasEntryDetails) {
    const uint64_t at = layout::kEntryDetails;
    rec.entryDetails.displayIcon = r.string(at + layout::details::kDisplayIcon);
    rec.entryDetails.displayVersion = r.string(at + layout::details::kDisplayVersion);
    rec.entryDetails.publisher = r.string(at + layout::details::kPublisher);
    rec.entryDetails.estimatedSize = r.u32(at + layout::details::kEstimatedSize);
  }
  rec.entryDetails.quietUninstaller = (r.u8(layout::kExtensionFlags) & kRecordQuietUninstaller) != 0;
  if (r.u8(layout::kExtensionFlags) & kRecordHasAssociationIcons) {
    const uint32_t count = r.u32(layout::kAssociationIcons + layout::kTableCount);
    const uint32_t offset = r.u32(layout::kAssociationIcons + layout::kTableOffset);
    r.table(count, offset, 4);
    if (count != rec.associations.size()) Corrupt();
    for (uint32_t i = 0; i < count; ++i) rec.associations[i].icon = r.string(offset + static_cast<uint64_t>(i) * 4);
  }
  std::vector<RecordFault> faults = FindRecordFaults(rec, RecordChecks::kInstaller, 1);
  if (!faults.empty()) throw RecordRefused(std::move(faults.front()));
  return rec;
}

bool InstallRecord::isInstallation() const {
  CORV_ASSERT(kind != 3);
  return kind == kPackageInstallation;
}

bool InstallRecord::isUpdate() const {
  CORV_ASSERT(kind != 3);
  return kind == kPackageUpdate;
}

bool InstallRecord::operator==(const InstallRecord& o) const {
  for (const layout::ByteField& field : layout::kByteFields) {
    if (field.get(*this) != field.get(o)) return false;
  }
  for (const layout::StringField& field : layout::kStringFields) {
    if (this->*field.member != o.*field.member) return false;
  }
  return auxiliaryBlock == o.auxiliaryBlock && mainBlock == o.mainBlock &&
         (noJre != 0 || jre == o.jre) && shortcuts == o.shortcuts &&
         associations == o.associations && services == o.services &&
         primaryMarkerFiles == o.primaryMarkerFiles && entryDetails == o.entryDetails;
}

}  // namespace corv

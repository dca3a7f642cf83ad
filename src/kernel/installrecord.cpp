#include "kernel/installrecord.h"

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
  uint32_t count = r.u32(at);
  b.offset = r.u64(at + 8);
  b.length = r.u64(at + 16);
  b.decodedSize = r.u64(at + 24);
  uint32_t table = r.u32(at + 32);
  b.crc = r.u32(at + 36);
  r.table(count, table, kRecordFileEntrySize);
  b.entries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = table + static_cast<uint64_t>(i) * kRecordFileEntrySize;
    RecordFileEntry entry;
    entry.name = r.text(e);
    entry.time = static_cast<int32_t>(r.u32(e + 4));
    entry.size = static_cast<int64_t>(r.u64(e + 8));
    b.entries.push_back(std::move(entry));
  }
  return b;
}

// A table of string offsets whose count and offset are stored at `field`.
std::vector<XString> ReadStringTable(const RecordReader& r, uint64_t field) {
  uint32_t count = r.u32(field);
  uint32_t offset = r.u32(field + 4);
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
  jre.version = r.text(164);
  jre.value = r.u32(168);
  jre.names = ReadStringTable(r, 172);
  uint32_t count = r.u32(180);
  uint32_t offset = r.u32(184);
  r.table(count, offset, kRecordJreGroupSize);
  jre.groups.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t g = offset + static_cast<uint64_t>(i) * kRecordJreGroupSize;
    RecordJreGroup group;
    group.flag = r.u8(g);
    uint32_t checks = r.u32(g + 4);
    uint32_t checksAt = r.u32(g + 8);
    r.table(checks, checksAt, kRecordJreCheckSize);
    group.checks.reserve(checks);
    for (uint32_t k = 0; k < checks; ++k) {
      uint64_t c = checksAt + static_cast<uint64_t>(k) * kRecordJreCheckSize;
      RecordJreCheck check;
      check.path = r.text(c);
      check.size = static_cast<int64_t>(r.u64(c + 8));
      group.checks.push_back(std::move(check));
    }
    jre.groups.push_back(std::move(group));
  }
  return jre;
}

std::vector<ShortcutEntry> ReadShortcuts(const RecordReader& r) {
  uint32_t count = r.u32(188);
  uint32_t offset = r.u32(192);
  r.table(count, offset, kRecordShortcutSize);
  std::vector<ShortcutEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordShortcutSize;
    ShortcutEntry s;
    s.location = r.u32(e);
    s.name = r.text(e + 4);
    s.iconFile = r.string(e + 8);
    s.iconIndex = static_cast<int32_t>(r.u32(e + 12));
    s.workingFolder = r.text(e + 16);
    s.target = r.text(e + 20);
    s.arguments = r.text(e + 24);
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<AssociationEntry> ReadAssociations(const RecordReader& r) {
  uint32_t count = r.u32(196);
  uint32_t offset = r.u32(200);
  r.table(count, offset, kRecordAssociationSize);
  std::vector<AssociationEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordAssociationSize;
    AssociationEntry a;
    a.extension = r.text(e);
    a.label = r.text(e + 4);
    a.typeDescription = r.text(e + 8);
    a.program = r.text(e + 12);
    a.arguments = r.text(e + 16);
    a.selected = r.u8(e + 20) != 0;
    out.push_back(std::move(a));
  }
  return out;
}

std::vector<ServiceEntry> ReadServices(const RecordReader& r) {
  uint32_t count = r.u32(204);
  uint32_t offset = r.u32(208);
  r.table(count, offset, kRecordServiceSize);
  std::vector<ServiceEntry> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = offset + static_cast<uint64_t>(i) * kRecordServiceSize;
    ServiceEntry s;
    s.program = r.text(e);
    s.displayName = r.text(e + 4);
    s.description = r.text(e + 8);
    s.startKind = r.u8(e + 12);
    s.accountKind = r.u8(e + 13);
    s.interactive = r.u8(e + 14) != 0;
    s.dependencies = ReadStringTable(r, e + 16);
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace

uint32_t RecordChecksum(const uint8_t* data, size_t size) {
  CORV_ASSERT(size >= kRecordHeaderSize);
  static const uint8_t kZero[4] = {0, 0, 0, 0};
  uint32_t crc = Crc32(data, kRecordChecksumOffset);
  crc = Crc32(kZero, sizeof kZero, crc);
  return Crc32(data + kRecordChecksumOffset + 4, size - kRecordChecksumOffset - 4, crc);
}

bool RecordChecksumMatches(const uint8_t* data, size_t size) {
  CORV_ASSERT(size >= kRecordHeaderSize);
  const uint8_t* p = data + kRecordChecksumOffset;
  const uint32_t stored = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                          static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  return stored == 0 || stored == RecordChecksum(data, size);
}

InstallRecord ReadInstallRecord(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  if (r.u32(0) != kPackageMagic) Corrupt();
  if (size < kRecordHeaderSize) Corrupt();

  InstallRecord rec;
  rec.kind = r.u8(4);
  rec.reserved5 = r.u8(5);
  rec.reserved6 = r.u8(6);
  rec.overwriteMode = r.u8(7);
  rec.destinationBase = r.u8(8);
  rec.noJre = r.u8(9);
  rec.bindExecutables = r.u8(10) != 0;
  rec.language = r.u8(11);
  rec.warnPreviousVersion = r.u8(12) != 0;
  rec.destinationFixed = r.u8(13) != 0;

  rec.packageName = r.string(96);
  rec.productName = r.string(100);
  rec.primaryName = r.string(104);
  rec.productKey = r.string(108);
  rec.licenseText = r.string(112);
  // What each name may be is for the record checks, once every value is read.
  rec.wizardBitmap = r.string(116);
  rec.uninstallerName = r.string(120);
  rec.hookLibrary = r.string(124);
  rec.recordedFile = r.string(128);
  rec.installRunProgram = r.string(132);
  rec.installRunArguments = r.string(136);
  rec.afterRunProgram = r.string(140);
  rec.afterRunArguments = r.string(144);
  rec.defaultDestination = r.string(148);
  rec.defaultProgramFolder = r.string(152);
  rec.primaryJreFile = r.string(156);
  rec.pathEntry = r.string(160);

  rec.auxiliaryBlock = ReadBlock(r, 16);
  rec.mainBlock = ReadBlock(r, 56);
  if (rec.noJre == 0) rec.jre = ReadJre(r);
  rec.shortcuts = ReadShortcuts(r);
  rec.associations = ReadAssociations(r);
  rec.services = ReadServices(r);
  rec.primaryMarkerFiles = ReadStringTable(r, 212);
  if (r.u8(kRecordExtensionFlags) & kRecordHasEntryDetails) {
    const uint64_t at = kRecordEntryDetailsOffset;
    rec.entryDetails.displayIcon = r.string(at);
    rec.entryDetails.displayVersion = r.string(at + 4);
    rec.entryDetails.publisher = r.string(at + 8);
    rec.entryDetails.estimatedSize = r.u32(at + 12);
  }
  rec.entryDetails.quietUninstaller = (r.u8(kRecordExtensionFlags) & kRecordQuietUninstaller) != 0;
  if (r.u8(kRecordExtensionFlags) & kRecordHasAssociationIcons) {
    const uint32_t count = r.u32(kRecordAssociationIconsOffset);
    const uint32_t offset = r.u32(kRecordAssociationIconsOffset + 4);
    r.table(count, offset, 4);
    if (count != rec.associations.size()) Corrupt();
    for (uint32_t i = 0; i < count; ++i) rec.associations[i].icon = r.string(offset + static_cast<uint64_t>(i) * 4);
  }
  std::vector<RecordFault> faults = FindRecordFaults(rec, RecordChecks::kInstaller, 1);
  if (!faults.empty()) throw RecordRefused(std::move(faults.front()));
  return rec;
}

bool InstallRecord::operator==(const InstallRecord& o) const {
  return kind == o.kind && reserved5 == o.reserved5 && reserved6 == o.reserved6 &&
         overwriteMode == o.overwriteMode && destinationBase == o.destinationBase &&
         noJre == o.noJre && bindExecutables == o.bindExecutables && language == o.language &&
         warnPreviousVersion == o.warnPreviousVersion && destinationFixed == o.destinationFixed &&
         auxiliaryBlock == o.auxiliaryBlock && mainBlock == o.mainBlock &&
         packageName == o.packageName && productName == o.productName &&
         primaryName == o.primaryName && productKey == o.productKey &&
         licenseText == o.licenseText && wizardBitmap == o.wizardBitmap &&
         uninstallerName == o.uninstallerName && hookLibrary == o.hookLibrary &&
         recordedFile == o.recordedFile && installRunProgram == o.installRunProgram &&
         installRunArguments == o.installRunArguments && afterRunProgram == o.afterRunProgram &&
         afterRunArguments == o.afterRunArguments && defaultDestination == o.defaultDestination &&
         defaultProgramFolder == o.defaultProgramFolder && primaryJreFile == o.primaryJreFile &&
         pathEntry == o.pathEntry && (noJre != 0 || jre == o.jre) && shortcuts == o.shortcuts &&
         associations == o.associations && services == o.services &&
         primaryMarkerFiles == o.primaryMarkerFiles && entryDetails == o.entryDetails;
}

}  // namespace corv

#include "kernel/installrecord.h"

#include <algorithm>

#include "kernel/logger.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"

namespace corv {

namespace {

[[noreturn]] void Corrupt() { throw FatalError(1181); }

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

  // A string naming a place below a target folder: absent reads as empty,
  // anything that could leave the folder is refused.
  XString containedName(uint64_t field) const {
    XString s = text(field);
    if (!IsContainedRelativePath(s)) Corrupt();
    return s;
  }

  OptString optionalContainedName(uint64_t field) const {
    OptString s = string(field);
    if (s && !IsContainedRelativePath(*s)) Corrupt();
    return s;
  }

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
    entry.name = r.containedName(e);
    entry.time = static_cast<int32_t>(r.u32(e + 4));
    entry.size = static_cast<int64_t>(r.u64(e + 8));
    b.entries.push_back(std::move(entry));
  }
  return b;
}

// A table of string offsets whose count and offset are stored at `field`;
// `paths`: its strings name places below a folder.
std::vector<XString> ReadStringTable(const RecordReader& r, uint64_t field, bool paths = false) {
  uint32_t count = r.u32(field);
  uint32_t offset = r.u32(field + 4);
  r.table(count, offset, 4);
  std::vector<XString> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = offset + static_cast<uint64_t>(i) * 4;
    out.push_back(paths ? r.containedName(at) : r.text(at));
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
      check.path = r.containedName(c);
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
    // The shortcut file is written below a shell folder under this name.
    s.name = r.containedName(e + 4);
    s.iconFile = r.optionalContainedName(e + 8);
    s.iconIndex = static_cast<int32_t>(r.u32(e + 12));
    s.workingFolder = r.containedName(e + 16);
    s.target = r.containedName(e + 20);
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
    a.program = r.containedName(e + 12);
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
    s.program = r.containedName(e);
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

bool IsSeparator(XChar c) { return c == u'\\' || c == u'/'; }

XChar UpperAscii(XChar c) { return c >= u'a' && c <= u'z' ? static_cast<XChar>(c - 32) : c; }

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the superscript digits 1-3),
// CONIN$, CONOUT$ and CLOCK$ (Windows 95/98/Me), alone or followed by blanks
// or an extension: the system opens the device, not a file.
bool IsDeviceName(const XString& component) {
  XString base;
  for (XChar c : component) {
    if (c == u'.') break;
    base += UpperAscii(c);
  }
  while (!base.empty() && base.back() == u' ') base.pop_back();
  static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
  for (const char16_t* d : kDevices) {
    if (base == d) return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) return false;
  const XChar n = base[3];
  return (n >= u'0' && n <= u'9') || n == u'\u00b9' || n == u'\u00b2' || n == u'\u00b3';
}

// "." , "..", ". ." and the like: the system drops trailing dots and blanks,
// which leaves a step up or no step at all.
bool IsDotsOnly(const XString& component) {
  bool dot = false;
  for (XChar c : component) {
    if (c == u'.') {
      dot = true;
    } else if (c != u' ') {
      return false;
    }
  }
  return dot;
}

// How the installer writes the record's texts into the registry
// (infrastructure/integrator.cpp) and logs each key it makes: the root's
// prefix, then the key's path.
constexpr size_t kLocalMachinePrefix = sizeof "HKEY_LOCAL_MACHINE\\" - 1;  // the longer of the product key's roots
constexpr size_t kClassesRootPrefix = sizeof "HKEY_CLASSES_ROOT\\" - 1;
constexpr size_t kProductKeyParent = sizeof "Software\\" - 1;
constexpr size_t kFileTypeCommand = sizeof "\\Shell\\open\\command" - 1;

// The room for the key path `around` leaves on a "registrykey" line.
size_t RegistryLineRoom(size_t around) {
  const size_t keyword = XString(LogKeyword(kLogRegistryKey)).size();
  return Logger::kMaxLineLength - keyword - 2 - around;  // a blank before, a line feed after
}

// The first name of `path` between backslashes that the registry does not
// take.
TextLimit KeyNameLimit(const XString& path) {
  for (size_t start = 0;;) {
    const size_t end = std::min(path.find(u'\\', start), path.size());
    if (end - start > kMaxRegistryKeyName) return TextLimit{end - start, kMaxRegistryKeyName, true};
    if (end == path.size()) return TextLimit();
    start = end + 1;
  }
}

TextLimit LengthLimit(size_t length, size_t limit) {
  return length > limit ? TextLimit{length, limit, false} : TextLimit();
}

void CheckLoggedTexts(const InstallRecord& r) {
  auto check = [](const XString& s) {
    if (!FitsOneLogLine(s)) Corrupt();
  };
  auto checkOpt = [&](const OptString& s) {
    if (s) check(*s);
  };
  for (const OptString* s : {&r.packageName, &r.productName, &r.productKey, &r.uninstallerName, &r.recordedFile,
                             &r.defaultDestination, &r.defaultProgramFolder, &r.pathEntry, &r.wizardBitmap,
                             &r.hookLibrary}) {
    checkOpt(*s);
  }
  for (const RecordBlock* b : {&r.auxiliaryBlock, &r.mainBlock}) {
    for (const RecordFileEntry& e : b->entries) check(e.name);
  }
  for (const ShortcutEntry& s : r.shortcuts) check(s.name);
  for (const AssociationEntry& a : r.associations) {
    check(a.extension);
    check(a.typeDescription);
  }
  for (const ServiceEntry& s : r.services) check(s.description);

  // No longer than the installer can write into install.log and the
  // registry.
  auto fits = [](const TextLimit& limit) {
    if (limit.exceeded()) Corrupt();
  };
  if (const OptString& name = r.productName ? r.productName : r.packageName) fits(ProductNameLimit(*name));
  if (r.productKey) fits(ProductKeyLimit(*r.productKey));
  for (const AssociationEntry& a : r.associations) fits(FileTypeLimit(r.packageName.value_or(XString()), a.extension));
}

}  // namespace

bool FitsOneLogLine(const XString& text) {
  static const XChar kLineBreaks[] = {u'\r', u'\n', u'\0'};
  return text.find_first_of(kLineBreaks, 0, 3) == XString::npos;
}

TextLimit ProductNameLimit(const XString& name) {
  return LengthLimit(name.size(), Logger::kMaxLineLength - 1);  // and its line feed
}

TextLimit ProductKeyLimit(const XString& key) {
  const TextLimit line = LengthLimit(key.size(), RegistryLineRoom(kLocalMachinePrefix + kProductKeyParent));
  return line.exceeded() ? line : KeyNameLimit(key);
}

TextLimit FileTypeLimit(const XString& packageName, const XString& extension) {
  // The command key's line is the longest; its file type key comes first.
  const XString fileType = packageName + u"." + extension;
  const TextLimit line = LengthLimit(fileType.size(), RegistryLineRoom(kClassesRootPrefix + kFileTypeCommand));
  if (line.exceeded()) return line;
  const TextLimit name = KeyNameLimit(fileType);
  return name.exceeded() ? name : KeyNameLimit(u"." + extension);
}

bool IsContainedRelativePath(const XString& name) {
  // Checked once, on the form the name reaches the system in: every path is
  // trimmed of blanks and tabs before it is joined to its folder.
  XString path = name;
  TrimBlanks(path);
  if (!path.empty() && IsSeparator(path[0])) return false;
  for (XChar c : path) {
    // ":" names a drive or a stream; "?" and "*" are wildcards to the
    // runtime's stat; none of these, nor control characters, is part of a
    // Windows file name.
    if (c < 0x20 || XString(u"<>:\"|?*").find(c) != XString::npos) return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    XString component = path.substr(start, end - start);
    if (IsDotsOnly(component) || IsDeviceName(component)) return false;
    start = end + 1;
  }
  return true;
}

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
  // Every name that becomes a path stays inside its folder: the bitmap and
  // the hook library in the temporary folder, install.log beside the
  // uninstaller, the programs, the recorded file and the PATH entry in the
  // destination, the program folder in the Start menu's Programs. (The
  // default destination is a path of its own, possibly absolute.)
  rec.wizardBitmap = r.optionalContainedName(116);
  rec.uninstallerName = r.optionalContainedName(120);
  rec.hookLibrary = r.optionalContainedName(124);
  rec.recordedFile = r.optionalContainedName(128);
  rec.installRunProgram = r.optionalContainedName(132);
  rec.installRunArguments = r.string(136);
  rec.afterRunProgram = r.optionalContainedName(140);
  rec.afterRunArguments = r.string(144);
  rec.defaultDestination = r.string(148);
  rec.defaultProgramFolder = r.optionalContainedName(152);
  rec.primaryJreFile = r.optionalContainedName(156);
  rec.pathEntry = r.optionalContainedName(160);

  rec.auxiliaryBlock = ReadBlock(r, 16);
  rec.mainBlock = ReadBlock(r, 56);
  if (rec.noJre == 0) rec.jre = ReadJre(r);
  rec.shortcuts = ReadShortcuts(r);
  rec.associations = ReadAssociations(r);
  rec.services = ReadServices(r);
  rec.primaryMarkerFiles = ReadStringTable(r, 212, true);
  if (r.u8(kRecordExtensionFlags) & kRecordHasEntryDetails) {
    const uint64_t at = kRecordEntryDetailsOffset;
    rec.entryDetails.displayIcon = r.optionalContainedName(at);
    rec.entryDetails.displayVersion = r.string(at + 4);
    rec.entryDetails.publisher = r.string(at + 8);
    rec.entryDetails.estimatedSize = r.u32(at + 12);
  }
  CheckLoggedTexts(rec);
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

#include "recordwriter.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace corv::pack {

namespace {

// The record under construction: fixed parts first, strings placed last.
class RecordLayout {
public:
  RecordLayout() : bytes_(kRecordHeaderSize, 0) {}

  // Appends `n` zero bytes for a table; returns its offset.
  size_t allocate(size_t n) {
    size_t at = bytes_.size();
    bytes_.resize(at + n, 0);
    return at;
  }

  void u8(size_t at, uint8_t v) { bytes_[at] = v; }
  void u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void u64(size_t at, uint64_t v) {
    u32(at, static_cast<uint32_t>(v));
    u32(at + 4, static_cast<uint32_t>(v >> 32));
  }

  // A string field: its offset is filled in when the pool is laid out.
  void string(size_t field, const OptString& s) {
    if (s) strings_.emplace_back(field, *s);
  }

  // A table of `count` entries of `entrySize` bytes whose count and offset
  // fields are at `countField` and `offsetField`; returns the first entry's
  // offset. An empty table gets the record's length as its offset.
  size_t table(size_t countField, size_t offsetField, size_t count, size_t entrySize) {
    u32(countField, Narrow(count));
    if (count == 0) {
      emptyTables_.push_back(offsetField);
      return 0;
    }
    size_t at = allocate(count * entrySize);
    u32(offsetField, Narrow(at));
    return at;
  }

  // Places the strings and resolves the offsets of empty tables.
  std::vector<uint8_t> finish() {
    std::map<XString, uint32_t> placed;
    for (const auto& [field, text] : strings_) {
      auto it = placed.find(text);
      if (it == placed.end()) {
        uint32_t at = Narrow(bytes_.size());
        for (XChar c : text) {
          bytes_.push_back(static_cast<uint8_t>(c));
          bytes_.push_back(static_cast<uint8_t>(c >> 8));
        }
        bytes_.push_back(0);
        bytes_.push_back(0);
        it = placed.emplace(text, at).first;
      }
      u32(field, it->second);
    }
    uint32_t end = Narrow(bytes_.size());
    for (size_t field : emptyTables_) u32(field, end);
    return std::move(bytes_);
  }

private:
  static uint32_t Narrow(size_t v) {
    if (v > 0xFFFFFFFFu) throw std::length_error("the install-info record exceeds 4 GiB");
    return static_cast<uint32_t>(v);
  }

  std::vector<uint8_t> bytes_;
  std::vector<std::pair<size_t, XString>> strings_;
  std::vector<size_t> emptyTables_;
};

void WriteBlock(RecordLayout& out, size_t at, const RecordBlock& block) {
  size_t table = out.table(at, at + 32, block.entries.size(), kRecordFileEntrySize);
  out.u64(at + 8, block.offset);
  out.u64(at + 16, block.length);
  out.u64(at + 24, block.decodedSize);
  out.u32(at + 36, block.crc);
  for (const RecordFileEntry& e : block.entries) {
    out.string(table, e.name);
    out.u32(table + 4, static_cast<uint32_t>(e.time));
    out.u64(table + 8, static_cast<uint64_t>(e.size));
    table += kRecordFileEntrySize;
  }
}

void WriteStringTable(RecordLayout& out, size_t field, const std::vector<XString>& strings) {
  size_t table = out.table(field, field + 4, strings.size(), 4);
  for (const XString& s : strings) {
    out.string(table, s);
    table += 4;
  }
}

void WriteJre(RecordLayout& out, const RecordJreRequirement& jre) {
  out.string(164, jre.version);
  out.u32(168, jre.value);
  WriteStringTable(out, 172, jre.names);
  size_t group = out.table(180, 184, jre.groups.size(), kRecordJreGroupSize);
  for (const RecordJreGroup& g : jre.groups) {
    out.u8(group, g.flag);
    size_t check = out.table(group + 4, group + 8, g.checks.size(), kRecordJreCheckSize);
    for (const RecordJreCheck& c : g.checks) {
      out.string(check, c.path);
      out.u64(check + 8, static_cast<uint64_t>(c.size));
      check += kRecordJreCheckSize;
    }
    group += kRecordJreGroupSize;
  }
}

}  // namespace

std::vector<uint8_t> WriteInstallRecord(const InstallRecord& r) {
  RecordLayout out;
  out.u32(0, kPackageMagic);
  out.u8(4, r.kind);
  out.u8(5, r.reserved5);
  out.u8(6, r.reserved6);
  out.u8(7, r.overwriteMode);
  out.u8(8, r.destinationBase);
  out.u8(9, r.noJre);
  out.u8(10, r.bindExecutables ? 1 : 0);
  out.u8(11, r.language);
  out.u8(12, r.warnPreviousVersion ? 1 : 0);
  out.u8(13, r.destinationFixed ? 1 : 0);
  // The extension comes right after the header, before any table.
  const bool icons = std::any_of(r.associations.begin(), r.associations.end(),
                                 [](const AssociationEntry& a) { return a.icon.has_value(); });
  const uint8_t flags = (r.entryDetails.empty() ? 0 : kRecordHasEntryDetails) |
                        (r.entryDetails.quietUninstaller ? kRecordQuietUninstaller : 0) |
                        (icons ? kRecordHasAssociationIcons : 0);
  out.u8(kRecordExtensionFlags, flags);
  if (!r.entryDetails.empty() || icons) {
    const size_t at = out.allocate(kRecordEntryDetailsSize);
    out.string(at, r.entryDetails.displayIcon);
    out.string(at + 4, r.entryDetails.displayVersion);
    out.string(at + 8, r.entryDetails.publisher);
    out.u32(at + 12, r.entryDetails.estimatedSize);
  }
  if (icons) {
    const size_t field = out.allocate(8);
    size_t table = out.table(field, field + 4, r.associations.size(), 4);
    for (const AssociationEntry& a : r.associations) {
      out.string(table, a.icon);
      table += 4;
    }
  }

  out.string(96, r.packageName);
  out.string(100, r.productName);
  out.string(104, r.primaryName);
  out.string(108, r.productKey);
  out.string(112, r.licenseText);
  out.string(116, r.wizardBitmap);
  out.string(120, r.uninstallerName);
  out.string(124, r.hookLibrary);
  out.string(128, r.recordedFile);
  out.string(132, r.installRunProgram);
  out.string(136, r.installRunArguments);
  out.string(140, r.afterRunProgram);
  out.string(144, r.afterRunArguments);
  out.string(148, r.defaultDestination);
  out.string(152, r.defaultProgramFolder);
  out.string(156, r.primaryJreFile);
  out.string(160, r.pathEntry);

  WriteBlock(out, 16, r.auxiliaryBlock);
  WriteBlock(out, 56, r.mainBlock);
  if (r.noJre == 0) {
    WriteJre(out, r.jre);
  } else {
    // Not read by the installer; written as empty tables all the same.
    out.table(172, 176, 0, 4);
    out.table(180, 184, 0, kRecordJreGroupSize);
  }

  size_t shortcut = out.table(188, 192, r.shortcuts.size(), kRecordShortcutSize);
  for (const ShortcutEntry& s : r.shortcuts) {
    out.u32(shortcut, s.location);
    out.string(shortcut + 4, s.name);
    out.string(shortcut + 8, s.iconFile);
    out.u32(shortcut + 12, static_cast<uint32_t>(s.iconIndex));
    out.string(shortcut + 16, s.workingFolder);
    out.string(shortcut + 20, s.target);
    out.string(shortcut + 24, s.arguments);
    shortcut += kRecordShortcutSize;
  }

  size_t association = out.table(196, 200, r.associations.size(), kRecordAssociationSize);
  for (const AssociationEntry& a : r.associations) {
    out.string(association, a.extension);
    out.string(association + 4, a.label);
    out.string(association + 8, a.typeDescription);
    out.string(association + 12, a.program);
    out.string(association + 16, a.arguments);
    out.u8(association + 20, a.selected ? 1 : 0);
    association += kRecordAssociationSize;
  }

  size_t service = out.table(204, 208, r.services.size(), kRecordServiceSize);
  for (const ServiceEntry& s : r.services) {
    out.string(service, s.program);
    out.string(service + 4, s.displayName);
    out.string(service + 8, s.description);
    out.u8(service + 12, s.startKind);
    out.u8(service + 13, s.accountKind);
    out.u8(service + 14, s.interactive ? 1 : 0);
    WriteStringTable(out, service + 16, s.dependencies);
    service += kRecordServiceSize;
  }

  WriteStringTable(out, 212, r.primaryMarkerFiles);
  std::vector<uint8_t> bytes = out.finish();
  const uint32_t crc = RecordChecksum(bytes.data(), bytes.size());
  for (int i = 0; i < 4; ++i) bytes[kRecordChecksumOffset + i] = static_cast<uint8_t>(crc >> (8 * i));
  return bytes;
}

}  // namespace corv::pack

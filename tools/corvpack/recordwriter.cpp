#include "recordwriter.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "kernel/installrecordlayout.h"

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
  size_t table = out.table(at + layout::block::kEntryCount, at + layout::block::kEntries, block.entries.size(),
                           kRecordFileEntrySize);
  out.u64(at + layout::block::kOffset, block.offset);
  out.u64(at + layout::block::kLength, block.length);
  out.u64(at + layout::block::kDecodedSize, block.decodedSize);
  out.u32(at + layout::block::kCrc, block.crc);
  for (const RecordFileEntry& e : block.entries) {
    out.string(table + layout::file::kName, e.name);
    out.u32(table + layout::file::kTime, static_cast<uint32_t>(e.time));
    out.u64(table + layout::file::kSize, static_cast<uint64_t>(e.size));
    table += kRecordFileEntrySize;
  }
}

// A table whose count and offset are stored at `field`; returns the first
// entry's offset.
size_t WriteTable(RecordLayout& out, size_t field, size_t count, size_t entrySize) {
  return out.table(field + layout::kTableCount, field + layout::kTableOffset, count, entrySize);
}

void WriteStringTable(RecordLayout& out, size_t field, const std::vector<XString>& strings) {
  size_t table = WriteTable(out, field, strings.size(), 4);
  for (const XString& s : strings) {
    out.string(table, s);
    table += 4;
  }
}

void WriteJre(RecordLayout& out, const RecordJreRequirement& jre) {
  out.string(layout::kJreVersion, jre.version);
  out.u32(layout::kJreValue, jre.value);
  WriteStringTable(out, layout::kJreNames, jre.names);
  size_t group = WriteTable(out, layout::kJreGroups, jre.groups.size(), kRecordJreGroupSize);
  for (const RecordJreGroup& g : jre.groups) {
    out.u8(group + layout::jregroup::kFlag, g.flag);
    size_t check = WriteTable(out, group + layout::jregroup::kChecks, g.checks.size(), kRecordJreCheckSize);
    for (const RecordJreCheck& c : g.checks) {
      out.string(check + layout::jrecheck::kPath, c.path);
      out.u64(check + layout::jrecheck::kSize, static_cast<uint64_t>(c.size));
      check += kRecordJreCheckSize;
    }
    group += kRecordJreGroupSize;
  }
}

}  // namespace

std::vector<uint8_t> WriteInstallRecord(const InstallRecord& r) {
  RecordLayout out;
  out.u32(layout::kMagic, kPackageMagic);
  for (const layout::ByteField& field : layout::kByteFields) out.u8(field.offset, field.get(r));
  // The extension comes right after the header, before any table.
  const bool icons = std::any_of(r.associations.begin(), r.associations.end(),
                                 [](const AssociationEntry& a) { return a.icon.has_value(); });
  const uint8_t flags = (r.entryDetails.empty() ? 0 : kRecordHasEntryDetails) |
                        (r.entryDetails.quietUninstaller ? kRecordQuietUninstaller : 0) |
                        (icons ? kRecordHasAssociationIcons : 0);
  out.u8(layout::kExtensionFlags, flags);
  if (!r.entryDetails.empty() || icons) {
    const size_t at = out.allocate(kRecordEntryDetailsSize);
    out.string(at + layout::details::kDisplayIcon, r.entryDetails.displayIcon);
    out.string(at + layout::details::kDisplayVersion, r.entryDetails.displayVersion);
    out.string(at + layout::details::kPublisher, r.entryDetails.publisher);
    out.u32(at + layout::details::kEstimatedSize, r.entryDetails.estimatedSize);
  }
  if (icons) {
    const size_t field = out.allocate(8);
    size_t table = WriteTable(out, field, r.associations.size(), 4);
    for (const AssociationEntry& a : r.associations) {
      out.string(table, a.icon);
      table += 4;
    }
  }

  for (const layout::StringField& field : layout::kStringFields) out.string(field.offset, r.*field.member);

  WriteBlock(out, layout::kAuxiliaryBlock, r.auxiliaryBlock);
  WriteBlock(out, layout::kMainBlock, r.mainBlock);
  if (r.noJre == 0) {
    WriteJre(out, r.jre);
  } else {
    // Not read by the installer; written as empty tables all the same.
    WriteTable(out, layout::kJreNames, 0, 4);
    WriteTable(out, layout::kJreGroups, 0, kRecordJreGroupSize);
  }

  size_t shortcut = WriteTable(out, layout::kShortcuts, r.shortcuts.size(), kRecordShortcutSize);
  for (const ShortcutEntry& s : r.shortcuts) {
    out.u32(shortcut + layout::shortcut::kLocation, s.location);
    out.string(shortcut + layout::shortcut::kName, s.name);
    out.string(shortcut + layout::shortcut::kIconFile, s.iconFile);
    out.u32(shortcut + layout::shortcut::kIconIndex, static_cast<uint32_t>(s.iconIndex));
    out.string(shortcut + layout::shortcut::kWorkingFolder, s.workingFolder);
    out.string(shortcut + layout::shortcut::kTarget, s.target);
    out.string(shortcut + layout::shortcut::kArguments, s.arguments);
    shortcut += kRecordShortcutSize;
  }

  size_t association = WriteTable(out, layout::kAssociations, r.associations.size(), kRecordAssociationSize);
  for (const AssociationEntry& a : r.associations) {
    out.string(association + layout::association::kExtension, a.extension);
    out.string(association + layout::association::kLabel, a.label);
    out.string(association + layout::association::kTypeDescription, a.typeDescription);
    out.string(association + layout::association::kProgram, a.program);
    out.string(association + layout::association::kArguments, a.arguments);
    out.u8(association + layout::association::kSelected, a.selected ? 1 : 0);
    association += kRecordAssociationSize;
  }

  size_t service = WriteTable(out, layout::kServices, r.services.size(), kRecordServiceSize);
  for (const ServiceEntry& s : r.services) {
    out.string(service + layout::service::kProgram, s.program);
    out.string(service + layout::service::kDisplayName, s.displayName);
    out.string(service + layout::service::kDescription, s.description);
    out.u8(service + layout::service::kStartKind, s.startKind);
    out.u8(service + layout::service::kAccountKind, s.accountKind);
    out.u8(service + layout::service::kInteractive, s.interactive ? 1 : 0);
    WriteStringTable(out, service + layout::service::kDependencies, s.dependencies);
    service += kRecordServiceSize;
  }

  WriteStringTable(out, layout::kPrimaryMarkerFiles, r.primaryMarkerFiles);
  std::vector<uint8_t> bytes = out.finish();
  const uint32_t crc = RecordChecksum(bytes.data(), bytes.size());
  for (int i = 0; i < 4; ++i) bytes[layout::kChecksum + i] = static_cast<uint8_t>(crc >> (8 * i));
  return bytes;
}

}  // namespace corv::pack

// The install-info record as bytes: its values, and the reader that turns the
// decoded third block of a package into them.
//
// The record is little-endian throughout. A string field is a 32-bit offset
// from the start of the record to a NUL-terminated UTF-16LE string (0: the
// string is absent); a table is an entry count followed by the offset of the
// first of its fixed-size entries. A 224-byte header comes first; the tables
// and the string pool follow it in any order.
//
// installrecordlayout.h says where each value lies. InstallInfo keeps the
// values it is built from; the packaging tool writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/overwritepolicy.h"
#include "util/exceptions.h"
#include "util/messages.h"
#include "util/xstring.h"

namespace corv {

// "5II1", the magic of the trailer and of the record.
constexpr uint32_t kPackageMagic = 0x31494935;

// Sizes of the fixed parts of the record.
constexpr size_t kRecordHeaderSize = 224;
constexpr size_t kRecordBlockSize = 40;
constexpr size_t kRecordFileEntrySize = 16;
constexpr size_t kRecordShortcutSize = 28;
constexpr size_t kRecordAssociationSize = 24;
constexpr size_t kRecordServiceSize = 24;
constexpr size_t kRecordJreGroupSize = 12;
constexpr size_t kRecordJreCheckSize = 16;

// Package kinds (header byte 4).
enum PackageKind : uint8_t { kPackageInstallation = 1, kPackageUpdate = 2 };

// Destination bases (header byte 8).
enum DestinationBase : uint8_t {
  kBaseSystemDrive = 1,
  kBaseProgramFiles = 2,
  kBasePath = 3,
};

// One file or folder of a files block, in block order. A folder has size -1
// and contributes no bytes to the block.
struct RecordFileEntry {
  XString name;
  int32_t time = 0;  // C-runtime time value; 0 for folders
  int64_t size = 0;

  bool isFolder() const { return size == -1; }
  bool operator==(const RecordFileEntry& o) const {
    return name == o.name && time == o.time && size == o.size;
  }
};

// Where a files block lies in the installer file, and what it holds.
struct RecordBlock {
  uint64_t offset = 0;       // file offset of the block
  uint64_t length = 0;       // bytes in the file, 13-byte header included
  uint64_t decodedSize = 0;  // sum of the sizes of the block's files
  // CRC-32 of the decoded bytes (descriptor offset 36); 0: not recorded.
  uint32_t crc = 0;
  std::vector<RecordFileEntry> entries;

  bool operator==(const RecordBlock& o) const {
    return offset == o.offset && length == o.length && decodedSize == o.decodedSize && crc == o.crc &&
           entries == o.entries;
  }
};

// Shortcut locations.
enum ShortcutLocation : uint32_t {
  kLocationProgramFolder = 0,
  kLocationDesktop = 1,
  kLocationStartMenu = 2,
  kLocationStartup = 3,
};

// A shortcut the package declares.
struct ShortcutEntry {
  ShortcutLocation location = kLocationProgramFolder;
  XString name;           // the file name without ".lnk"; may hold subfolders
  OptString iconFile;     // relative to the destination
  int32_t iconIndex = 0;
  XString workingFolder;  // relative to the destination
  XString target;         // relative to the destination
  XString arguments;      // "$(Root)" stands for the destination

  bool operator==(const ShortcutEntry& o) const {
    return location == o.location && name == o.name && iconFile == o.iconFile &&
           iconIndex == o.iconIndex && workingFolder == o.workingFolder && target == o.target &&
           arguments == o.arguments;
  }
};

// A file-extension association the package declares.
struct AssociationEntry {
  XString extension;  // without the dot
  XString label;      // shown where the user chooses associations
  XString typeDescription;
  XString program;    // relative to the destination
  XString arguments;  // may be empty; "$(Root)" stands for the destination
  bool selected = false;  // the package's default; the wizard may change it
  OptString icon;     // the file type's icon, relative to the destination (the record's extension)

  bool operator==(const AssociationEntry& o) const {
    return extension == o.extension && label == o.label && typeDescription == o.typeDescription &&
           program == o.program && arguments == o.arguments && selected == o.selected && icon == o.icon;
  }
};

// A Windows NT service the package declares, with the account chosen
// during the run (the record carries none).
struct ServiceEntry {
  enum StartKind : uint8_t { kAutomatic = 1, kOnDemand = 2, kDisabled = 3 };
  enum AccountKind : uint8_t { kLocalSystem = 1, kUserAccount = 2 };

  XString program;      // the service executable, relative to the destination
  XString displayName;
  XString description;  // also how the wizard and batch errors name it
  StartKind startKind = kAutomatic;
  AccountKind accountKind = kLocalSystem;
  bool interactive = false;  // only with the local system account
  std::vector<XString> dependencies;  // services that must run first
  // The user account chosen during the run; the record carries none.
  XString userName{};
  XString password{};

  // Chooses the account; the user account also clears the interactive
  // flag. A kind other than 1 or 2 is an assertion failure.
  void SetAccount(int kind, const XString& user, const XString& pass) {
    CORV_ASSERT(kind == kLocalSystem || kind == kUserAccount);
    accountKind = static_cast<AccountKind>(kind);
    userName = user;
    password = pass;
    if (kind == kUserAccount) interactive = false;
  }

  bool operator==(const ServiceEntry& o) const {
    return program == o.program && displayName == o.displayName && description == o.description &&
           startKind == o.startKind && accountKind == o.accountKind && interactive == o.interactive &&
           dependencies == o.dependencies && userName == o.userName && password == o.password;
  }
};

// One file of an acceptable JRE layout; size -1: the file must be absent.
struct RecordJreCheck {
  XString path;  // relative to a candidate JRE folder
  int64_t size = 0;

  bool operator==(const RecordJreCheck& o) const { return path == o.path && size == o.size; }
};

struct RecordJreGroup {
  uint8_t flag = 0;  // carried, not interpreted
  std::vector<RecordJreCheck> checks;

  bool operator==(const RecordJreGroup& o) const { return flag == o.flag && checks == o.checks; }
};

struct RecordJreRequirement {
  XString version;
  uint32_t value = 0;           // carried, not interpreted
  std::vector<XString> names;   // carried, not interpreted
  std::vector<RecordJreGroup> groups;

  bool operator==(const RecordJreRequirement& o) const {
    return version == o.version && value == o.value && names == o.names && groups == o.groups;
  }
};

// What the uninstall entry shows beside the product's name. Kept in the
// record's extension: header byte 15 (layout::kExtensionFlags, once
// reserved, written as 0) has bit kRecordHasEntryDetails set, and the 16
// bytes at layout::kEntryDetails, right after the header, hold three string fields (display icon, display
// version, publisher) and the estimated size. Bit kRecordQuietUninstaller
// of the same byte says that the uninstaller is the built-in one, which
// removes the product without asking when given "/batch". With bit
// kRecordHasAssociationIcons, the 8 bytes after those 16 are a string table
// (count, offset) of one optional icon per association, in their order.
// Readers that do not know the extension ignore it; records without it read
// as no details.
struct RecordEntryDetails {
  OptString displayIcon;       // relative to the destination
  OptString displayVersion;
  OptString publisher;
  uint32_t estimatedSize = 0;  // KiB; 0: not given
  bool quietUninstaller = false;

  // Nothing for the 16 bytes after the header.
  bool empty() const { return !displayIcon && !displayVersion && !publisher && estimatedSize == 0; }
  bool operator==(const RecordEntryDetails& o) const {
    return displayIcon == o.displayIcon && displayVersion == o.displayVersion && publisher == o.publisher &&
           estimatedSize == o.estimatedSize && quietUninstaller == o.quietUninstaller;
  }
};

// The bits of the extension's flags byte.
constexpr uint8_t kRecordHasEntryDetails = 0x01;
constexpr uint8_t kRecordQuietUninstaller = 0x02;
constexpr uint8_t kRecordHasAssociationIcons = 0x04;
constexpr size_t kRecordEntryDetailsSize = 16;

// Every value of a record, in the order the header lists them. Strings that
// the record may leave out are OptString; a required string of an entry that
// is absent in the bytes reads as the empty string.
struct InstallRecord {
  PackageKind kind = kPackageInstallation;  // as read: any byte
  uint8_t reserved5 = 4;  // carried, not interpreted
  uint8_t reserved6 = 0;  // carried, not interpreted
  OverwritePolicy::Mode overwriteMode = OverwritePolicy::kAlways;
  DestinationBase destinationBase = kBaseProgramFiles;
  uint8_t noJre = 1;  // non-zero: no JRE requirement, bytes 164-187 are ignored
  bool bindExecutables = false;
  LanguageCode language = kLanguageAuto;
  bool warnPreviousVersion = false;
  bool destinationFixed = false;

  RecordBlock auxiliaryBlock;
  RecordBlock mainBlock;

  OptString packageName;
  OptString productName;
  OptString primaryName;
  OptString productKey;
  OptString licenseText;
  OptString wizardBitmap;
  OptString uninstallerName;
  OptString hookLibrary;
  OptString recordedFile;
  OptString installRunProgram;
  OptString installRunArguments;
  OptString afterRunProgram;
  OptString afterRunArguments;
  OptString defaultDestination;
  OptString defaultProgramFolder;
  OptString primaryJreFile;
  OptString pathEntry;

  // Read and written only when noJre is 0.
  RecordJreRequirement jre;

  std::vector<ShortcutEntry> shortcuts;
  std::vector<AssociationEntry> associations;
  std::vector<ServiceEntry> services;
  std::vector<XString> primaryMarkerFiles;

  // The extension (byte 15 and the 16 bytes after the header).
  RecordEntryDetails entryDetails;

  // Kind 1 and kind 2. Asking either of a record of kind 3 is an
  // assertion failure; other kinds are neither.
  bool isInstallation() const;
  bool isUpdate() const;
  // The product name, or the package name when there is none.
  const OptString& productOrPackageName() const { return productName ? productName : packageName; }
  // None when the package needs no JRE.
  const RecordJreRequirement* jreRequirement() const { return noJre == 0 ? &jre : nullptr; }

  bool operator==(const InstallRecord& o) const;
  bool operator!=(const InstallRecord& o) const { return !(*this == o); }
};

// Header offset 220 (layout::kChecksum) holds the CRC-32 of the whole record
// computed with these four bytes taken as 0; 0 there means that none was
// recorded.

// The checksum of a decoded record as the writer stores it at offset 220.
// `size` must be at least the header's.
uint32_t RecordChecksum(const uint8_t* data, size_t size);

// The checksum stored in a decoded record of at least the header's size
// matches its bytes, or none is stored.
bool RecordChecksumMatches(const uint8_t* data, size_t size);

// Reads a decoded record. Everything the record names must lie inside
// `size` bytes: a string or table offset outside the record, a string
// without its NUL inside it, a table that runs past its end, or tables that
// together announce more entries than the record has room for is refused
// with FatalError 1181 "Invalid or corrupted installation package", as is a
// record without the magic. A record whose values break one of the record
// checks (FindRecordFaults, recordchecks.h) is refused with RecordRefused,
// the same 1181 carrying the first value at fault. The JRE fields are not
// looked at when the record says it needs no JRE. Reads nothing outside
// [data, data + size), and takes memory in proportion to `size`.
InstallRecord ReadInstallRecord(const uint8_t* data, size_t size);

}  // namespace corv

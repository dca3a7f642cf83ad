// Where each value of the install-info record lies in its bytes: the one
// description of the layout that the installer's reader, the packaging
// tool's writer and its listing share. installrecord.h describes the
// encoding (strings, tables) and the record's sizes; this file says which
// value goes where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kernel/installrecord.h"

namespace corv::layout {

// A table field holds the entry count, then the offset of the first entry.
constexpr size_t kTableCount = 0;
constexpr size_t kTableOffset = 4;

// ---- The header.
constexpr size_t kMagic = 0;
constexpr size_t kAuxiliaryBlock = 16;  // a block descriptor
constexpr size_t kMainBlock = 56;       // a block descriptor
constexpr size_t kJreVersion = 164;     // string
constexpr size_t kJreValue = 168;
constexpr size_t kJreNames = 172;       // table of strings
constexpr size_t kJreGroups = 180;      // table of JRE groups
constexpr size_t kShortcuts = 188;      // table of shortcuts
constexpr size_t kAssociations = 196;   // table of associations
constexpr size_t kServices = 204;       // table of services
constexpr size_t kPrimaryMarkerFiles = 212;  // table of strings
constexpr size_t kChecksum = 220;       // see RecordChecksum

// ---- The extension (see RecordEntryDetails): a flags byte in the header,
// the uninstall entry's details right after the header, then the table of
// association icons.
constexpr size_t kExtensionFlags = 15;
constexpr size_t kEntryDetails = kRecordHeaderSize;
constexpr size_t kAssociationIcons = kEntryDetails + kRecordEntryDetailsSize;  // table of strings

// A value of one byte in the header, read into and written from the
// record's member of whatever type the byte encodes (an enum, a flag or a
// plain number). `name` is how the packaging tool's listing names it.
struct ByteField {
  size_t offset;
  uint8_t (*get)(const InstallRecord&);
  void (*set)(InstallRecord&, uint8_t);
  const char* name;
};

template <auto Member>
uint8_t GetByte(const InstallRecord& record) {
  return static_cast<uint8_t>(record.*Member);
}

template <auto Member>
void SetByte(InstallRecord& record, uint8_t value) {
  using Value = std::remove_reference_t<decltype(record.*Member)>;
  record.*Member = static_cast<Value>(value);  // a flag is set by any non-zero byte
}

template <auto Member>
constexpr ByteField Byte(size_t offset, const char* name) {
  return {offset, &GetByte<Member>, &SetByte<Member>, name};
}

constexpr ByteField kKind = Byte<&InstallRecord::kind>(4, "kind");
constexpr ByteField kReserved5 = Byte<&InstallRecord::reserved5>(5, "reserved-5");
constexpr ByteField kReserved6 = Byte<&InstallRecord::reserved6>(6, "reserved-6");
constexpr ByteField kOverwriteMode = Byte<&InstallRecord::overwriteMode>(7, "overwrite");
constexpr ByteField kDestinationBase = Byte<&InstallRecord::destinationBase>(8, "destination");
constexpr ByteField kNoJre = Byte<&InstallRecord::noJre>(9, "no-jre");
constexpr ByteField kBindExecutables = Byte<&InstallRecord::bindExecutables>(10, "bind");
constexpr ByteField kLanguage = Byte<&InstallRecord::language>(11, "language");
constexpr ByteField kWarnPreviousVersion = Byte<&InstallRecord::warnPreviousVersion>(12, "warn-previous-version");
constexpr ByteField kDestinationFixed = Byte<&InstallRecord::destinationFixed>(13, "destination-fixed");

constexpr ByteField kByteFields[] = {kKind,   kReserved5,       kReserved6, kOverwriteMode,       kDestinationBase,
                                     kNoJre,  kBindExecutables, kLanguage,  kWarnPreviousVersion, kDestinationFixed};

// A string of the header that the record may leave out.
struct StringField {
  size_t offset;
  OptString InstallRecord::*member;
  const char* name;
};

constexpr StringField kPackageName{96, &InstallRecord::packageName, "package"};
constexpr StringField kProductName{100, &InstallRecord::productName, "product"};
constexpr StringField kPrimaryName{104, &InstallRecord::primaryName, "primary"};
constexpr StringField kProductKey{108, &InstallRecord::productKey, "product-key"};
constexpr StringField kLicenseText{112, &InstallRecord::licenseText, "licence"};
constexpr StringField kWizardBitmap{116, &InstallRecord::wizardBitmap, "wizard-bitmap"};
constexpr StringField kUninstallerName{120, &InstallRecord::uninstallerName, "uninstaller"};
constexpr StringField kHookLibrary{124, &InstallRecord::hookLibrary, "hook-library"};
constexpr StringField kRecordedFile{128, &InstallRecord::recordedFile, "recorded-file"};
constexpr StringField kInstallRunProgram{132, &InstallRecord::installRunProgram, "install-run"};
constexpr StringField kInstallRunArguments{136, &InstallRecord::installRunArguments, "install-run-arguments"};
constexpr StringField kAfterRunProgram{140, &InstallRecord::afterRunProgram, "after-run"};
constexpr StringField kAfterRunArguments{144, &InstallRecord::afterRunArguments, "after-run-arguments"};
constexpr StringField kDefaultDestination{148, &InstallRecord::defaultDestination, "default-destination"};
constexpr StringField kDefaultProgramFolder{152, &InstallRecord::defaultProgramFolder, "program-folder"};
constexpr StringField kPrimaryJreFile{156, &InstallRecord::primaryJreFile, "primary jre-file"};
constexpr StringField kPathEntry{160, &InstallRecord::pathEntry, "path-entry"};

// In the order of their offsets, which is the order the writer places them.
constexpr StringField kStringFields[] = {
    kPackageName,       kProductName,        kPrimaryName,    kProductKey,       kLicenseText,
    kWizardBitmap,      kUninstallerName,    kHookLibrary,    kRecordedFile,     kInstallRunProgram,
    kInstallRunArguments, kAfterRunProgram,  kAfterRunArguments, kDefaultDestination, kDefaultProgramFolder,
    kPrimaryJreFile,    kPathEntry,
};

// ---- The fixed-size entries of the tables, each field's offset from the
// entry's start (string fields hold a string offset; a table field a count
// and an offset).
// A block descriptor (kRecordBlockSize bytes); kEntries holds the offset
// of the first file entry, after the count at kEntryCount.
namespace block {
constexpr size_t kEntryCount = 0, kOffset = 8, kLength = 16, kDecodedSize = 24, kEntries = 32, kCrc = 36;
}
// A file entry (kRecordFileEntrySize bytes).
namespace file {
constexpr size_t kName = 0, kTime = 4, kSize = 8;
}
// A JRE group (kRecordJreGroupSize bytes), with its table of checks, and
// one check (kRecordJreCheckSize bytes).
namespace jregroup {
constexpr size_t kFlag = 0, kChecks = 4;
}
namespace jrecheck {
constexpr size_t kPath = 0, kSize = 8;
}
// A shortcut (kRecordShortcutSize bytes).
namespace shortcut {
constexpr size_t kLocation = 0, kName = 4, kIconFile = 8, kIconIndex = 12, kWorkingFolder = 16, kTarget = 20,
                 kArguments = 24;
}
// An association (kRecordAssociationSize bytes).
namespace association {
constexpr size_t kExtension = 0, kLabel = 4, kTypeDescription = 8, kProgram = 12, kArguments = 16, kSelected = 20;
}
// A service (kRecordServiceSize bytes), with its table of dependencies.
namespace service {
constexpr size_t kProgram = 0, kDisplayName = 4, kDescription = 8, kStartKind = 12, kAccountKind = 13,
                 kInteractive = 14, kDependencies = 16;
}
// The uninstall entry's details after the header (see RecordEntryDetails).
namespace details {
constexpr size_t kDisplayIcon = 0, kDisplayVersion = 4, kPublisher = 8, kEstimatedSize = 12;
}

}  // namespace corv::layout

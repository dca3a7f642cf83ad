#include "kernel/installinfo.h"

#include "kernel/installrecordlayout.h"
#include "kernel/packagecontainer.h"
#include "kernel/tempfolder.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {

namespace {

InstallInfo* g_current = nullptr;

constexpr int kProfileUnset = 3;

InstallRecord ReadRecord(AbstractFile& packageFile) {
  std::optional<LocatedTrailer> located;
  std::vector<uint8_t> bytes = ReadInstallInfoRecord(packageFile, &located);
  InstallRecord record = ReadInstallRecord(bytes.data(), bytes.size());
  // What a signature does not cover is never installed.
  for (const RecordBlock* block : {&record.mainBlock, &record.auxiliaryBlock}) {
    if (located->signedFile && !BlockBeforeTrailer(*located, block->offset, block->length)) {
      throw FatalError(kDecompressFailed);
    }
  }
  return record;
}

std::unique_ptr<FilesPackage> MakePackage(const RecordBlock& block) {
  auto package = std::make_unique<FilesPackage>(block.offset, block.length, block.entries.size(), block.crc);
  for (const RecordFileEntry& e : block.entries) package->addEntry(e.name, e.time, e.size);
  return package;
}

}  // namespace

InstallInfo* InstallInfo::Current() { return g_current; }
void InstallInfo::SetCurrent(InstallInfo* info) { g_current = info; }

InstallInfo::InstallInfo(AbstractFile& packageFile) : InstallInfo(ReadRecord(packageFile)) {}

InstallInfo::InstallInfo(InstallRecord record) : record_(std::move(record)) {
  const InstallRecord& r = record_;
  if (r.installRunProgram) installRun_.emplace(r.installRunProgram, r.installRunArguments);
  if (r.afterRunProgram) afterRun_.emplace(r.afterRunProgram, r.afterRunArguments);
  auxiliaryFiles_ = MakePackage(r.auxiliaryBlock);
  mainFiles_ = MakePackage(r.mainBlock);
  for (const ShortcutEntry& s : r.shortcuts) infrastructure_.addShortcut(s);
  for (const AssociationEntry& a : r.associations) infrastructure_.addAssociation(a);
  for (const ServiceEntry& s : r.services) services_.add(s);

  choices_.setDestination(defaultDestination());
  choices_.programFolder = r.defaultProgramFolder;

  installLog_ = std::make_unique<Logger>(r.productOrPackageName());
  installLog_->setLogInteger(r.language);
  tempLog_ = std::make_unique<Logger>();
}

InstallInfo::~InstallInfo() {
  if (g_current == this) g_current = nullptr;
}

void RunChoices::setDestination(const OptString& path) {
  if (path) {
    destination.emplace(*path);
  } else {
    destination.reset();
  }
}

int RunChoices::installProfile() const {
  CORV_ASSERT(installProfile_ != kProfileUnset);
  return installProfile_;
}

void RunChoices::setInstallProfile(int profile) {
  CORV_ASSERT(profile == kProfileCommon || profile == kProfilePersonal);
  installProfile_ = profile;
}

void RunChoices::setJreFolder(const OptString& folder, bool fromPrimary) {
  jreFolder = folder;
  jreFolderFromPrimary = fromPrimary;
}

OptString InstallInfo::fixedDestination() const {
  return record_.destinationFixed ? defaultDestination() : std::nullopt;
}

OptString InstallInfo::absolutePathEntry() const {
  if (!record_.pathEntry) return std::nullopt;
  CORV_ASSERT(choices_.destination.has_value());
  return FileSys::MakeAbsolutePath(*record_.pathEntry, choices_.destination->widePath());
}

void InstallInfo::createLookups(PrimaryLookup::InstallPathReader installPaths,
                                JRELookup::JavaHomeReader javaHomes) {
  primaryLookup_ = std::make_unique<PrimaryLookup>(record_.productKey.value_or(XString()),
                                                   record_.primaryMarkerFiles, std::move(installPaths));
  if (const RecordJreRequirement* jre = record_.jreRequirement()) {
    jreLookup_ = std::make_unique<JRELookup>(*jre, std::move(javaHomes));
  }
}

PrimaryLookup& InstallInfo::primaryLookup() {
  CORV_ASSERT(primaryLookup_ != nullptr);
  return *primaryLookup_;
}

JRELookup& InstallInfo::jreLookup() {
  CORV_ASSERT(jreLookup_ != nullptr);
  return *jreLookup_;
}

OptString InstallInfo::defaultDestination() const {
  const OptString& name = record_.defaultDestination;
  if (!name) return std::nullopt;
  switch (record_.destinationBase) {
    case kBaseSystemDrive:
      return FileSys::MakeAbsolutePath(*name, FileSys::SystemDriveRoot().widePath());
    case kBaseProgramFiles:
      if (std::optional<Directory> programFiles = FileSys::ProgramFilesFolder()) {
        return FileSys::MakeAbsolutePath(*name, programFiles->widePath());
      }
      return FileSys::MakeAbsolutePath(*name);
    case kBasePath:
      return FileSys::MakeAbsolutePath(*name);
    default:
      throw AssertionFailedError(__FILE__, __LINE__);
  }
}

AbstractOverwritePolicy& InstallInfo::overwritePolicy(AbstractOverwritePolicy& frontEndPolicy) {
  if (record_.overwriteMode == OverwritePolicy::kAsk) return frontEndPolicy;
  policy_.reset();
  policy_ = std::make_unique<OverwritePolicy>(record_.overwriteMode);
  return *policy_;
}

AnsiString InstallInfo::summaryText() const {
  CORV_ASSERT(choices_.destination.has_value());
  AnsiString text = FormatMessageText(msg::kSummaryDestination, choices_.destination->widePath());
  if (choices_.jreFolder && !choices_.jreFolderFromPrimary) {
    const RecordJreRequirement* jre = record_.jreRequirement();
    CORV_ASSERT(jre != nullptr);
    text += FormatMessageText(msg::kSummaryJre, jre->version, *choices_.jreFolder);
  }
  if (infrastructure_.shortcutCountAt(kLocationProgramFolder) > 0) {
    text += FormatMessageText(msg::kSummaryProgramFolder, choices_.programFolder.value_or(XString()));
  }
  if (infrastructure_.shortcutCountAt(kLocationDesktop) > 0 &&
      infrastructure_.locationEnabled(kLocationDesktop)) {
    text += FormatMessageText(msg::kSummaryDesktopShortcuts);
  }
  if (infrastructure_.shortcutCountAt(kLocationStartMenu) > 0 &&
      infrastructure_.locationEnabled(kLocationStartMenu)) {
    text += FormatMessageText(msg::kSummaryStartMenuShortcuts);
  }
  return text;
}

bool InstallInfo::representableInCodePage() const {
  // The programs' arguments only count with their program, which runs with them.
  for (const layout::StringField& field : layout::kStringFields) {
    const bool unusedArguments =
        (field.member == layout::kInstallRunArguments.member && !installRun_) ||
        (field.member == layout::kAfterRunArguments.member && !afterRun_);
    if (!unusedArguments && !IsAnsiConvertible(record_.*field.member)) return false;
  }
  const RecordEntryDetails& details = record_.entryDetails;
  for (const OptString* s : {&details.displayIcon, &details.displayVersion, &details.publisher}) {
    if (!IsAnsiConvertible(*s)) return false;
  }
  for (size_t i = 0; i < infrastructure_.shortcutCount(); ++i) {
    const ShortcutEntry& s = infrastructure_.shortcut(i);
    for (const XString* t : {&s.name, &s.target, &s.arguments, &s.workingFolder}) {
      if (!IsAnsiConvertible(*t)) return false;
    }
    if (!IsAnsiConvertible(s.iconFile)) return false;
  }
  // Every other name that becomes a path too: a name the code page cannot
  // hold would reach the system with "?" in it, a wildcard to stat.
  for (const FilesPackage* files : {mainFiles_.get(), auxiliaryFiles_.get()}) {
    for (size_t i = 0; i < files->count(); ++i) {
      if (!IsAnsiConvertible(files->entry(i).name)) return false;
    }
  }
  for (size_t i = 0; i < infrastructure_.associationCount(); ++i) {
    if (!IsAnsiConvertible(infrastructure_.association(i).program)) return false;
  }
  for (const XString& marker : record_.primaryMarkerFiles) {
    if (!IsAnsiConvertible(marker)) return false;
  }
  for (size_t i = 0; i < services_.count(); ++i) {
    const ServiceEntry& s = services_.entry(i);
    for (const XString* t : {&s.program, &s.displayName, &s.description}) {
      if (!IsAnsiConvertible(*t)) return false;
    }
  }
  return true;
}

void InstallInfo::createTempFolder() { tempFolder_ = FileSys::CreateTempFolder(*tempLog_); }

void InstallInfo::extractAuxiliaryFiles(AbstractFile& packageFile) {
  CORV_ASSERT(tempFolder_.has_value());
  OverwritePolicy always(OverwritePolicy::kAlways);
  auxiliaryFiles_->extract(packageFile, *tempFolder_, nullptr, always, *tempLog_);
}

}  // namespace corv

#include "kernel/installinfo.h"

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

InstallInfo::InstallInfo(AbstractFile& packageFile) { build(ReadRecord(packageFile)); }

InstallInfo::InstallInfo(const InstallRecord& record) { build(record); }

InstallInfo::~InstallInfo() {
  if (g_current == this) g_current = nullptr;
}

void InstallInfo::build(const InstallRecord& r) {
  kind_ = r.kind;
  reserved5_ = r.reserved5;
  reserved6_ = r.reserved6;
  overwriteMode_ = r.overwriteMode;
  destinationBase_ = r.destinationBase;
  noJre_ = r.noJre;
  bindExecutables_ = r.bindExecutables;
  language_ = r.language;
  warnPreviousVersion_ = r.warnPreviousVersion;
  destinationFixed_ = r.destinationFixed;

  packageName_ = r.packageName;
  productName_ = r.productName;
  primaryName_ = r.primaryName;
  productKey_ = r.productKey;
  licenseText_ = r.licenseText;
  wizardBitmap_ = r.wizardBitmap;
  uninstallerName_ = r.uninstallerName;
  hookLibrary_ = r.hookLibrary;
  recordedFile_ = r.recordedFile;
  if (r.installRunProgram) installRun_.emplace(r.installRunProgram, r.installRunArguments);
  if (r.afterRunProgram) afterRun_.emplace(r.afterRunProgram, r.afterRunArguments);
  defaultDestination_ = r.defaultDestination;
  defaultProgramFolder_ = r.defaultProgramFolder;
  primaryJreFile_ = r.primaryJreFile;
  pathEntry_ = r.pathEntry;
  entryDetails_ = r.entryDetails;

  auxiliaryFiles_ = MakePackage(r.auxiliaryBlock);
  mainFiles_ = MakePackage(r.mainBlock);
  if (r.noJre == 0) jre_ = r.jre;

  for (const ShortcutEntry& s : r.shortcuts) infrastructure_.addShortcut(s);
  for (const AssociationEntry& a : r.associations) infrastructure_.addAssociation(a);
  for (const ServiceEntry& s : r.services) services_.add(s);
  primaryMarkerFiles_ = r.primaryMarkerFiles;

  setDestination(defaultDestination());
  programFolder_ = defaultProgramFolder_;

  installLog_ = std::make_unique<Logger>(productName());
  installLog_->setLogInteger(language_);
  tempLog_ = std::make_unique<Logger>();
}

bool InstallInfo::isInstallation() const {
  CORV_ASSERT(kind_ != 3);
  return kind_ == kPackageInstallation;
}

bool InstallInfo::isUpdate() const {
  CORV_ASSERT(kind_ != 3);
  return kind_ == kPackageUpdate;
}

void InstallInfo::setDestination(const OptString& path) {
  if (path) {
    destination_.emplace(*path);
  } else {
    destination_.reset();
  }
}

int InstallInfo::installProfile() const {
  CORV_ASSERT(installProfile_ != kProfileUnset);
  return installProfile_;
}

void InstallInfo::setInstallProfile(int profile) {
  CORV_ASSERT(profile == kProfileCommon || profile == kProfilePersonal);
  installProfile_ = profile;
}

void InstallInfo::setJreFolder(const OptString& folder, bool fromPrimary) {
  jreFolder_ = folder;
  jreFromPrimary_ = fromPrimary;
}

OptString InstallInfo::fixedDestination() const {
  return destinationFixed_ ? defaultDestination() : std::nullopt;
}

OptString InstallInfo::absolutePathEntry() const {
  if (!pathEntry_) return std::nullopt;
  CORV_ASSERT(destination_.has_value());
  return FileSys::MakeAbsolutePath(*pathEntry_, destination_->widePath());
}

void InstallInfo::createLookups(PrimaryLookup::InstallPathReader installPaths,
                                JRELookup::JavaHomeReader javaHomes) {
  primaryLookup_ = std::make_unique<PrimaryLookup>(productKey_.value_or(XString()), primaryMarkerFiles_,
                                                   std::move(installPaths));
  if (jre_) jreLookup_ = std::make_unique<JRELookup>(*jre_, std::move(javaHomes));
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
  if (!defaultDestination_) return std::nullopt;
  switch (destinationBase_) {
    case kBaseSystemDrive:
      return FileSys::MakeAbsolutePath(*defaultDestination_, FileSys::SystemDriveRoot().widePath());
    case kBaseProgramFiles:
      if (std::optional<Directory> programFiles = FileSys::ProgramFilesFolder()) {
        return FileSys::MakeAbsolutePath(*defaultDestination_, programFiles->widePath());
      }
      return FileSys::MakeAbsolutePath(*defaultDestination_);
    case kBasePath:
      return FileSys::MakeAbsolutePath(*defaultDestination_);
    default:
      throw AssertionFailedError(__FILE__, __LINE__);
  }
}

XString InstallInfo::expandRoot(const XString& text) const {
  CORV_ASSERT(destination_.has_value());
  return FileSys::ExpandRoot(text, destination_->widePath());
}

AbstractOverwritePolicy& InstallInfo::overwritePolicy(AbstractOverwritePolicy& frontEndPolicy) {
  if (overwriteMode_ == OverwritePolicy::kAsk) return frontEndPolicy;
  policy_.reset();
  policy_ = std::make_unique<OverwritePolicy>(overwriteMode_);
  return *policy_;
}

AnsiString InstallInfo::summaryText() const {
  CORV_ASSERT(destination_.has_value());
  AnsiString text = FormatMessageText(msg::kSummaryDestination, destination_->widePath());
  if (jreFolder_ && !jreFromPrimary_) {
    CORV_ASSERT(jre_.has_value());
    text += FormatMessageText(msg::kSummaryJre, jre_->version, *jreFolder_);
  }
  if (infrastructure_.shortcutCountAt(kLocationProgramFolder) > 0) {
    text += FormatMessageText(msg::kSummaryProgramFolder, programFolder_.value_or(XString()));
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
  for (const OptString* s : {&packageName_, &productName_, &primaryName_, &productKey_, &licenseText_,
                             &wizardBitmap_, &uninstallerName_, &hookLibrary_, &recordedFile_,
                             &defaultDestination_, &defaultProgramFolder_, &primaryJreFile_, &pathEntry_,
                             &entryDetails_.displayIcon, &entryDetails_.displayVersion, &entryDetails_.publisher}) {
    if (!IsAnsiConvertible(*s)) return false;
  }
  for (const std::optional<ExternalProgram>* p : {&installRun_, &afterRun_}) {
    if (*p && (!IsAnsiConvertible((*p)->program()) || !IsAnsiConvertible((*p)->arguments()))) return false;
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
  for (const XString& marker : primaryMarkerFiles_) {
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

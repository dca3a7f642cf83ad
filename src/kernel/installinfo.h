// The install-info record of the package, read once at start-up, together
// with the choices of the run (destination, program folder, profile, JRE
// folder, reboot flag) and the run's shared objects (the two install logs,
// the front end, the overwrite policy, the primary and JRE lookups). Every
// part of the installer reads the package's settings and sets the user's
// choices on the one InstallInfo of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "infrastructure/infrastructure.h"
#include "infrastructure/ntservices.h"
#include "kernel/filespackage.h"
#include "kernel/installprofile.h"
#include "kernel/installrecord.h"
#include "kernel/jrelookup.h"
#include "kernel/logger.h"
#include "kernel/overwritepolicy.h"
#include "kernel/primarylookup.h"
#include "util/externalprogram.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv {

class UserInterface;

// The JRE requirement: the version text, a value carried but not
// interpreted, the names table (carried, unused) and the acceptable JRE
// layouts, each a list of files with their sizes (-1: must be absent).
using JreRequirement = RecordJreRequirement;
using JreFileGroup = RecordJreGroup;
using JreFileCheck = RecordJreCheck;

class InstallInfo {
public:
  // Reads the trailer of the package file (open for reading) and the record
  // it names, and builds everything from it. FatalError 1181 "Invalid or
  // corrupted installation package" for a file without a valid package or a
  // record the reader refuses (see ReadInstallRecord), 1202 for a record
  // block that cannot be decoded, 1102 when the file cannot be read. A
  // record whose destination base is unknown while it names a default
  // destination, or whose program names no arguments, is an assertion
  // failure.
  explicit InstallInfo(AbstractFile& packageFile);
  // The same from a record already read.
  explicit InstallInfo(const InstallRecord& record);
  InstallInfo(const InstallInfo&) = delete;
  InstallInfo& operator=(const InstallInfo&) = delete;
  ~InstallInfo();

  // The process-wide record: set by the driver once it is read, none before
  // and after (borrowed).
  static InstallInfo* Current();
  static void SetCurrent(InstallInfo* info);

  // ---- Kind and switches, as the record has them.
  uint8_t packageKind() const { return kind_; }
  // Kind 1 and kind 2. Asking either for a record of kind 3 is an
  // assertion failure; other kinds are neither.
  bool isInstallation() const;
  bool isUpdate() const;
  uint8_t reserved5() const { return reserved5_; }
  uint8_t reserved6() const { return reserved6_; }
  // 1 always, 2 never, 3 if older, 4 ask the user.
  uint8_t overwriteMode() const { return overwriteMode_; }
  // 1 system drive root, 2 program-files folder, 3 the string is the path.
  uint8_t destinationBase() const { return destinationBase_; }
  // Non-zero: no JRE requirement.
  uint8_t noJreRequirement() const { return noJre_; }
  bool bindExecutables() const { return bindExecutables_; }
  // 1 automatic, 2 English, 3 Russian, 4 French, 5 German, 6 Japanese.
  uint8_t language() const { return language_; }
  bool warnAboutPreviousVersion() const { return warnPreviousVersion_; }
  bool destinationFixed() const { return destinationFixed_; }
  // The folder the vendor fixed the destination to, or none when the
  // destination may be chosen.
  OptString fixedDestination() const;

  // ---- Texts; none when the record leaves them out.
  const OptString& packageName() const { return packageName_; }
  // The product name, or the package name when there is none.
  const OptString& productName() const { return productName_ ? productName_ : packageName_; }
  // The product name as the record has it.
  const OptString& ownProductName() const { return productName_; }
  const OptString& primaryName() const { return primaryName_; }
  const OptString& productKey() const { return productKey_; }
  const OptString& licenseText() const { return licenseText_; }
  const OptString& wizardBitmap() const { return wizardBitmap_; }
  const OptString& uninstallerName() const { return uninstallerName_; }
  const OptString& hookLibrary() const { return hookLibrary_; }
  const OptString& recordedFile() const { return recordedFile_; }
  const OptString& pathEntry() const { return pathEntry_; }
  const OptString& defaultDestinationName() const { return defaultDestination_; }
  const OptString& defaultProgramFolder() const { return defaultProgramFolder_; }
  const OptString& primaryJreFile() const { return primaryJreFile_; }
  // The PATH entry made absolute against the destination, or none.
  OptString absolutePathEntry() const;
  // What the uninstall entry shows beside the name.
  const RecordEntryDetails& entryDetails() const { return entryDetails_; }

  // ---- Programs: present when the record names the program.
  const std::optional<ExternalProgram>& installRunProgram() const { return installRun_; }
  const std::optional<ExternalProgram>& afterRunProgram() const { return afterRun_; }

  // ---- The two files blocks.
  FilesPackage& auxiliaryFiles() { return *auxiliaryFiles_; }
  FilesPackage& mainFiles() { return *mainFiles_; }
  const FilesPackage& auxiliaryFiles() const { return *auxiliaryFiles_; }
  const FilesPackage& mainFiles() const { return *mainFiles_; }

  // ---- System changes.
  Infrastructure& infrastructure() { return infrastructure_; }
  const Infrastructure& infrastructure() const { return infrastructure_; }
  NTServices& services() { return services_; }
  const NTServices& services() const { return services_; }
  // None when the package needs no JRE.
  const JreRequirement* jreRequirement() const { return jre_ ? &*jre_ : nullptr; }
  const std::vector<XString>& primaryMarkerFiles() const { return primaryMarkerFiles_; }

  // ---- Lookups of the run, over the record's product key, primary marker
  // files and JRE requirement.
  // Creates the primary lookup and, for a package that requires a JRE, the
  // JRE lookup; each reads the registry through its reader.
  void createLookups(PrimaryLookup::InstallPathReader installPaths, JRELookup::JavaHomeReader javaHomes);
  // Before createLookups an assertion failure; the JRE lookup also for a
  // package without a JRE requirement.
  PrimaryLookup& primaryLookup();
  JRELookup& jreLookup();

  // ---- Choices of the run.
  // The destination; initially the default destination.
  const std::optional<Directory>& destination() const { return destination_; }
  // From a path; none clears it.
  void setDestination(const OptString& path);
  // The Start-menu program folder; initially the default program folder.
  const OptString& programFolder() const { return programFolder_; }
  void setProgramFolder(const OptString& folder) { programFolder_ = folder; }
  const std::optional<Directory>& tempFolder() const { return tempFolder_; }
  void setTempFolder(const Directory& folder) { tempFolder_ = folder; }
  // 1 common, 2 personal. Asking before it is set, or setting another
  // value, is an assertion failure.
  int installProfile() const;
  void setInstallProfile(int profile);
  const OptString& jreFolder() const { return jreFolder_; }
  // The JRE folder was read from the primary installation.
  bool jreFolderFromPrimary() const { return jreFromPrimary_; }
  void setJreFolder(const OptString& folder, bool fromPrimary);
  bool rebootRequired() const { return rebootRequired_; }
  void setRebootRequired(bool required) { rebootRequired_ = required; }

  // ---- Shared objects.
  // The main install log: named after productName, with the language as
  // its log integer.
  Logger& installLog() { return *installLog_; }
  // The temporary-files log: what is unpacked into the temporary folder.
  Logger& tempLog() { return *tempLog_; }
  // The front end (borrowed); none until the driver hands it over.
  UserInterface* frontEnd() const { return frontEnd_; }
  void setFrontEnd(UserInterface* ui) { frontEnd_ = ui; }

  // ---- Algorithms.
  // The default destination as an absolute path, by the destination base;
  // none without a default destination string. An unknown base is an
  // assertion failure.
  OptString defaultDestination() const;
  // `text` with every "$(Root)" (exactly so written) replaced by the
  // destination's path. Without a destination, an assertion failure.
  XString expandRoot(const XString& text) const;
  // The policy for the main files. Mode 4 answers with `frontEndPolicy`,
  // the front end's asking policy, and stores nothing; modes 1 to 3 build a
  // fresh fixed policy, replacing the one built before.
  AbstractOverwritePolicy& overwritePolicy(AbstractOverwritePolicy& frontEndPolicy);
  // The text shown before the installation starts (ANSI): the destination,
  // the JRE folder unless it came from the primary installation, the
  // program folder if a shortcut goes there, and the desktop and Start-menu
  // shortcuts the user keeps.
  AnsiString summaryText() const;
  // True when every text of the package converts to the system's ANSI code
  // page.
  bool representableInCodePage() const;

  // ---- Start-up steps.
  // Creates the run's temporary folder (logged in the temporary-files log)
  // and stores it. FatalError 1104 on failure.
  void createTempFolder();
  // Unpacks the auxiliary files into the temporary folder, always
  // overwriting, without progress, logged in the temporary-files log.
  // The temporary folder must exist (assertion failure otherwise).
  // FatalError 1103 or 1202 from the extraction.
  void extractAuxiliaryFiles(AbstractFile& packageFile);

private:
  void build(const InstallRecord& record);

  uint8_t kind_ = 0;
  uint8_t reserved5_ = 0;
  uint8_t reserved6_ = 0;
  uint8_t overwriteMode_ = 0;
  uint8_t destinationBase_ = 0;
  uint8_t noJre_ = 0;
  bool bindExecutables_ = false;
  uint8_t language_ = 0;
  bool warnPreviousVersion_ = false;
  bool destinationFixed_ = false;

  OptString packageName_;
  OptString productName_;
  OptString primaryName_;
  OptString productKey_;
  OptString licenseText_;
  OptString wizardBitmap_;
  OptString uninstallerName_;
  OptString hookLibrary_;
  OptString recordedFile_;
  OptString defaultDestination_;
  OptString defaultProgramFolder_;
  OptString primaryJreFile_;
  OptString pathEntry_;
  RecordEntryDetails entryDetails_;
  std::optional<ExternalProgram> installRun_;
  std::optional<ExternalProgram> afterRun_;

  std::unique_ptr<FilesPackage> auxiliaryFiles_;
  std::unique_ptr<FilesPackage> mainFiles_;
  std::optional<JreRequirement> jre_;
  Infrastructure infrastructure_;
  NTServices services_;
  std::vector<XString> primaryMarkerFiles_;

  std::optional<Directory> destination_;
  OptString programFolder_;
  std::optional<Directory> tempFolder_;
  int installProfile_ = 3;  // unset
  OptString jreFolder_;
  bool jreFromPrimary_ = false;
  bool rebootRequired_ = false;

  std::unique_ptr<Logger> installLog_;
  std::unique_ptr<Logger> tempLog_;
  UserInterface* frontEnd_ = nullptr;
  std::unique_ptr<OverwritePolicy> policy_;
  std::unique_ptr<PrimaryLookup> primaryLookup_;
  std::unique_ptr<JRELookup> jreLookup_;
};

}  // namespace corv

// The install-info record of the package, read once at start-up and kept
// unchanged, together with the choices of the run (destination, program
// folder, profile, JRE folder, reboot flag) and the run's shared objects
// (the two install logs, the front end, the overwrite policy, the primary
// and JRE lookups). Every part of the installer reads the package's
// settings from record() and sets the user's choices in choices() of the
// one InstallInfo of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kernel/infrastructure.h"
#include "kernel/ntservices.h"
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

// What the run decides, beside the record: the driver and the front ends
// set these.
class RunChoices {
public:
  // The destination; initially the default destination.
  std::optional<Directory> destination;
  // The Start-menu program folder; initially the default program folder.
  OptString programFolder;
  OptString jreFolder;
  // The JRE folder was read from the primary installation.
  bool jreFolderFromPrimary = false;
  bool rebootRequired = false;

  // From a path; none clears it.
  void setDestination(const OptString& path);
  void setJreFolder(const OptString& folder, bool fromPrimary);
  // 1 common, 2 personal. Asking before it is set, or setting another
  // value, is an assertion failure.
  int installProfile() const;
  void setInstallProfile(int profile);

private:
  int installProfile_ = 3;  // unset
};

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
  explicit InstallInfo(InstallRecord record);
  InstallInfo(const InstallInfo&) = delete;
  InstallInfo& operator=(const InstallInfo&) = delete;
  ~InstallInfo();

  // The process-wide record: set by the driver once it is read, none before
  // and after (borrowed).
  static InstallInfo* Current();
  static void SetCurrent(InstallInfo* info);

  // The record as read; it does not change during the run.
  const InstallRecord& record() const { return record_; }
  // What the run decides.
  RunChoices& choices() { return choices_; }
  const RunChoices& choices() const { return choices_; }

  // ---- Built from the record.
  // The programs: present when the record names the program.
  const std::optional<ExternalProgram>& installRunProgram() const { return installRun_; }
  const std::optional<ExternalProgram>& afterRunProgram() const { return afterRun_; }
  // The two files blocks.
  FilesPackage& auxiliaryFiles() { return *auxiliaryFiles_; }
  FilesPackage& mainFiles() { return *mainFiles_; }
  const FilesPackage& auxiliaryFiles() const { return *auxiliaryFiles_; }
  const FilesPackage& mainFiles() const { return *mainFiles_; }
  // The system changes, with what the user chooses of them.
  Infrastructure& infrastructure() { return infrastructure_; }
  const Infrastructure& infrastructure() const { return infrastructure_; }
  NTServices& services() { return services_; }
  const NTServices& services() const { return services_; }

  // ---- Lookups of the run, over the record's product key, primary marker
  // files and JRE requirement.
  // Creates the primary lookup and, for a package that requires a JRE, the
  // JRE lookup; each reads the registry through its reader.
  void createLookups(PrimaryLookup::InstallPathReader installPaths, JRELookup::JavaHomeReader javaHomes);
  // Before createLookups an assertion failure; the JRE lookup also for a
  // package without a JRE requirement.
  PrimaryLookup& primaryLookup();
  JRELookup& jreLookup();

  // ---- Shared objects.
  const std::optional<Directory>& tempFolder() const { return tempFolder_; }
  void setTempFolder(const Directory& folder) { tempFolder_ = folder; }
  // The main install log: named after the product name (the package name
  // when there is none), with the language as its log integer.
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
  // The folder the vendor fixed the destination to, or none when the
  // destination may be chosen.
  OptString fixedDestination() const;
  // The PATH entry made absolute against the destination, or none.
  OptString absolutePathEntry() const;
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
  const InstallRecord record_;
  RunChoices choices_;

  std::optional<ExternalProgram> installRun_;
  std::optional<ExternalProgram> afterRun_;
  std::unique_ptr<FilesPackage> auxiliaryFiles_;
  std::unique_ptr<FilesPackage> mainFiles_;
  Infrastructure infrastructure_;
  NTServices services_;

  std::optional<Directory> tempFolder_;
  std::unique_ptr<Logger> installLog_;
  std::unique_ptr<Logger> tempLog_;
  UserInterface* frontEnd_ = nullptr;
  std::unique_ptr<OverwritePolicy> policy_;
  std::unique_ptr<PrimaryLookup> primaryLookup_;
  std::unique_ptr<JRELookup> jreLookup_;
};

}  // namespace corv

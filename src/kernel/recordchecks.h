// The checks of the install-info record's values: what the installer refuses
// to install from, one rule per function. The record reader applies them to
// every record it reads, and the packager to every description it builds, so
// that a package the packager writes is one the installer accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/installrecord.h"
#include "util/exceptions.h"

namespace corv {

// True when `text` holds no CR, LF or NUL: install.log keeps one record per
// line, so a line break would add a record of the package's choosing (a file
// that the uninstaller deletes). The texts it keeps that the record gives:
// the package, product and uninstaller names, the product key, the recorded
// file, the default destination and program folder, the PATH entry, every
// file name, shortcut name, association extension and type, and every
// service's name (its description).
bool FitsOneLogLine(const XString& text);
// What is wrong with `text` as one line of install.log; empty when nothing.
std::string LineProblem(const XString& text);

// What keeps the installer from writing one of the record's texts where it
// goes: into its line of install.log, which holds Logger::kMaxLineLength
// characters with the keyword, the line feed and whatever the installer puts
// around the text, or into a registry key name, which the registry takes
// with at most kMaxRegistryKeyName characters between two backslashes.
// Over either, the installer cannot make the key, or cannot write the log
// of it once the installation is done and reported.
struct TextLimit {
  size_t length = 0;     // of the text, or of its over-long key name
  size_t limit = 0;      // the most characters it may have; 0: it fits
  bool keyName = false;  // the limit is the registry's for one key name

  bool exceeded() const { return limit != 0; }
};

constexpr size_t kMaxRegistryKeyName = 255;

// The product name, or the package name where the record gives none: the
// second line of install.log.
TextLimit ProductNameLimit(const XString& name);
// The product key, made below "Software\" of HKEY_LOCAL_MACHINE (or of the
// shorter HKEY_CURRENT_USER) and logged as a "registrykey" with its root.
TextLimit ProductKeyLimit(const XString& key);
// An association's file type: the keys ".<extension>" and
// "<package name>.<extension>\Shell\open\command" below HKEY_CLASSES_ROOT,
// each logged as a "registrykey" with its root.
TextLimit FileTypeLimit(const XString& packageName, const XString& extension);

// True when `name`, a relative path with "\" (or "/") as separator, stays
// inside the folder it is taken relative to. Checked once, on the form the
// system receives: the name trimmed of blanks and tabs at both ends. That
// form does not begin with a separator, holds no control character and none
// of < > : " | ? * (so no drive, no stream, no wildcard), no component made
// of dots and blanks only (".", "..", ". ." and the like, which the system
// folds into a step up or none), and no component that the system takes for
// a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and with superscript 1-3,
// CONIN$, CONOUT$, and CLOCK$ of Windows 95/98/Me, with or without an
// extension). The empty name is the folder itself.
bool IsContainedRelativePath(const XString& name);

// What keeps `name` from being one Windows file name ("holds a control
// character", "ends with a dot or a blank, which Windows drops"): a control
// character, one of < > : " / \ | ? *, a dot or blank at its end, or a
// device name as IsContainedRelativePath lists them. Empty when it is one.
std::string WindowsNameProblem(const XString& name);

// What keeps `name` from being a path inside `folder` ("destination") that
// Windows can create: not contained (the answer then says "must be a
// relative path inside the destination" and why), or, with `windowsNames`,
// a component that is empty or no Windows file name. Checked on the trimmed
// form; a trailing separator names the folder itself. Empty when it is one;
// without `windowsNames` exactly when IsContainedRelativePath holds.
std::string RelativePathProblem(const XString& name, const std::string& folder, bool windowsNames = true);

// The form under which Windows takes two names of one folder for the same:
// trimmed, "/" as "\", without trailing separators, and in upper case
// (ASCII, Latin-1, Greek, Cyrillic and the full-width Latin letters).
XString WindowsNameKey(const XString& name);

// A value of a record that the installer refuses. Fields are named as the
// package description names the key that gives them (shortcut[1].target,
// destination.folder; the files of the two blocks as main-files[i] and
// auxiliary-files[i]), so that the packager and its verify command can point
// at them.
struct RecordFault {
  std::string field;
  XString value;
  std::string problem;  // "must not contain a line break (...)"
};

// Who checks: the installer refuses what could leave its folder or break its
// log or registry keys; the packager refuses as well every name that Windows
// cannot use as it stands, so that what it writes installs as described.
enum class RecordChecks { kInstaller, kPackager };

// Every value of `record` that breaks a record check of `level`, field by
// field, at most `most` of them; one fault per field:
// - names that become paths (files of both blocks, the uninstaller, hook
//   library, wizard bitmap, recorded file, programs, program folder, primary
//   JRE file and markers, PATH entry, shortcut names, icons, working folders
//   and targets, association programs, service executables, JRE file checks,
//   the uninstall entry's icon) must each be a path inside its folder
//   (RelativePathProblem, with Windows names for the packager);
// - texts that install.log keeps must fit one line (FitsOneLogLine), and
//   the product name, product key and file types their TextLimit;
// - for the packager moreover: the hook library, the wizard bitmap and an
//   association's extension one Windows file name; the default destination
//   a path inside the system drive or the program-files folder, or with the
//   destination base "path" one that may begin with a drive ("C:\") or a
//   share; no two files of one block, shortcuts of one location or
//   associations of one extension with the same name (WindowsNameKey); the
//   uninstall entry's version and publisher on one line.
std::vector<RecordFault> FindRecordFaults(const InstallRecord& record, RecordChecks level,
                                          size_t most = SIZE_MAX);

// The installer's refusal of a record for one of its values: FatalError 1181
// "Invalid or corrupted installation package", with the fault beside it.
class RecordRefused : public FatalError {
public:
  explicit RecordRefused(RecordFault fault) : FatalError(kCorruptedPackage), fault_(std::move(fault)) {}

  const RecordFault& fault() const { return fault_; }

private:
  RecordFault fault_;
};

}  // namespace corv

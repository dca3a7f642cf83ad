// System integration: shortcuts, the product key, file associations and the
// uninstall entry. Windows only. Every key, file and folder created is
// logged in the install log the moment it is made, so that rollback and the
// uninstaller remove it.
#pragma once

#include <vector>

#include "kernel/infrastructure.h"
#include "infrastructure/registrykeys.h"
#include "infrastructure/shellfolders.h"
#include "kernel/installrecord.h"
#include "kernel/logger.h"
#include "util/xstring.h"

namespace corv {

class Logger;

// What the integration of one installation needs to know.
struct IntegrationTarget {
  XString destination;           // absolute destination folder
  bool commonProfile = false;    // install profile 1 (common)
  XString programFolder;         // the chosen Start-menu program folder
  XString packageName;
  XString productKey;            // below "Software\"
  OptString uninstaller;         // relative to the destination
  bool isInstallation = true;    // false for an update
  XString shfolderLibrary;       // "shfolder.dll" among the auxiliary files
  RecordEntryDetails entryDetails;  // the icon relative to the destination
};

// Warnings of the integration step go to the front end.
class IntegrationWarnings {
public:
  virtual ~IntegrationWarnings() = default;
  virtual void warn(const XString& text) = 0;
};

// The uninstall entry's key name: up to 16 leading characters of the package
// name that are each one ASCII letter or '_' in the ANSI code page,
// "_Deploy" appended when fewer than 5, then "_" and the counter.
XString UninstallKeyName(const XString& packageName, uint32_t counter);

// The name (with its root prefix) is that of an uninstall entry.
bool IsUninstallEntryName(const XString& fullName);

// The uninstall entries (full names with their root prefix) whose
// "UninstallString", quoted or not, names `program` (compared ignoring case).
std::vector<XString> UninstallEntriesOf(const XString& program);

// The files kept with an installation that only a seal makes trustworthy:
// "install.log" and the found state beside it. Their seals (SHA-256 in
// hexadecimal) are kept in the installation's uninstall entries, where
// only those who may change the installation can write.
enum class SealedFile { kInstallLog, kFoundState };

// The seals kept for that file in `folder`: the value of each uninstall
// entry whose program lies in that folder and has one (entries of earlier
// releases have none). A value that cannot be read or is no string counts
// as a seal that matches no file.
std::vector<std::string> SealsOf(const XString& folder, SealedFile file);

// Writes `seal` into every uninstall entry whose program lies in `folder`.
// With a `log` that has a journal, an entry the log does not name yet
// (one of an earlier installation) gets its earlier seal kept and is
// logged, so that a rollback puts it back. False when one could not be
// written.
bool WriteSeal(const XString& folder, SealedFile file, const std::string& seal, Logger* log);

// "InstallPath" of "Software\<name>" under `root`, or none.
OptString ReadInstallPath(const XString& productKey, int root);

bool CreateShortcut(const ShortcutEntry& entry, const IntegrationTarget& target, Logger& log);
bool RegisterAssociation(const AssociationEntry& entry, const IntegrationTarget& target, Logger& log);
bool WriteProductKey(const XString& name, const XString& destination, bool commonProfile, Logger& log);
// The uninstall entry of `command`'s program, the one an earlier
// installation into the same folder made (kept for a rollback to put back)
// or else the first free one of the package name, with "DisplayName",
// "UninstallString" (quoted when it holds a blank), "InstallLocation" (the
// destination `location`) and, for the built-in uninstaller,
// "QuietUninstallString" (the command with "/batch"); then those of
// `details` that are given: "DisplayIcon" (an absolute path here),
// "DisplayVersion", "Publisher" and "EstimatedSize" (a DWORD, KiB). True
// when the name and the commands were written; the details do not count.
bool CreateUninstallEntry(const XString& packageName, const XString& command, const XString& location,
                          Logger& log, const RecordEntryDetails& details = RecordEntryDetails());

// Shortcuts (those whose location is switched on), selected associations,
// and for an installation the product key and the uninstall entry. Failures
// of a shortcut, an association or the product key become warnings (1121,
// 1123, 1122); a failed uninstall entry is silent.
void InstallSystemIntegration(const Infrastructure& entries, const IntegrationTarget& target, Logger& log,
                              IntegrationWarnings& warnings);

}  // namespace corv

namespace corv {

// The install log's undo of every system change on Windows: registry keys
// (DeleteRegistryKey, RestoreRegistryKey), services (UninstallService,
// which stops and deletes them) and PATH entries (Environment::RemoveFromPath
// over the running system).
class Win32SystemUndo : public SystemUndo {
public:
  bool undoRegistryKey(const XString& fullKeyName) override;
  bool restoreRegistryKey(const KeySnapshot& found) override;
  bool undoService(const XString& serviceName) override;
  bool undoPathEntry(const XString& folder) override;
};

}  // namespace corv

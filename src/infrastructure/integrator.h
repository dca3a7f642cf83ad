// System integration: shortcuts, the product key, file associations, the
// uninstall entry, and the registry and shell services other parts use.
// Windows only. Every key, file and folder created is logged in the install
// log the moment it is made, so that rollback and the uninstaller remove it.
#pragma once

#include <vector>

#include "infrastructure/infrastructure.h"
#include "kernel/installrecord.h"
#include "kernel/logger.h"
#include "kernel/restorelog.h"
#include "util/xstring.h"

namespace corv {

class Logger;

// Registry roots by index, and their text prefixes in log records.
enum RegistryRoot { kRootLocalMachine = 0, kRootCurrentUser = 1, kRootClassesRoot = 2 };
const XChar* RegistryRootPrefix(int root);

// True when the system reports the NT platform.
bool IsWindowsNT();

// True on Windows NT for a member of the built-in Administrators group (the
// access check against a descriptor granting that group); false on Windows
// 95/98/Me and on any failure.
bool IsAdministrator();

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

// The folder of a shortcut location (0..3; else an assertion failure)
// through SHGetFolderPathA of `library`; the common folders apply on NT with
// `common` set. Returns false when the library, its entry or the call fails.
bool GetShellFolder(bool common, int location, const XString& library, XString* folder);

// Creates or opens every prefix of `path` under `root`; logs each key it
// created, and the whole path also when it existed if `alwaysLogLast`: then,
// unless the log has it already, the key's values are first kept in the
// log's RestoreLog, so that a rollback puts them back rather than deleting
// the key.
// Returns the open key of the whole path (to be closed with RegCloseKey),
// or null on failure; `existed` tells whether the last key was there.
void* CreateRegistryKeyPath(int root, const XString& path, Logger& log, bool alwaysLogLast, bool* existed);

// Deletes a key named with its root prefix (case-sensitive prefixes).
bool DeleteRegistryKey(const XString& fullName);

// What stands at a key named with its root prefix.
enum class KeyState { kMissing, kWithoutSubkeys, kWithSubkeys };
KeyState RegistryKeyState(const XString& fullName);

// The uninstall entries (full names with their root prefix) whose
// "UninstallString", quoted or not, names `program` (compared ignoring case).
std::vector<XString> UninstallEntriesOf(const XString& program);

// The seals kept for the "install.log" in `folder`: the "InstallLogDigest"
// of each uninstall entry whose program lies in that folder and has one
// (entries of earlier releases have none). A value that cannot be read or
// is no string counts as a seal that matches no log.
std::vector<std::string> InstallLogSeals(const XString& folder);

// Writes `seal` as the "InstallLogDigest" of every uninstall entry whose
// program lies in `folder`. With a `log` that keeps a RestoreLog, an entry
// the log does not name yet (one of an earlier installation) gets its
// earlier seal kept and is logged, so that a rollback puts it back. False
// when one could not be written.
bool SealInstallLog(const XString& folder, const std::string& seal, Logger* log);

// The values of an existing key named with its root prefix: all of them, or
// only `valueName` (then a missing value is kept as missing). None when the
// key cannot be read.
std::optional<KeySnapshot> SnapshotRegistryKey(const XString& fullName, const std::optional<AnsiString>& valueName);

// A string value (REG_SZ) of `root` (HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER), or none.
OptString ReadRegistryString(int root, const XString& key, const XString& value);

// "InstallPath" of "Software\<name>" under `root`, or none.
OptString ReadInstallPath(const XString& productKey, int root);

bool CreateShortcut(const ShortcutEntry& entry, const IntegrationTarget& target, Logger& log);
bool RegisterAssociation(const AssociationEntry& entry, const IntegrationTarget& target, Logger& log);
bool WriteProductKey(const XString& name, const XString& destination, bool commonProfile, Logger& log);
// The first free uninstall entry of the package name with "DisplayName",
// "UninstallString" (quoted when it holds a blank), "InstallLocation" (the
// destination `location`) and, for the built-in uninstaller,
// "QuietUninstallString" (the command with "/batch"); then those of
// `details` that are given: "DisplayIcon" (an absolute path here),
// "DisplayVersion", "Publisher" and "EstimatedSize" (a DWORD, KiB). True
// when the name and the commands were written; the details do not count.
bool CreateUninstallEntry(const XString& packageName, const XString& command, const XString& location,
                          Logger& log, const RecordEntryDetails& details = RecordEntryDetails());

// The names of the folders in the Programs folder of the profile.
std::vector<XString> ListProgramGroups(bool commonProfile, const XString& shfolderLibrary);

// Shortcuts (those whose location is switched on), selected associations,
// and for an installation the product key and the uninstall entry. Failures
// of a shortcut, an association or the product key become warnings (1121,
// 1123, 1122); a failed uninstall entry is silent.
void InstallSystemIntegration(const Infrastructure& entries, const IntegrationTarget& target, Logger& log,
                              IntegrationWarnings& warnings);

}  // namespace corv

namespace corv {

// The install log's undo of registry keys on Windows: DeleteRegistryKey.
// Services and PATH entries are not undone here.
class RegistryUndo : public NoSystemUndo {
public:
  bool undoRegistryKey(const XString& fullKeyName) override { return DeleteRegistryKey(fullKeyName); }
};

// The registry of the running system as a rollback restores it.
class Win32RegistryRestore : public RegistryRestore {
public:
  bool restoreKey(const KeySnapshot& snapshot) override;
  bool deleteCreatedKey(const XString& fullName) override;
};

// The install log's undo of every system change on Windows: registry keys
// (DeleteRegistryKey), services (UninstallService, which stops and deletes
// them) and PATH entries (Environment::RemoveFromPath over the running
// system). The installer makes it the default SystemUndo of its logs.
class Win32SystemUndo : public SystemUndo {
public:
  bool undoRegistryKey(const XString& fullKeyName) override;
  bool undoService(const XString& serviceName) override;
  bool undoPathEntry(const XString& folder) override;
};

}  // namespace corv

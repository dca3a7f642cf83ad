// Registry keys named with their root prefix ("HKEY_LOCAL_MACHINE\..."), as
// the install log records them: making them with their log records, their
// state, the snapshot of their values and the rollback that puts those
// back. Windows only.
#pragma once

#include <optional>

#include "kernel/logger.h"
#include "util/win32/registry.h"
#include "util/xstring.h"

namespace corv {

// Registry roots by index, and their text prefixes in log records.
enum RegistryRoot { kRootLocalMachine = 0, kRootCurrentUser = 1, kRootClassesRoot = 2 };
const XChar* RegistryRootPrefix(int root);

// Creates or opens every prefix of `path` under `root`; logs each key it
// created, and the whole path also when it existed if `alwaysLogLast`: then,
// unless the log has it already, the key's values are first kept as what
// its record found (when the log has a journal), so that a rollback puts
// them back rather than deleting the key.
// Returns the open key of the whole path, or none (an empty key) on
// failure; `existed` tells whether the last key was there.
win32::RegistryKey CreateRegistryKeyPath(int root, const XString& path, Logger& log, bool alwaysLogLast,
                                         bool* existed);

// The root and the subkey path of a name with its root prefix; false for
// an unknown prefix. FatalError when the path does not fit the ANSI code
// page.
bool SplitRegistryKeyName(const XString& fullName, HKEY* root, AnsiString* sub);

// Deletes a key named with its root prefix (case-sensitive prefixes),
// never one that still has subkeys (on Windows 95/98/Me the system call
// would take them along).
bool DeleteRegistryKey(const XString& fullName);
// Puts the values of a key back as `snapshot` has them (creating the key
// when it is gone); with `wholeKey`, values it does not list go.
bool RestoreRegistryKey(const KeySnapshot& snapshot);

// What stands at a key named with its root prefix.
enum class KeyState { kMissing, kWithoutSubkeys, kWithSubkeys };
KeyState RegistryKeyState(const XString& fullName);

// The values of an existing key named with its root prefix: all of them, or
// only `valueName` (then a missing value is kept as missing). None when the
// key cannot be read.
std::optional<KeySnapshot> SnapshotRegistryKey(const XString& fullName, const std::optional<AnsiString>& valueName);

// Of the values that `before` holds (all of the key's, with `wholeKey`),
// those that differ now, as they were: what puts back the key as it was
// but leaves values that did not change, and values added later to a key
// snapshot without `wholeKey`. None when the key cannot be read.
std::optional<KeySnapshot> ChangedValues(const KeySnapshot& before);

// A string value (REG_SZ) of `root` (HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER), or none.
OptString ReadRegistryString(int root, const XString& key, const XString& value);

}  // namespace corv

// The PATH environment variable: adding the product's folder to it during
// installation and removing it again on rollback and uninstall.
//
// On Windows NT PATH lives in the registry, in the value "PATH" of
// "Environment" under HKEY_CURRENT_USER (personal profile) or of
// "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" under
// HKEY_LOCAL_MACHINE (common profile); a change is announced to the running
// programs at once. On Windows 95/98/Me PATH is set by the "SET PATH=" lines
// of "autoexec.bat" and a change takes effect after a restart. The platform
// is asked anew at every operation.
//
// PATH entries are separated by ';' and compared as whole entries, ignoring
// case, in the ANSI code page (registry) or the OEM code page
// ("autoexec.bat"). Every operation reports failure by its result and never
// throws, except the assertion on an empty entry.
//
// The algorithms here are portable; the system they work on is an
// EnvironmentSystem. The Windows one is SystemEnvironment(); on the host
// SystemEnvironment() can open nothing, so every operation there fails.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "util/xstring.h"

namespace corv {

enum class CodePage { kAnsi, kOem };

// The two texts, both in `page`, are equal ignoring case (on the host, case
// of ASCII letters only).
bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b, CodePage page);

// A range of characters (bytes) of a narrow text.
struct TextRange {
  size_t offset = 0;
  size_t length = 0;
  bool operator==(const TextRange& o) const { return offset == o.offset && length == o.length; }
};

// The value "PATH" of an environment key: its text (ANSI) and its type.
struct PathValue {
  AnsiString text;
  bool expandable = true;  // REG_EXPAND_SZ; false: REG_SZ
};

// One environment key, open with read and set-value access; closed when
// destroyed.
class EnvironmentKey {
public:
  virtual ~EnvironmentKey() = default;
  // "PATH", when it exists as a string or an expandable string.
  virtual std::optional<PathValue> readPath() = 0;
  // Writes "PATH" with the text and the type; false on failure.
  virtual bool writePath(const PathValue& value) = 0;
  // Deletes "PATH"; false on failure.
  virtual bool deletePath() = 0;
};

// The system whose PATH is changed.
class EnvironmentSystem {
public:
  virtual ~EnvironmentSystem() = default;
  // The NT platform (registry), as the system reports it now; otherwise
  // "autoexec.bat".
  virtual bool isWindowsNT() = 0;
  // The personal or the common environment key; null when it cannot be
  // opened.
  virtual std::unique_ptr<EnvironmentKey> openKey(bool personal) = 0;
  // Tells the running programs that the environment changed; its outcome
  // is not looked at.
  virtual void broadcastChange() = 0;
  // The "autoexec.bat" to edit; none when there is none to edit.
  virtual OptString autoexecPath() = 0;
};

// The running system: on Windows the registry keys above, WM_SETTINGCHANGE
// with "Environment" to every top-level window (abort if hung, 1000 ms
// each), and DefaultAutoexecPath(). On the host nothing can be opened.
EnvironmentSystem& SystemEnvironment();

// "autoexec.bat" in the root of the drive that holds the Windows folder;
// "C:\autoexec.bat" when there is none there.
XString DefaultAutoexecPath();

// "autoexec.bat" as a list of lines, each the bytes read (OEM code page)
// without its line end. Written back as each line followed by "\r\n".
class AutoexecFile {
public:
  // No lines (the file of a system that has none).
  AutoexecFile() = default;

  // The lines of a file's bytes, read as text: "\r\n" and "\n" end a line,
  // a Ctrl-Z (0x1A) ends the text, and a last line without its line end
  // counts as well.
  static AutoexecFile FromText(const AnsiString& bytes);

  // Loads the file at `path`. A file that does not exist gives no lines;
  // false (and the object unchanged) when the file exists but its size
  // cannot be told or it cannot be read. FatalError 1055 for a path the
  // ANSI code page cannot take (also from save).
  bool load(const XString& path);
  // Writes every line in order into a new file beside `path`, flushes it
  // and then puts it in the place of `path`, so that the file is at every
  // moment either the old one or the new one, whole. False when the file
  // cannot be created, written or moved (the old file stays then).
  bool save(const XString& path) const;
  // The bytes that save writes.
  AnsiString text() const;

  const std::vector<AnsiString>& lines() const { return lines_; }

  // The index of the last line that sets PATH, or none.
  std::optional<size_t> lastPathLine() const;
  // Puts SET PATH="<folder>";"%PATH%" right after the last line that sets
  // PATH, or after the last line when none does. `oemFolder` is in the OEM
  // code page. Adding the same folder twice adds two lines.
  void addPathLine(const AnsiString& oemFolder);
  // In every line that sets PATH, cuts the first whole entry "<folder>" in
  // double quotes and then the first whole entry <folder>; a line left with
  // nothing but "%PATH%" in double quotes (ignoring case) is dropped.
  // Returns true when some line changed or was dropped.
  bool removeFolder(const AnsiString& oemFolder);

  // When `line` sets PATH (after leading blanks, tabs and '@': "SET" in any
  // case, at least one blank or tab, "PATH" in any case and '=' right after
  // it), the position just after its '='.
  static std::optional<size_t> PathValueStart(const AnsiString& line);

private:
  std::vector<AnsiString> lines_;
};

// Adding and removing a folder of PATH.
class Environment {
public:
  // Over the running system.
  Environment();
  // Over `system` (borrowed).
  explicit Environment(EnvironmentSystem& system);

  // Adds `folder` (absolute) to PATH: on NT at the front of the value of the
  // personal or the common key, unless it is there already (then nothing is
  // written and nothing announced); a key without a usable value gets an
  // expandable string holding only the folder. Elsewhere a line
  // SET PATH="<folder>";"%PATH%" goes into "autoexec.bat" and `*restart` is
  // set. 0 on success, non-zero on failure; `*restart` is false unless a
  // restart is needed; `*added` (if given) tells whether PATH changed, false
  // for a folder that was there already.
  int AddToPath(const XString& folder, bool personal, bool* restart, bool* added = nullptr);

  // Removes `folder` from PATH. On NT from the personal and then the common
  // key (the value "PATH" is deleted when nothing is left of it), and from
  // "autoexec.bat" as well, whose outcome does not count; success when it
  // was removed from at least one key. Elsewhere from the "SET PATH=" lines
  // of "autoexec.bat"; success when the file could be read and, if the
  // folder was in it, written again (a file without it stays as it is, byte
  // for byte). A missing "autoexec.bat" is
  // left missing (nothing to remove: success). 0 on success, non-zero on
  // failure.
  int RemoveFromPath(const XString& folder);

  // On NT: `folder` stands as a whole entry in the PATH value of the
  // personal or the common key. Elsewhere false: removing a folder from
  // "autoexec.bat" never fails for want of it.
  bool HoldsPathEntry(const XString& folder);

  // Where `entry` stands in `value` as a whole entry, and the range to cut
  // to remove it with one of its separators: the whole value when the two
  // are equal; the entry and the ';' after it when the value starts with
  // it; the ';' before it and the entry when the value ends with it;
  // otherwise the first entry between two ';' from position 1, with the
  // ';' after it. None when it is not there. An empty entry is an assertion
  // failure.
  static std::optional<TextRange> FindPathEntry(const AnsiString& entry, const AnsiString& value, CodePage page);

private:
  int addToRegistry(const AnsiString& folder, bool personal, bool* added);
  int addToAutoexec(const AnsiString& folder, bool* restart);
  bool removeFromRegistry(const AnsiString& folder, bool personal);
  int removeFromAutoexec(const AnsiString& folder);

  EnvironmentSystem& system_;
};

}  // namespace corv

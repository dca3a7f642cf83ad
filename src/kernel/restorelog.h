// What an installation replaced or changed in place, kept beside the install
// log so that a rollback puts back exactly what was there.
//
// The install log records what the installation made, for the uninstaller;
// undoing it deletes. Some of what it touches existed before: a file that
// extraction overwrites, a shortcut over an existing ".lnk", an earlier
// "install.log", a registry key that the installation writes values into,
// the PATH value or "autoexec.bat". Before each such change the RestoreLog
// keeps the earlier state: files are moved (or copied) into its folder in
// the run's temporary folder, registry values are kept as names, types and
// bytes. RollBack undoes the install log with these in mind (a key that
// existed gets its values back instead of being deleted), then moves the
// files back; Discard drops the copies after a completed installation.
// Nothing of this goes into "install.log".
//
// With its journal started, a RestoreLog also writes every record of the
// logs that use it, and everything it keeps, into the file "journal" in its
// folder before the change is made, and holds that file open so that no
// other process can write to it. When the installer is killed, the next run
// finds the journal (UndoInterrupted) and undoes the interrupted
// installation exactly as a rollback would. Every record that keeps or
// changes something that was there before reaches the disk (is flushed)
// before its change, together with the records written ahead of it; the
// records of files and folders the run creates are flushed in batches of
// kMadeRecordsPerFlush, since a flush per file would cost more than the file
// (on a power loss, the last of them may be missing: files of the run left
// behind, nothing of the user's lost).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "kernel/logger.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv {

// One registry value as it was.
struct SavedValue {
  AnsiString name;             // empty: the default value
  bool existed = false;        // false: restoring deletes the value
  uint32_t type = 0;           // REG_SZ, REG_DWORD, ...
  std::vector<uint8_t> data;
};

// The values of a registry key as they were before the installation wrote
// into it. With `wholeKey`, restoring also deletes every value not listed.
struct KeySnapshot {
  XString fullName;            // root prefix and subkey path, as in the log
  bool wholeKey = true;
  std::vector<SavedValue> values;
};

// The registry as a rollback needs it, beyond SystemUndo.
class RegistryRestore {
public:
  virtual ~RegistryRestore() = default;
  // Puts the key's values back as the snapshot has them.
  virtual bool restoreKey(const KeySnapshot& snapshot) = 0;
  // Deletes a key the installation created, never one that still has
  // subkeys (on Windows 95/98/Me the system call would take them along).
  virtual bool deleteCreatedKey(const XString& fullName) = 0;
};

// The undo of the system changes of an installation that puts back what it
// found: a key with a snapshot gets its values back and stays; any other key
// is one the installation made, deleted only when it has no subkeys; a PATH
// entry whose earlier value is kept gets that value back (one kept without
// a value went into "autoexec.bat", which comes back with the kept files).
// Services and the other PATH entries are undone through `system`. The
// rollback, the undo of an interrupted installation and the uninstaller
// undo through it.
class RestoringUndo : public SystemUndo {
public:
  RestoringUndo(SystemUndo& system, RegistryRestore& registry, const std::vector<KeySnapshot>& keys,
                std::map<XString, std::optional<KeySnapshot>> pathEntries = {});
  bool undoRegistryKey(const XString& fullKeyName) override;
  bool undoService(const XString& serviceName) override;
  bool undoPathEntry(const XString& folder) override;

private:
  SystemUndo& system_;
  RegistryRestore& registry_;
  std::map<XString, KeySnapshot> keys_;
  std::map<XString, std::optional<KeySnapshot>> pathEntries_;
};

// What a journal holds, in the order it was written.
struct JournalEntries {
  struct Record {
    bool temporary;  // a record of the temporary-files log
    LogRecord record;
  };
  struct Kept {
    XString original;
    std::optional<XString> copy;  // the copy's name in the folder; none: the file was made
  };
  std::vector<Record> records;
  std::vector<Kept> files;
  std::vector<KeySnapshot> keys;
  std::vector<std::pair<XString, std::optional<KeySnapshot>>> pathEntries;
};

// Reads the text of a journal. A last line without its line feed (the
// write the installer was killed in) is left out. False, with `out` as it
// was, for anything else that is not a journal: a wrong header, an unknown
// line, a field that does not parse, a copy name that is not one the
// RestoreLog gives.
bool ParseJournal(const std::string& bytes, JournalEntries* out);

// What an installation found in the registry keys it wrote into that were
// there before it: for each key, the values it changed, as they were
// (snapshots without `wholeKey`). It is kept with the installation, beside
// "install.log" as "install.restore", so that the uninstaller puts these
// values back and leaves the key, instead of deleting it; sealed like the
// log. The text is a journal holding only "key" lines, each ending in a
// line feed.
constexpr const char16_t* kFoundStateName = u"install.restore";
std::string FoundStateText(const std::vector<KeySnapshot>& keys);
// False, with `keys` as it was, for anything that is not such a text.
bool ParseFoundState(const std::string& bytes, std::vector<KeySnapshot>* keys);
// The found state in `file` as far as a seal vouches for it: nothing
// without `seals` (an installation of an earlier release, or a file that
// someone else put there); FatalError 1263 when it is missing or differs
// from them, 1102 when it cannot be read, 1261 when it is no found state.
std::vector<KeySnapshot> ReadFoundState(File& file, const std::vector<std::string>& seals);

class RestoreLog {
public:
  // The file name of the journal in the folder.
  static constexpr const char16_t* kJournalName = u"journal";
  // The copies go into `folder`, created on first need and logged nowhere:
  // RollBack and Discard remove it again when they have emptied it.
  explicit RestoreLog(Directory folder);
  RestoreLog(const RestoreLog&) = delete;
  RestoreLog& operator=(const RestoreLog&) = delete;

  // Before `file` (closed) is replaced: keeps it in the folder with its times
  // and attributes: moved there, or copied when `keepInPlace` or when it
  // cannot be moved (another volume). A path that holds nothing, or a
  // folder, needs nothing kept; a file that the installation itself wrote
  // (logged in `log`) or whose earlier state is kept already is not kept
  // again. Non-zero when the file could not be kept: it must not be
  // replaced then.
  int saveFile(const File& file, const Logger& log, bool keepInPlace = false);

  // Keeps the values of a key that existed before the installation writes
  // into it; the first snapshot of a key counts.
  void saveKey(KeySnapshot snapshot);
  bool hasKey(const XString& fullName) const;
  // The snapshots kept so far, by name.
  std::vector<KeySnapshot> keptKeys() const;

  // The PATH entry `folder` is about to be added. On Windows NT `value` is
  // the PATH value it goes into; on Windows 95/98/Me the change goes into
  // "autoexec.bat", which is kept by saveFile (or `createdFile` when there
  // is none yet, which rollback then removes). The first call per folder
  // counts.
  void savePathEntry(const XString& folder, std::optional<KeySnapshot> value);
  void noteCreatedFile(const XString& path);

  // Undoes `log` (newest first, through a RestoringUndo of what this log
  // kept), then puts the kept files back, newest first, and removes the
  // folder. Returns the collected failures, or none; a failure
  // never stops the walk.
  OptString RollBack(Logger& log, SystemUndo& system, RegistryRestore& registry);

  // After a completed installation: deletes the copies, the journal and the
  // folder.
  void Discard();

  // Creates the folder and the journal in it and holds it. FatalError 1103
  // with its path when it cannot be created.
  void StartJournal();
  // Writes a record of a log into the journal (nothing before StartJournal).
  // FatalError 1103 when it cannot be written: the change must not be made.
  void journalRecord(int kind, const XString& text, bool temporary);

  // Finds the journals of interrupted installations in the folders below
  // `base` whose names begin with "InstTemp", and undoes each installation
  // as a rollback would (the records of its temporary-files log too); then
  // removes the journal and, once empty, its folders. A journal that another
  // running installer holds, one that does not belong to the user the
  // program runs as (nor does its folder), or one that does not parse is
  // left alone; a copy that does not belong to the user is not put back.
  // Returns how many installations were undone.
  static int UndoInterrupted(const Directory& base, SystemUndo& system, RegistryRestore& registry);

  const Directory& folder() const { return folder_; }

private:
  struct SavedFile {
    XString original;
    std::optional<XString> copy;  // none: the file did not exist
  };
  bool prepareFolder();
  OptString restoreFiles();
  static constexpr int kMadeRecordsPerFlush = 64;
  // `madeOnly`: a record of something the run creates, which may wait for
  // the batch's flush.
  void journal(const std::string& line, bool madeOnly = false);
  void closeJournal();
  void adopt(const JournalEntries& entries);

  Directory folder_;
  bool folderMade_ = false;
  int next_ = 0;
  std::vector<SavedFile> files_;
  std::map<XString, KeySnapshot> keys_;
  std::map<XString, std::optional<KeySnapshot>> pathEntries_;
  std::unique_ptr<File> journal_;
  int unflushed_ = 0;
};

}  // namespace corv

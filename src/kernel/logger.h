// The change journal of an installation: the install log.
//
// A Logger records every change the installer makes, as records of five
// kinds, newest first. Each record also carries, while the run keeps it,
// the state its change replaced (FoundState): the earlier file, the values
// of a key that was there, the PATH value as it was. Undoing a record puts
// that state back, or, without one, removes what the change made. The
// rollback, the undo of an interrupted run (from the journal file that
// ChangeJournal keeps of the records), the uninstaller (with the found
// state kept beside "install.log") and updates all undo through it.
//
// The main log is written as "install.log" beside the product's
// uninstaller (which reads the same format), undone in place on rollback,
// and read back and extended by an update. A second Logger holds the run's
// temporary files and folders and is undone at the end of the run.
//
// "install.log" is UTF-16LE text without a byte-order mark, lines ending in a
// single line feed:
//   Install Log File, v2.0
//   <product name>
//   <recorded file path, or an empty line>
//   <log integer (the package's language code)>
//   <number N of records>
//   N lines "<keyword> <text>", newest first
// with the keywords "file", "directory", "registrykey", "ntservice" and
// "pathentry". The found states are not part of it.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "util/file.h"
#include "util/xstring.h"

namespace corv {

class ChangeJournal;

// Kinds of records; their numbers are fixed.
enum LogRecordKind : int {
  kLogFile = 0,         // "file": absolute path of a file written
  kLogDirectory = 1,    // "directory": absolute path of a folder created
  kLogRegistryKey = 2,  // "registrykey": "HKEY_LOCAL_MACHINE\", "HKEY_CURRENT_USER\"
                        // or "HKEY_CLASSES_ROOT\" and the subkey path
  kLogService = 3,      // "ntservice": service name
  kLogPathEntry = 4,    // "pathentry": absolute folder added to PATH
};

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

// What a change found where it was made, which undoing it puts back.
struct FoundState {
  // A file: the earlier file, moved or copied aside (none: there was no
  // file, and undoing the change deletes it whether or not it is listed).
  OptString copy;
  // A registry key that existed: the values it held. A PATH entry: the PATH
  // value as it was (none: the entry went into "autoexec.bat", a change of
  // its own, and the record's undo leaves PATH alone).
  std::optional<KeySnapshot> values;
};

// One change: what it made, and what it replaced when it replaced
// something (only while the run keeps it; never written to the log).
struct LogRecord {
  int kind;
  XString text;
  std::optional<FoundState> found = std::nullopt;
  bool operator==(const LogRecord& o) const { return kind == o.kind && text == o.text; }
  bool operator!=(const LogRecord& o) const { return !(*this == o); }
};

// The keyword of a kind ("file" ... "pathentry"); a kind outside 0..4 is an
// assertion failure.
const char16_t* LogKeyword(int kind);

// How the log undoes the changes that are not files or folders. Each returns
// true when the change is gone. The system-integration layer provides the
// real one; NoSystemUndo (for logs of files and folders only) undoes
// nothing and reports failure.
class SystemUndo {
public:
  virtual ~SystemUndo() = default;
  // Deletes a key the installation made, named with its root prefix; never
  // one that still has subkeys (on Windows 95/98/Me the system call would
  // take them along), nor one whose prefix is not "HKEY_LOCAL_MACHINE\",
  // "HKEY_CURRENT_USER\" or "HKEY_CLASSES_ROOT\".
  virtual bool undoRegistryKey(const XString& fullKeyName) = 0;
  // Puts the values of a key that was there back as `found` has them; the
  // key stays.
  virtual bool restoreRegistryKey(const KeySnapshot& found) = 0;
  // Stops and deletes the service.
  virtual bool undoService(const XString& serviceName) = 0;
  // Removes the folder from PATH.
  virtual bool undoPathEntry(const XString& folder) = 0;
};

class NoSystemUndo : public SystemUndo {
public:
  bool undoRegistryKey(const XString&) override { return false; }
  bool restoreRegistryKey(const KeySnapshot&) override { return false; }
  bool undoService(const XString&) override { return false; }
  bool undoPathEntry(const XString&) override { return false; }
};

// The whole content of a file that a seal vouches for: FatalError 1102 if
// it cannot be read, 1263 "Installation log file %s has been changed ..."
// if its SHA-256 differs from any of `seals` (none: not checked). What is
// checked is what the caller parses.
std::vector<uint8_t> ReadSealedFile(AbstractFile& file, const std::vector<std::string>& seals);

class Logger {
public:
  // Longest line the writer writes, line feed included.
  static constexpr size_t kMaxLineLength = 511;
  // Longest record text and keyword the reader accepts.
  static constexpr size_t kMaxTextLength = 511;
  static constexpr size_t kMaxKeywordLength = 503;

  // An empty log with log integer 1 and no recorded file path. The
  // temporary-files log has no product name.
  explicit Logger(OptString productName = std::nullopt);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Adds a record at the head, unless one of the same kind and text (exact,
  // case-sensitive) is present anywhere. A kind outside 0..4 is an assertion
  // failure.
  void Log(int kind, const XString& text);
  void LogFile(const AbstractFile& file);
  void LogDirectory(const XString& path);
  void LogRegistryKey(const XString& fullKeyName);
  void LogService(const XString& serviceName);
  void LogPathEntry(const XString& folder);

  // The listener to pass to Directory::createDirectories: it logs each
  // folder created. Made on first request, owned by the log.
  corv::DirectoryListener& DirectoryListener();

  // The product name; asking for it when there is none is an assertion
  // failure.
  const XString& productName() const;
  bool hasProductName() const { return productName_.has_value(); }
  void setProductName(OptString name) { productName_ = std::move(name); }
  const OptString& recordedFilePath() const { return recordedFile_; }
  void setRecordedFilePath(OptString path) { recordedFile_ = std::move(path); }
  // The log integer: the package's language code in the main log.
  int32_t logInteger() const { return logInteger_; }
  void setLogInteger(int32_t value) { logInteger_ = value; }
  size_t recordCount() const { return records_.size(); }
  // A record of this kind and text (exact) is present.
  bool contains(int kind, const XString& text) const;
  // Newest first.
  const std::list<LogRecord>& records() const { return records_; }

  // Writes the log into `file` (created or truncated, flushed to the disk,
  // closed afterwards); `seal`, when given, receives its seal (the SHA-256
  // of the bytes written, in hexadecimal), which the installer keeps where
  // only those who may change the installation can write.
  // FatalError 1103 with the file's path if it cannot be opened or written,
  // or if a line would not fit 511 characters (then nothing is written).
  // Writing a log without a product name is an assertion failure.
  void Write(AbstractFile& file, std::string* seal = nullptr);

  // Replaces the content with what `file` holds. FatalError 1102 if it
  // cannot be read, 1263 "Installation log file %s has been changed ..."
  // if its seal differs from any of `seals` (none: not checked), 1261
  // "Installation log file %s corrupted" if it is not a valid log: wrong
  // header, a line without its line feed or longer than the reader takes, a
  // count that is not a number, fewer records than the count, a missing
  // space or an unknown keyword. On failure the log is unchanged. Duplicate
  // records are dropped; whatever follows the last counted record is
  // ignored.
  void Read(AbstractFile& file, const std::vector<std::string>& seals = {});

  // For an update: with no own records, does nothing (an existing file stays
  // as it is) and returns false. Otherwise reads the existing log in
  // `earlier`, if it can (read failures are ignored, and so is a file that
  // is no log), and writes into `out` what MergeInto writes. An earlier log
  // whose seal differs from any of `seals` is FatalError 1263, with nothing
  // written. `out` may be `earlier`.
  bool MergeAndWrite(AbstractFile& earlier, AbstractFile& out, const std::vector<std::string>& seals = {},
                     std::string* seal = nullptr);
  bool MergeAndWrite(AbstractFile& file) { return MergeAndWrite(file, file); }
  // Writes into `out` the own records that `earlier` lacks followed by the
  // earlier ones (a record of both keeps its earlier place), under the
  // earlier product name and recorded file path and the own log integer;
  // `seal` receives the seal of what was written. The log itself keeps only
  // its own records, so that undoing it undoes this run alone.
  void WriteMergedWith(const Logger& earlier, AbstractFile& out, std::string* seal = nullptr) const;

  // Undoes every change, newest first, and forgets those undone: first the
  // records, each putting back what it found (a file's earlier copy, a
  // key's values, the PATH value) or else removing what it made, the
  // changes that are not files or folders through `system`; then the
  // changes that no record lists (below). A change that cannot be undone
  // stays and adds a line to the returned text (messages 1265-1269, 1103
  // for a file that cannot be put back); a failure never stops the walk.
  // Returns none when everything was undone. Without `system`, only files
  // and folders can be.
  OptString Undo(SystemUndo& system);
  OptString Undo();

  // Where the changes of this log are journaled and keep the files they
  // replace (borrowed; none for a log whose changes replace nothing, which
  // keeps no found state of files either). The journal receives every
  // record added at the head, marked as of the temporary-files log when
  // `temporaryFiles`, and every found state kept.
  ChangeJournal* journal() const { return journal_; }
  void setJournal(ChangeJournal* journal, bool temporaryFiles = false) {
    journal_ = journal;
    temporaryFiles_ = temporaryFiles;
  }
  // Tells the journal of a record about to be made, before the change that
  // it records (the record itself is added once the change is made). A
  // change that is announced but never made is undone harmlessly.
  void Announce(int kind, const XString& text);

  // What a change is about to replace, kept before it is made. The found
  // state goes with the change's record, added then or already there; until
  // the record comes (and for changes that no record lists: "autoexec.bat"
  // changed in place, a file made on the way) it is a change of its own
  // that Undo undoes after the records. The first found state of a change
  // counts.
  //
  // Before `file` (closed) is replaced: keeps it in the journal's folder
  // with its times and attributes, moved there, or copied when
  // `keepInPlace` or when it cannot be moved (another volume). A path that
  // holds nothing, a folder, a read-only file that is to be replaced (that
  // fails as it always did), a file this log wrote, or one kept already
  // needs nothing kept; so does everything without a journal. Non-zero
  // when the file could not be kept: it must not be replaced then.
  int KeepFile(const File& file, bool keepInPlace = false);
  // A file about to be made that undoing deletes, listed or not.
  void KeepMadeFile(const XString& path);
  // The values of a key that was there, before the installation writes
  // into it; `KeepsKey` tells whether they are kept already.
  void KeepKey(KeySnapshot found);
  bool KeepsKey(const XString& fullName) const;
  // The PATH entry `folder` is about to be added: on Windows NT `value` is
  // the PATH value it goes into; on Windows 95/98/Me the change goes into
  // "autoexec.bat", which is kept by KeepFile (or KeepMadeFile).
  void KeepPathEntry(const XString& folder, std::optional<KeySnapshot> value);
  // The found values of the registry keys that records list, by name.
  std::vector<KeySnapshot> FoundKeys() const;
  // Attaches a found state to the record of this kind and text, or keeps it
  // as a change of its own; nothing is journaled or moved. For a log read
  // back from where the found states were kept.
  void AddFound(int kind, const XString& text, FoundState found);
  // After a completed installation: every found state is dropped (their
  // copies go with the journal's folder).
  void ForgetFound();

private:
  class Listener;
  enum class Position { kHead, kTail };
  void add(int kind, const XString& text, Position where);
  static XString key(int kind, const XString& text);
  bool undoRecord(const LogRecord& record, SystemUndo& system, XString* errors) const;
  // The found state kept for a change, listed or not; none.
  const FoundState* foundFor(int kind, const XString& text) const;

  std::list<LogRecord> records_;
  // The records by kind and text.
  std::unordered_map<XString, std::list<LogRecord>::iterator> byKey_;
  // Changes no record lists (yet), newest first, and their keys.
  std::list<LogRecord> unlisted_;
  std::unordered_map<XString, std::list<LogRecord>::iterator> unlistedByKey_;
  // The found files' paths in upper case, whether listed or not.
  std::unordered_set<XString> foundFiles_;
  OptString productName_;
  OptString recordedFile_;
  int32_t logInteger_ = 1;
  std::unique_ptr<Listener> listener_;
  ChangeJournal* journal_ = nullptr;
  bool temporaryFiles_ = false;
};

}  // namespace corv

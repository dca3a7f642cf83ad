// The install log.
//
// A Logger records every change the installer makes, as records of five
// kinds, newest first. The main log is written as "install.log" beside the
// product's uninstaller (which reads the same format), undone in place on
// rollback, and read back and extended by an update. A second Logger holds
// the run's temporary files and folders and is undone at the end of the run.
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
// "pathentry".
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "util/file.h"
#include "util/xstring.h"

namespace corv {

class RestoreLog;

// Kinds of records; their numbers are fixed.
enum LogRecordKind : int {
  kLogFile = 0,         // "file": absolute path of a file written
  kLogDirectory = 1,    // "directory": absolute path of a folder created
  kLogRegistryKey = 2,  // "registrykey": "HKEY_LOCAL_MACHINE\", "HKEY_CURRENT_USER\"
                        // or "HKEY_CLASSES_ROOT\" and the subkey path
  kLogService = 3,      // "ntservice": service name
  kLogPathEntry = 4,    // "pathentry": absolute folder added to PATH
};

struct LogRecord {
  int kind;
  XString text;
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
  // Deletes the key named with its root prefix; a prefix other than
  // "HKEY_LOCAL_MACHINE\", "HKEY_CURRENT_USER\" or "HKEY_CLASSES_ROOT\"
  // fails.
  virtual bool undoRegistryKey(const XString& fullKeyName) = 0;
  // Stops and deletes the service.
  virtual bool undoService(const XString& serviceName) = 0;
  // Removes the folder from PATH.
  virtual bool undoPathEntry(const XString& folder) = 0;
};

class NoSystemUndo : public SystemUndo {
public:
  bool undoRegistryKey(const XString&) override { return false; }
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
  // is no log), and writes into `out` the own records that the earlier log
  // lacks followed by the earlier ones (a record of both keeps its earlier
  // place), under the earlier product name and recorded file path and the
  // own log integer; `seal` receives the seal of what was written. An earlier log whose seal differs from any of `seals`
  // is FatalError 1263, with nothing written. The log itself keeps only its
  // own records, so that undoing it undoes the update alone. `out` may be
  // `earlier`.
  bool MergeAndWrite(AbstractFile& earlier, AbstractFile& out, const std::vector<std::string>& seals = {},
                     std::string* seal = nullptr);
  bool MergeAndWrite(AbstractFile& file) { return MergeAndWrite(file, file); }

  // Undoes every record, newest first, the changes that are not files or
  // folders through `system`, and forgets those undone. A record that
  // cannot be undone stays and adds a line to the returned text (messages
  // 1265-1269); a failure never stops the walk. Returns none when
  // everything was undone. Without `system`, only files and folders can be.
  OptString Undo(SystemUndo& system);
  OptString Undo();

  // Where the changes of this log keep what they replace (borrowed; none for
  // a log whose changes replace nothing). Its journal also receives every
  // record added at the head, marked as of the temporary-files log when
  // `temporaryFiles`.
  RestoreLog* restoreLog() const { return restoreLog_; }
  void setRestoreLog(RestoreLog* restore, bool temporaryFiles = false) {
    restoreLog_ = restore;
    temporaryFiles_ = temporaryFiles;
  }
  // Tells the journal of a record about to be made, before the change that
  // it records (the record itself is added once the change is made). A
  // change that is announced but never made is undone harmlessly.
  void Announce(int kind, const XString& text);

private:
  class Listener;
  enum class Position { kHead, kTail };
  void add(int kind, const XString& text, Position where);
  static XString key(int kind, const XString& text);
  static bool undoRecord(const LogRecord& record, SystemUndo& system);

  std::list<LogRecord> records_;
  std::unordered_set<XString> present_;
  OptString productName_;
  OptString recordedFile_;
  int32_t logInteger_ = 1;
  std::unique_ptr<Listener> listener_;
  RestoreLog* restoreLog_ = nullptr;
  bool temporaryFiles_ = false;
};

}  // namespace corv

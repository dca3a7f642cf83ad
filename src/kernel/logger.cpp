#include "kernel/logger.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "kernel/restorelog.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/sha256.h"
#include "util/thread.h"

namespace corv {

namespace {

const XChar kHeader[] = u"Install Log File, v2.0\n";

const XChar* const kKeywords[] = {u"file", u"directory", u"registrykey", u"ntservice", u"pathentry"};
constexpr int kKindCount = 5;
// What a record of each kind that cannot be undone adds to the errors.
constexpr Message<1> kUndoFailures[] = {msg::kCannotDeleteFile, msg::kCannotDeleteFolder, msg::kCannotDeleteRegistryKey,
                                        msg::kCannotUninstallService, msg::kCannotRemoveFromPath};
static_assert(sizeof kUndoFailures / sizeof kUndoFailures[0] == kKindCount);


// Closes an opened file when the work on it ends early.
class CloseOnExit {
public:
  explicit CloseOnExit(AbstractFile& file) : file_(file) {}
  ~CloseOnExit() {
    if (open_) file_.close();
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;
  // The caller closes (and checks) it itself.
  int close() {
    open_ = false;
    return file_.close();
  }

private:
  AbstractFile& file_;
  bool open_ = true;
};

bool IsBlank(XChar c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// A decimal integer written by "%d": blanks, a sign, digits, nothing else.
bool ParseInt32(const XString& line, int32_t* out) {
  size_t i = 0;
  while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == u'-' || line[i] == u'+')) negative = line[i++] == u'-';
  if (i == line.size()) return false;
  int64_t value = 0;
  for (; i < line.size(); ++i) {
    if (line[i] < u'0' || line[i] > u'9') return false;
    value = value * 10 + (line[i] - u'0');
    if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

// What a valid log holds, gathered before anything of the Logger changes.
struct ParsedLog {
  XString productName;
  OptString recordedFile;
  int32_t logInteger = 0;
  std::vector<LogRecord> records;
};

// Reads the lines of `content` one after the other; a line is only whole
// with its line feed.
class LineReader {
public:
  explicit LineReader(const XString& content, size_t pos) : content_(content), pos_(pos) {}
  bool next(XString* line) {
    size_t end = content_.find(u'\n', pos_);
    if (end == XString::npos) return false;
    *line = content_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }

private:
  const XString& content_;
  size_t pos_;
};

// Parses the text of a log; false if it is not a valid one.
bool ParseLog(const XString& content, ParsedLog* out) {
  const XString header(kHeader);
  if (content.compare(0, header.size(), header) != 0) return false;
  LineReader lines(content, header.size());
  XString line;
  if (!lines.next(&line) || line.size() > Logger::kMaxTextLength) return false;
  out->productName = line;
  if (!lines.next(&line) || line.size() > Logger::kMaxTextLength) return false;
  if (!line.empty()) out->recordedFile = line;
  if (!lines.next(&line) || !ParseInt32(line, &out->logInteger)) return false;
  int32_t count = 0;
  if (!lines.next(&line) || !ParseInt32(line, &count) || count < 0) return false;
  for (int32_t n = 0; n < count; ++n) {
    if (!lines.next(&line)) return false;
    // The keyword is the first blank-delimited word; the text is everything
    // after the first space.
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    size_t end = start;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    size_t space = line.find(u' ');
    if (space == XString::npos) return false;
    if (end - start > Logger::kMaxKeywordLength) return false;
    if (line.size() - (space + 1) > Logger::kMaxTextLength) return false;
    XString keyword = line.substr(start, end - start);
    int kind = -1;
    for (int k = 0; k < kKindCount; ++k) {
      if (keyword == kKeywords[k]) kind = k;
    }
    if (kind < 0) return false;
    out->records.push_back(LogRecord{kind, line.substr(space + 1)});
  }
  return true;
}

// How long an empty folder that another process briefly holds (a program
// the installation started, or the console of one, that is still ending in
// it) is waited for.
constexpr uint32_t kHeldFolderRetryMs = 100;
constexpr int kHeldFolderRetries = 100;

bool RemoveFolder(const Directory& folder) {
  for (int attempt = 0;; ++attempt) {
    if (folder.removeDirectory() == 0) return true;
    // A folder that holds something, or is gone, is not waited for.
    if (attempt == kHeldFolderRetries || !folder.exists() || !FileSys::IsFolderEmpty(folder.widePath())) return false;
    Pause(kHeldFolderRetryMs);
  }
}

// UTF-16LE bytes as text. The text ends at the first NUL character, as it
// would for any reader of the format that takes the file as a C string.
XString DecodeUtf16le(const std::vector<uint8_t>& bytes) {
  XString text = FromUtf16Le(bytes.data(), bytes.size());
  text.resize(std::min(text.size(), text.find(u'\0')));
  return text;
}

}  // namespace

const char16_t* LogKeyword(int kind) {
  CORV_ASSERT(kind >= 0 && kind < kKindCount);
  return kKeywords[kind];
}

// The listener that createDirectories reports to: one `directory` record per
// folder created.
class Logger::Listener : public corv::DirectoryListener {
public:
  explicit Listener(Logger& log) : log_(log) {}
  void folderCreated(const Directory& folder) override { log_.LogDirectory(folder.widePath()); }
  void folderCreating(const Directory& folder) override { log_.Announce(kLogDirectory, folder.widePath()); }

private:
  Logger& log_;
};

Logger::Logger(OptString productName) : productName_(std::move(productName)) {}

Logger::~Logger() = default;

XString Logger::key(int kind, const XString& text) {
  XString k(1, static_cast<XChar>(u'0' + kind));
  return k + text;
}

void Logger::Announce(int kind, const XString& text) {
  CORV_ASSERT(kind >= 0 && kind < kKindCount);
  if (restoreLog_ && !contains(kind, text)) restoreLog_->journalRecord(kind, text, temporaryFiles_);
}

void Logger::add(int kind, const XString& text, Position where) {
  CORV_ASSERT(kind >= 0 && kind < kKindCount);
  if (present_.count(key(kind, text))) return;
  // Journaled before it is recorded; a journal that cannot be written
  // leaves the record out.
  if (where == Position::kHead && restoreLog_) restoreLog_->journalRecord(kind, text, temporaryFiles_);
  present_.insert(key(kind, text));
  if (where == Position::kHead) {
    records_.push_front(LogRecord{kind, text});
  } else {
    records_.push_back(LogRecord{kind, text});
  }
}

bool Logger::contains(int kind, const XString& text) const { return present_.count(key(kind, text)) != 0; }

void Logger::Log(int kind, const XString& text) { add(kind, text, Position::kHead); }
void Logger::LogFile(const AbstractFile& file) { Log(kLogFile, file.widePath()); }
void Logger::LogDirectory(const XString& path) { Log(kLogDirectory, path); }
void Logger::LogRegistryKey(const XString& fullKeyName) { Log(kLogRegistryKey, fullKeyName); }
void Logger::LogService(const XString& serviceName) { Log(kLogService, serviceName); }
void Logger::LogPathEntry(const XString& folder) { Log(kLogPathEntry, folder); }

corv::DirectoryListener& Logger::DirectoryListener() {
  if (!listener_) listener_ = std::make_unique<Listener>(*this);
  return *listener_;
}

const XString& Logger::productName() const {
  CORV_ASSERT(productName_.has_value());
  return *productName_;
}

void Logger::Write(AbstractFile& file, std::string* seal) {
  std::vector<XString> lines;
  lines.emplace_back(kHeader);
  lines.push_back(productName() + u"\n");
  lines.push_back(recordedFile_.value_or(XString()) + u"\n");
  lines.push_back(Int64ToDecimal(logInteger_) + u"\n");
  lines.push_back(Int64ToDecimal(static_cast<int64_t>(records_.size())) + u"\n");
  for (const LogRecord& r : records_) lines.push_back(XString(LogKeyword(r.kind)) + u" " + r.text + u"\n");

  // A line longer than the readers of the format take would make the whole
  // log unreadable: refuse it before the file is touched.
  std::vector<uint8_t> bytes;
  for (const XString& line : lines) {
    if (line.size() > kMaxLineLength) throw FatalError(kUnableToWriteFile, file.widePath());
    for (XChar c : line) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
  }

  if (file.open(kFileWrite) != 0) throw FatalError(kUnableToWriteFile, file.widePath());
  CloseOnExit closer(file);
  if (file.write(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) throw FatalError(kUnableToWriteFile, file.widePath());
  if (file.flush() != 0) throw FatalError(kUnableToWriteFile, file.widePath());
  if (closer.close() != 0) throw FatalError(kUnableToWriteFile, file.widePath());
  if (seal) *seal = Sha256Hex(bytes.data(), bytes.size());
}

namespace {

void CheckSeals(const std::vector<uint8_t>& bytes, const std::vector<std::string>& seals, const AbstractFile& file) {
  if (seals.empty()) return;
  const std::string digest = Sha256Hex(bytes.data(), bytes.size());
  for (const std::string& seal : seals) {
    if (seal != digest) throw FatalError(msg::kLogChanged, file.widePath());
  }
}

}  // namespace

std::vector<uint8_t> ReadSealedFile(AbstractFile& file, const std::vector<std::string>& seals) {
  int64_t length = file.size();
  if (length < 0 || length > std::numeric_limits<int32_t>::max()) throw FatalError(kUnableToReadFile, file.widePath());
  if (file.open(kFileRead) != 0) throw FatalError(kUnableToReadFile, file.widePath());
  CloseOnExit closer(file);
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!bytes.empty()) {
    int32_t got = file.read(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (got < 0 || static_cast<size_t>(got) != bytes.size()) throw FatalError(kUnableToReadFile, file.widePath());
  }
  closer.close();
  CheckSeals(bytes, seals, file);
  return bytes;
}

void Logger::Read(AbstractFile& file, const std::vector<std::string>& seals) {
  std::vector<uint8_t> bytes = ReadSealedFile(file, seals);
  bytes.resize(bytes.size() & ~size_t(1));
  ParsedLog parsed;
  if (!ParseLog(DecodeUtf16le(bytes), &parsed)) throw FatalError(msg::kLogCorrupted, file.widePath());

  records_.clear();
  present_.clear();
  productName_ = std::move(parsed.productName);
  recordedFile_ = std::move(parsed.recordedFile);
  logInteger_ = parsed.logInteger;
  for (LogRecord& r : parsed.records) add(r.kind, r.text, Position::kTail);
}

bool Logger::MergeAndWrite(AbstractFile& earlierFile, AbstractFile& out, const std::vector<std::string>& seals,
                           std::string* seal) {
  if (records_.empty()) return false;
  Logger merged(productName_);
  merged.recordedFile_ = recordedFile_;
  merged.logInteger_ = logInteger_;
  std::optional<std::vector<uint8_t>> bytes;
  try {
    bytes = ReadSealedFile(earlierFile, {});
  } catch (const FatalError&) {
    // no earlier log
  }
  ParsedLog earlier;
  if (bytes) {
    // A changed log is refused, not passed over: its records are not ours
    // to take, and the product's own would be lost.
    CheckSeals(*bytes, seals, earlierFile);
    bytes->resize(bytes->size() & ~size_t(1));
    if (ParseLog(DecodeUtf16le(*bytes), &earlier)) {  // else one that cannot be used
      merged.productName_ = std::move(earlier.productName);
      merged.recordedFile_ = std::move(earlier.recordedFile);
    } else {
      earlier.records.clear();
    }
  }
  // The records new to this run come first; one that the earlier log has
  // keeps its place there, among the records made before and after it
  // (a key written again stays behind the subkeys that were made in it).
  std::unordered_set<XString> earlierKeys;
  for (const LogRecord& r : earlier.records) earlierKeys.insert(key(r.kind, r.text));
  for (const LogRecord& r : records_) {
    if (!earlierKeys.count(key(r.kind, r.text))) merged.add(r.kind, r.text, Position::kTail);
  }
  for (const LogRecord& r : earlier.records) merged.add(r.kind, r.text, Position::kTail);
  merged.Write(out, seal);
  return true;
}

bool Logger::undoRecord(const LogRecord& record, SystemUndo& system) {
  XString path = record.text;
  TrimBlanks(path);
  try {
    switch (record.kind) {
      case kLogFile:
        return !path.empty() && File(record.text).remove() == 0;
      case kLogDirectory:
        return !path.empty() && RemoveFolder(Directory(record.text));
      case kLogRegistryKey:
        return system.undoRegistryKey(record.text);
      case kLogService:
        return system.undoService(record.text);
      case kLogPathEntry:
        return system.undoPathEntry(record.text);
    }
  } catch (const FatalError&) {
    return false;  // a text the system cannot take as a path
  }
  CORV_ASSERT(false);
  return false;
}

OptString Logger::Undo() {
  NoSystemUndo filesOnly;
  return Undo(filesOnly);
}

OptString Logger::Undo(SystemUndo& system) {
  XString errors;
  bool failed = false;
  for (auto it = records_.begin(); it != records_.end();) {
    if (undoRecord(*it, system)) {
      present_.erase(key(it->kind, it->text));
      it = records_.erase(it);
    } else {
      errors += FormatMessageTextWide(kUndoFailures[it->kind], it->text);
      failed = true;
      ++it;
    }
  }
  if (!failed) return std::nullopt;
  return errors;
}

}  // namespace corv

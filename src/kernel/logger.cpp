#include "kernel/logger.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "kernel/changejournal.h"
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
  if (journal_ && !contains(kind, text)) journal_->journalRecord(kind, text, temporaryFiles_);
}

void Logger::add(int kind, const XString& text, Position where) {
  CORV_ASSERT(kind >= 0 && kind < kKindCount);
  const XString k = key(kind, text);
  if (byKey_.count(k)) return;
  // Journaled before it is recorded; a journal that cannot be written
  // leaves the record out.
  if (where == Position::kHead && journal_) journal_->journalRecord(kind, text, temporaryFiles_);
  LogRecord record{kind, text};
  // What the change found was kept before it was made.
  if (auto it = unlistedByKey_.find(k); it != unlistedByKey_.end()) {
    record.found = std::move(it->second->found);
    unlisted_.erase(it->second);
    unlistedByKey_.erase(it);
  }
  if (where == Position::kHead) {
    records_.push_front(std::move(record));
    byKey_.emplace(k, records_.begin());
  } else {
    records_.push_back(std::move(record));
    byKey_.emplace(k, std::prev(records_.end()));
  }
}

const FoundState* Logger::foundFor(int kind, const XString& text) const {
  const XString k = key(kind, text);
  if (auto it = unlistedByKey_.find(k); it != unlistedByKey_.end()) return &*it->second->found;
  auto it = byKey_.find(k);
  return it != byKey_.end() && it->second->found ? &*it->second->found : nullptr;
}

void Logger::AddFound(int kind, const XString& text, FoundState found) {
  CORV_ASSERT(kind >= 0 && kind < kKindCount);
  if (kind == kLogFile) foundFiles_.insert(FileSys::CaseKey(text));
  const XString k = key(kind, text);
  if (auto it = byKey_.find(k); it != byKey_.end()) {
    if (!it->second->found) it->second->found = std::move(found);
    return;
  }
  if (unlistedByKey_.count(k)) return;
  unlisted_.push_front(LogRecord{kind, text, std::move(found)});
  unlistedByKey_.emplace(k, unlisted_.begin());
}

int Logger::KeepFile(const File& file, bool keepInPlace) {
  if (!journal_ || !file.exists() || file.isDirectory()) return 0;
  // A read-only file cannot be written over, and is not moved out of the
  // way either: replacing it fails as it always did.
  if (!keepInPlace && !(file.permissions() & kPermissionWrite)) return 0;
  const XString& path = file.widePath();
  if (contains(kLogFile, path) || foundFiles_.count(FileSys::CaseKey(path))) return 0;
  OptString copy = journal_->keepCopy(file, keepInPlace);
  if (!copy) return 1;
  AddFound(kLogFile, path, FoundState{copy, std::nullopt});
  return 0;
}

void Logger::KeepMadeFile(const XString& path) {
  if (foundFiles_.count(FileSys::CaseKey(path))) return;
  if (journal_) journal_->journalMade(path);
  AddFound(kLogFile, path, FoundState{});
}

void Logger::KeepKey(KeySnapshot found) {
  if (KeepsKey(found.fullName)) return;
  if (journal_) journal_->journalKey(found);
  const XString name = found.fullName;
  AddFound(kLogRegistryKey, name, FoundState{std::nullopt, std::move(found)});
}

bool Logger::KeepsKey(const XString& fullName) const { return foundFor(kLogRegistryKey, fullName) != nullptr; }

void Logger::KeepPathEntry(const XString& folder, std::optional<KeySnapshot> value) {
  if (foundFor(kLogPathEntry, folder)) return;
  if (journal_) journal_->journalPathEntry(folder, value);
  AddFound(kLogPathEntry, folder, FoundState{std::nullopt, std::move(value)});
}

std::vector<KeySnapshot> Logger::FoundKeys() const {
  std::map<XString, KeySnapshot> byName;
  for (const LogRecord& r : records_) {
    if (r.kind == kLogRegistryKey && r.found && r.found->values) byName.emplace(r.text, *r.found->values);
  }
  std::vector<KeySnapshot> keys;
  for (auto& entry : byName) keys.push_back(std::move(entry.second));
  return keys;
}

void Logger::ForgetFound() {
  for (LogRecord& r : records_) r.found.reset();
  unlisted_.clear();
  unlistedByKey_.clear();
  foundFiles_.clear();
}

bool Logger::contains(int kind, const XString& text) const { return byKey_.count(key(kind, text)) != 0; }

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

  if (WriteWholeFile(file, bytes.data(), bytes.size()) != 0) throw FatalError(kUnableToWriteFile, file.widePath());
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
  byKey_.clear();
  ForgetFound();
  productName_ = std::move(parsed.productName);
  recordedFile_ = std::move(parsed.recordedFile);
  logInteger_ = parsed.logInteger;
  for (LogRecord& r : parsed.records) add(r.kind, r.text, Position::kTail);
}

bool Logger::MergeAndWrite(AbstractFile& earlierFile, AbstractFile& out, const std::vector<std::string>& seals,
                           std::string* seal) {
  if (records_.empty()) return false;
  Logger earlier(productName_);
  earlier.recordedFile_ = recordedFile_;
  std::optional<std::vector<uint8_t>> bytes;
  try {
    bytes = ReadSealedFile(earlierFile, {});
  } catch (const FatalError&) {
    // no earlier log
  }
  if (bytes) {
    // A changed log is refused, not passed over: its records are not ours
    // to take, and the product's own would be lost.
    CheckSeals(*bytes, seals, earlierFile);
    bytes->resize(bytes->size() & ~size_t(1));
    ParsedLog parsed;
    if (ParseLog(DecodeUtf16le(*bytes), &parsed)) {  // else one that cannot be used
      earlier.productName_ = std::move(parsed.productName);
      earlier.recordedFile_ = std::move(parsed.recordedFile);
      for (LogRecord& r : parsed.records) earlier.add(r.kind, r.text, Position::kTail);
    }
  }
  WriteMergedWith(earlier, out, seal);
  return true;
}

void Logger::WriteMergedWith(const Logger& earlier, AbstractFile& out, std::string* seal) const {
  Logger merged(earlier.productName_);
  merged.recordedFile_ = earlier.recordedFile_;
  merged.logInteger_ = logInteger_;
  // The records new to this run come first; one that the earlier log has
  // keeps its place there, among the records made before and after it
  // (a key written again stays behind the subkeys that were made in it).
  for (const LogRecord& r : records_) {
    if (!earlier.contains(r.kind, r.text)) merged.add(r.kind, r.text, Position::kTail);
  }
  for (const LogRecord& r : earlier.records_) merged.add(r.kind, r.text, Position::kTail);
  merged.Write(out, seal);
}

bool Logger::undoRecord(const LogRecord& record, SystemUndo& system, XString* errors) const {
  XString path = record.text;
  TrimBlanks(path);
  const FoundState* found = record.found ? &*record.found : nullptr;
  bool done = false;
  try {
    switch (record.kind) {
      case kLogFile: {
        if (path.empty()) break;
        File file(record.text);
        if (found && found->copy) {
          // The earlier file replaces whatever the change left there;
          // copied back when it cannot be moved (another volume).
          File copy(*found->copy);
          if (copy.moveTo(file) == 0 || (copy.copyTo(file) == 0 && ChangeJournal::RemoveCopy(copy) == 0)) return true;
          *errors += FormatMessageTextWide(kUnableToWriteFile, record.text) + u"\r\n";
          return false;
        }
        // A file found missing is gone once it is missing again.
        done = file.remove() == 0 || (found && !file.exists());
        break;
      }
      case kLogDirectory:
        done = !path.empty() && RemoveFolder(Directory(record.text));
        break;
      case kLogRegistryKey:
        done = found && found->values ? system.restoreRegistryKey(*found->values) : system.undoRegistryKey(record.text);
        break;
      case kLogService:
        done = system.undoService(record.text);
        break;
      case kLogPathEntry:
        // An entry that went into "autoexec.bat" is undone with that file.
        done = found ? !found->values || system.restoreRegistryKey(*found->values) : system.undoPathEntry(record.text);
        break;
      default:
        CORV_ASSERT(false);
    }
  } catch (const FatalError&) {
    done = false;  // a text the system cannot take as a path
  }
  if (!done) *errors += FormatMessageTextWide(kUndoFailures[record.kind], record.text);
  return done;
}

OptString Logger::Undo() {
  NoSystemUndo filesOnly;
  return Undo(filesOnly);
}

OptString Logger::Undo(SystemUndo& system) {
  XString errors;
  bool failed = false;
  // The records first, then the changes that no record lists.
  for (auto [changes, byKey] : {std::pair(&records_, &byKey_), std::pair(&unlisted_, &unlistedByKey_)}) {
    for (auto it = changes->begin(); it != changes->end();) {
      if (undoRecord(*it, system, &errors)) {
        byKey->erase(key(it->kind, it->text));
        it = changes->erase(it);
      } else {
        failed = true;
        ++it;
      }
    }
  }
  if (!failed) return std::nullopt;
  return errors;
}

}  // namespace corv

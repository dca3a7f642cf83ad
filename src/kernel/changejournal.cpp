#include "kernel/changejournal.h"

#include <algorithm>
#include <limits>

#include "util/exceptions.h"
#include "util/fileplatform.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {

namespace {

const char kJournalHeader[] = "corvantis journal 1";
// A journal larger than this is not one the installer wrote.
constexpr int64_t kMaxJournalSize = 256 * 1024 * 1024;
const char kHex[] = "0123456789ABCDEF";

// A field of a journal line: '=' and the bytes, with '%', blanks and
// control bytes written as %XX.
std::string Field(const std::string& bytes) {
  std::string out = "=";
  for (unsigned char c : bytes) {
    if (c <= 0x20 || c == '%' || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Field(const XString& text) { return Field(ToUtf8(text)); }

std::string HexField(const std::vector<uint8_t>& data) {
  std::string out = "=";
  for (uint8_t b : data) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string KeyFields(const KeySnapshot& key) {
  std::string line = Field(key.fullName) + (key.wholeKey ? " 1 " : " 0 ") + std::to_string(key.values.size());
  for (const SavedValue& v : key.values) {
    line += " " + Field(v.name) + (v.existed ? " 1 " : " 0 ") + std::to_string(v.type) + " " + HexField(v.data);
  }
  return line;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The words of a journal line, read one after the other.
class Words {
public:
  explicit Words(const std::string& line) {
    size_t at = 0;
    while (at <= line.size()) {
      size_t end = line.find(' ', at);
      if (end == std::string::npos) end = line.size();
      words_.push_back(line.substr(at, end - at));
      at = end + 1;
    }
  }
  bool word(std::string* out) {
    if (next_ >= words_.size()) return false;
    *out = words_[next_++];
    return true;
  }
  bool bytes(std::string* out) {
    std::string w;
    if (!word(&w) || w.empty() || w[0] != '=') return false;
    out->clear();
    for (size_t i = 1; i < w.size(); ++i) {
      if (w[i] != '%') {
        *out += w[i];
        continue;
      }
      if (i + 2 >= w.size()) return false;
      int hi = HexDigit(w[i + 1]), lo = HexDigit(w[i + 2]);
      if (hi < 0 || lo < 0) return false;
      *out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    return true;
  }
  bool text(XString* out) {
    std::string b;
    if (!bytes(&b)) return false;
    *out = FromUtf8(b);
    return ToUtf8(*out) == b && out->find(u'\0') == XString::npos;
  }
  bool hex(std::vector<uint8_t>* out) {
    std::string w;
    if (!word(&w) || w.empty() || w[0] != '=' || w.size() % 2 != 1) return false;
    out->clear();
    for (size_t i = 1; i < w.size(); i += 2) {
      int hi = HexDigit(w[i]), lo = HexDigit(w[i + 1]);
      if (hi < 0 || lo < 0) return false;
      out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
  }
  bool number(uint64_t limit, uint64_t* out) {
    std::string w;
    if (!word(&w) || w.empty() || w.size() > 20) return false;
    uint64_t value = 0;
    for (char c : w) {
      if (c < '0' || c > '9') return false;
      const uint64_t digit = static_cast<uint64_t>(c - '0');
      if (digit > limit || value > (limit - digit) / 10) return false;
      value = value * 10 + digit;
    }
    *out = value;
    return true;
  }
  bool flag(bool* out) {
    uint64_t value = 0;
    if (!number(1, &value)) return false;
    *out = value == 1;
    return true;
  }
  bool done() const { return next_ == words_.size(); }

private:
  std::vector<std::string> words_;
  size_t next_ = 0;
};

bool ParseKey(Words& words, KeySnapshot* key) {
  uint64_t count = 0;
  if (!words.text(&key->fullName) || !words.flag(&key->wholeKey) || !words.number(1u << 20, &count)) return false;
  for (uint64_t i = 0; i < count; ++i) {
    SavedValue v;
    uint64_t type = 0;
    if (!words.bytes(&v.name) || v.name.find('\0') != std::string::npos || !words.flag(&v.existed) || !words.number(UINT32_MAX, &type) || !words.hex(&v.data)) {
      return false;
    }
    v.type = static_cast<uint32_t>(type);
    key->values.push_back(std::move(v));
  }
  return true;
}

// A copy name the ChangeJournal gives: "saved" and a decimal number.
bool IsCopyName(const XString& name) {
  const XString prefix = u"saved";
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  return true;
}

bool ParseLine(const std::string& line, JournalEntries* out) {
  Words words(line);
  std::string kind;
  if (!words.word(&kind)) return false;
  if (kind == "log" || kind == "temp") {
    uint64_t recordKind = 0;
    XString text;
    if (!words.number(4, &recordKind) || !words.text(&text)) return false;
    out->records.push_back({kind == "temp", LogRecord{static_cast<int>(recordKind), text}});
  } else if (kind == "saved") {
    XString original, copy;
    if (!words.text(&original) || !words.text(&copy) || !IsCopyName(copy)) return false;
    out->files.push_back({original, copy});
  } else if (kind == "made") {
    XString path;
    if (!words.text(&path)) return false;
    out->files.push_back({path, std::nullopt});
  } else if (kind == "key") {
    KeySnapshot key;
    if (!ParseKey(words, &key)) return false;
    out->keys.push_back(std::move(key));
  } else if (kind == "path") {
    XString folder;
    bool hasKey = false;
    if (!words.text(&folder) || !words.flag(&hasKey)) return false;
    std::optional<KeySnapshot> key;
    if (hasKey && !ParseKey(words, &key.emplace())) return false;
    out->pathEntries.emplace_back(folder, std::move(key));
  } else {
    return false;
  }
  return words.done();
}

}  // namespace

bool ParseJournal(const std::string& bytes, JournalEntries* out) {
  JournalEntries parsed;
  size_t at = 0;
  bool first = true;
  for (;;) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) break;  // nothing more, or the interrupted write
    std::string line = bytes.substr(at, end - at);
    at = end + 1;
    if (first) {
      if (line != kJournalHeader) return false;
      first = false;
      continue;
    }
    if (!ParseLine(line, &parsed)) return false;
  }
  if (first) return false;
  *out = std::move(parsed);
  return true;
}

std::string FoundStateText(const std::vector<KeySnapshot>& keys) {
  std::string text = std::string(kJournalHeader) + "\n";
  for (const KeySnapshot& key : keys) text += "key " + KeyFields(key) + "\n";
  return text;
}

bool ParseFoundState(const std::string& bytes, std::vector<KeySnapshot>* keys) {
  JournalEntries entries;
  // Every line is whole: the file was written in one piece.
  if (bytes.empty() || bytes.back() != '\n' || !ParseJournal(bytes, &entries)) return false;
  if (!entries.records.empty() || !entries.files.empty() || !entries.pathEntries.empty()) return false;
  *keys = std::move(entries.keys);
  return true;
}

std::vector<KeySnapshot> ReadFoundState(File& file, const std::vector<std::string>& seals) {
  std::vector<KeySnapshot> keys;
  if (seals.empty()) return keys;
  if (!file.exists()) throw FatalError(msg::kLogChanged, file.widePath());
  const std::vector<uint8_t> bytes = ReadSealedFile(file, seals);
  if (!ParseFoundState(std::string(bytes.begin(), bytes.end()), &keys)) throw FatalError(msg::kLogCorrupted, file.widePath());
  return keys;
}

ChangeJournal::ChangeJournal(Directory folder) : folder_(std::move(folder)) {}

int ChangeJournal::RemoveCopy(const File& copy) {
  File file(copy.widePath());
  if (file.remove() == 0 || !file.exists()) return 0;
  file.setPermissions(kPermissionRead | kPermissionWrite);
  return file.remove();
}

bool ChangeJournal::prepareFolder() {
  if (!folderMade_) folderMade_ = folder_.createDirectories() == 0;
  return folderMade_;
}

OptString ChangeJournal::keepCopy(const File& file, bool keepInPlace) {
  if (!prepareFolder()) return std::nullopt;
  std::optional<File> copy;
  XString name;
  do {
    name = Format(u"saved%d", next_++);
    copy.emplace(folder_, name);
  } while (copy->exists());
  // Journaled first: a copy that was never made is simply not found again.
  journal("saved " + Field(file.widePath()) + " " + Field(name));
  bool kept = (!keepInPlace && file.moveTo(*copy) == 0) || file.copyTo(*copy) == 0;
  if (!kept) {
    RemoveCopy(*copy);  // a partial copy
    return std::nullopt;
  }
  copies_.push_back(copy->widePath());
  return copy->widePath();
}

void ChangeJournal::journalMade(const XString& path) { journal("made " + Field(path)); }

void ChangeJournal::journalKey(const KeySnapshot& found) { journal("key " + KeyFields(found)); }

void ChangeJournal::journalPathEntry(const XString& folder, const std::optional<KeySnapshot>& value) {
  journal("path " + Field(folder) + (value ? " 1 " + KeyFields(*value) : std::string(" 0")));
}

void ChangeJournal::Close() {
  // A copy that could not be put back stays where it is, never deleted.
  copies_.clear();
  closeJournal();
  if (folderMade_ && folder_.removeDirectory() == 0) folderMade_ = false;
}

void ChangeJournal::Discard() {
  for (const XString& copy : copies_) RemoveCopy(File(copy));
  copies_.clear();
  Close();
}

void ChangeJournal::Start() {
  auto file = std::make_unique<File>(folder_, XString(kJournalName));
  if (!prepareFolder() || file->open(kFileWriteLocked) != 0) throw FatalError(kUnableToWriteFile, file->widePath());
  journal_ = std::move(file);
  journal(kJournalHeader);
}

void ChangeJournal::journal(const std::string& line, bool madeOnly) {
  if (!journal_) return;
  std::string text = line + "\n";
  if (journal_->write(text.data(), static_cast<uint32_t>(text.size())) != 0) {
    throw FatalError(kUnableToWriteFile, journal_->widePath());
  }
  if (madeOnly && ++unflushed_ < kMadeRecordsPerFlush) return;
  unflushed_ = 0;
  if (journal_->flush() != 0) throw FatalError(kUnableToWriteFile, journal_->widePath());
}

void ChangeJournal::journalRecord(int kind, const XString& text, bool temporary) {
  CORV_ASSERT(kind >= 0 && kind <= 4);
  // A file or folder of the run's own costs no flush of its own.
  const bool madeOnly = !temporary && (kind == kLogFile || kind == kLogDirectory);
  journal(std::string(temporary ? "temp " : "log ") + static_cast<char>('0' + kind) + " " + Field(text), madeOnly);
}

void ChangeJournal::closeJournal() {
  if (!journal_) return;
  journal_->close();
  journal_->remove();
  journal_.reset();
}

int ChangeJournal::UndoInterrupted(const Directory& base, SystemUndo& system) {
  int undone = 0;
  for (const AnsiString& name : platform::ListFolders(base.ansiPath())) {
    if (name.compare(0, 8, "InstTemp") != 0) continue;
    try {
      Directory runFolder(base, ToWide(name));
      Directory restoreFolder(runFolder, XString(u"restore"));
      File journal(restoreFolder, XString(kJournalName));
      if (!journal.exists()) continue;
      // Only what this user's own installer left: a journal that someone
      // else could have put there must never choose what is deleted.
      if (!platform::OwnedByCurrentUser(runFolder.ansiPath()) ||
          !platform::OwnedByCurrentUser(restoreFolder.ansiPath()) ||
          !platform::OwnedByCurrentUser(journal.ansiPath())) {
        continue;
      }
      int64_t size = journal.size();
      if (size < 0 || size > kMaxJournalSize) continue;
      // A running installer holds its journal: it is not interrupted.
      if (journal.open(kFileReadLocked) != 0) continue;
      std::string bytes(static_cast<size_t>(size), '\0');
      int32_t got = bytes.empty() ? 0 : journal.read(&bytes[0], static_cast<uint32_t>(bytes.size()));
      JournalEntries entries;
      if (got != size || !ParseJournal(bytes, &entries)) {
        journal.close();
        continue;
      }
      Logger main;
      Logger temporary;
      for (const JournalEntries::Record& r : entries.records) {
        (r.temporary ? temporary : main).Log(r.record.kind, r.record.text);
      }
      for (const JournalEntries::Kept& kept : entries.files) {
        FoundState found;
        if (kept.copy) {
          // A copy someone else put in place of one already moved back is
          // not put anywhere.
          File copy(restoreFolder, *kept.copy);
          if (copy.exists() && !platform::OwnedByCurrentUser(copy.ansiPath())) continue;
          found.copy = copy.widePath();
        }
        main.AddFound(kLogFile, kept.original, std::move(found));
      }
      for (const KeySnapshot& key : entries.keys) main.AddFound(kLogRegistryKey, key.fullName, FoundState{std::nullopt, key});
      for (const auto& [folder, value] : entries.pathEntries) {
        main.AddFound(kLogPathEntry, folder, FoundState{std::nullopt, value});
      }
      main.Undo(system);
      temporary.Undo();
      journal.close();
      journal.remove();
      restoreFolder.removeDirectory();
      runFolder.removeDirectory();
      ++undone;
    } catch (const Exception&) {
      // A name the system cannot take: not a journal of ours.
    }
  }
  return undone;
}

}  // namespace corv

#include "util/environment.h"

#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"

namespace corv {

namespace {

constexpr char kSeparator = ';';
constexpr char kEndOfText = 0x1A;  // Ctrl-Z ends a file read as text

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// `word` (upper case ASCII) at `at` in `line`, in any case.
bool WordAt(const AnsiString& line, size_t at, const char* word) {
  for (size_t i = 0; word[i]; ++i) {
    if (at + i >= line.size()) return false;
    char c = line[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

// Cuts the first whole entry `entry` of `value`, if any.
bool CutEntry(AnsiString& value, const AnsiString& entry, CodePage page) {
  std::optional<TextRange> range = Environment::FindPathEntry(entry, value, page);
  if (!range) return false;
  value.erase(range->offset, range->length);
  return true;
}

}  // namespace

XString DefaultAutoexecPath() {
  File candidate(FileSys::SystemDriveRoot(), XString(u"autoexec.bat"));
  if (candidate.exists()) return candidate.widePath();
  return u"C:\\autoexec.bat";
}

// ---- AutoexecFile

AutoexecFile AutoexecFile::FromText(const AnsiString& bytes) {
  AutoexecFile file;
  size_t end = bytes.find(kEndOfText);
  if (end == AnsiString::npos) end = bytes.size();
  size_t at = 0;
  while (at < end) {
    size_t feed = bytes.find('\n', at);
    if (feed == AnsiString::npos || feed >= end) {
      file.lines_.push_back(bytes.substr(at, end - at));
      break;
    }
    size_t stop = feed;
    if (stop > at && bytes[stop - 1] == '\r') --stop;
    file.lines_.push_back(bytes.substr(at, stop - at));
    at = feed + 1;
  }
  return file;
}

bool AutoexecFile::load(const XString& path) {
  File file(path);
  if (!file.exists()) {
    lines_.clear();
    return true;
  }
  int64_t size = file.size();
  if (size < 0 || file.open(kFileRead) != 0) return false;
  AnsiString bytes;
  char buffer[4096];
  for (;;) {
    int32_t got = file.read(buffer, sizeof buffer);
    if (got < 0) {
      file.close();
      return false;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  file.close();
  *this = FromText(bytes);
  return true;
}

AnsiString AutoexecFile::text() const {
  AnsiString out;
  for (const AnsiString& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

bool AutoexecFile::save(const XString& path) const {
  File target(path);
  std::optional<Directory> folder = target.parentDirectory();
  if (!folder) return false;
  // The new text goes into a file of its own beside the old one first.
  std::optional<File> fresh;
  for (int n = 0; !fresh || fresh->exists(); ++n) {
    if (n == 1000) return false;
    fresh.emplace(*folder, Format(u"autoexec.%d", n));
  }
  if (fresh->open(kFileWrite) != 0) return false;
  AnsiString bytes = text();
  bool written = bytes.empty() || fresh->write(bytes.data(), static_cast<uint32_t>(bytes.size())) == 0;
  written = fresh->flush() == 0 && written;
  bool closed = fresh->close() == 0;
  if (written && closed && fresh->moveTo(target) == 0) return true;
  fresh->remove();
  return false;
}

std::optional<size_t> AutoexecFile::PathValueStart(const AnsiString& line) {
  size_t at = 0;
  while (at < line.size() && (IsBlank(line[at]) || line[at] == '@')) ++at;
  if (!WordAt(line, at, "SET")) return std::nullopt;
  at += 3;
  size_t blanks = at;
  while (at < line.size() && IsBlank(line[at])) ++at;
  if (at == blanks) return std::nullopt;
  if (!WordAt(line, at, "PATH=")) return std::nullopt;
  return at + 5;
}

std::optional<size_t> AutoexecFile::lastPathLine() const {
  for (size_t i = lines_.size(); i-- > 0;) {
    if (PathValueStart(lines_[i])) return i;
  }
  return std::nullopt;
}

void AutoexecFile::addPathLine(const AnsiString& oemFolder) {
  AnsiString line = "SET PATH=\"" + oemFolder + "\";\"%PATH%\"";
  std::optional<size_t> last = lastPathLine();
  size_t at = last ? *last + 1 : lines_.size();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
}

bool AutoexecFile::removeFolder(const AnsiString& oemFolder) {
  const AnsiString quoted = "\"" + oemFolder + "\"";
  bool changed = false;
  for (size_t i = 0; i < lines_.size();) {
    std::optional<size_t> start = PathValueStart(lines_[i]);
    if (!start) {
      ++i;
      continue;
    }
    AnsiString value = lines_[i].substr(*start);
    bool cut = CutEntry(value, quoted, CodePage::kOem);
    cut = CutEntry(value, oemFolder, CodePage::kOem) || cut;
    if (SameTextIgnoringCase(value, "\"%PATH%\"", CodePage::kOem)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
      continue;
    }
    if (cut) {
      lines_[i] = lines_[i].substr(0, *start) + value;
      changed = true;
    }
    ++i;
  }
  return changed;
}

// ---- Environment

Environment::Environment() : system_(SystemEnvironment()) {}

Environment::Environment(EnvironmentSystem& system) : system_(system) {}

std::optional<TextRange> Environment::FindPathEntry(const AnsiString& entry, const AnsiString& value,
                                                    CodePage page) {
  CORV_ASSERT(!entry.empty());
  const size_t n = entry.size();
  const size_t m = value.size();
  if (m < n) return std::nullopt;
  auto sameAt = [&](size_t at) { return SameTextIgnoringCase(value.substr(at, n), entry, page); };
  if (m == n) {
    if (sameAt(0)) return TextRange{0, n};
    return std::nullopt;
  }
  if (value[n] == kSeparator && sameAt(0)) return TextRange{0, n + 1};
  if (value[m - n - 1] == kSeparator && sameAt(m - n)) return TextRange{m - n - 1, n + 1};
  for (size_t at = 1; at + n < m; ++at) {
    if (value[at - 1] == kSeparator && value[at + n] == kSeparator && sameAt(at)) return TextRange{at, n + 1};
  }
  return std::nullopt;
}

int Environment::AddToPath(const XString& folder, bool personal, bool* restart, bool* added) {
  CORV_ASSERT(restart != nullptr);
  *restart = false;
  bool changed = false;
  if (!added) added = &changed;
  *added = false;
  try {
    if (system_.isWindowsNT()) return addToRegistry(ToAnsi(folder), personal, added);
    int result = addToAutoexec(ToOem(folder), restart);
    *added = result == 0;
    return result;
  } catch (const FatalError&) {
    return 1;  // a folder the code page cannot take
  }
}

int Environment::addToRegistry(const AnsiString& folder, bool personal, bool* added) {
  std::unique_ptr<EnvironmentKey> key = system_.openKey(personal);
  if (!key) return 1;
  std::optional<PathValue> old = key->readPath();
  if (old && FindPathEntry(folder, old->text, CodePage::kAnsi)) return 0;
  PathValue value;
  if (old) {
    value.text = folder + kSeparator + old->text;
    value.expandable = old->expandable;
  } else {
    value.text = folder;
    value.expandable = true;
  }
  bool written = value.text.empty() ? key->deletePath() : key->writePath(value);
  key.reset();
  if (!written) return 1;
  *added = true;
  system_.broadcastChange();
  return 0;
}

int Environment::addToAutoexec(const AnsiString& folder, bool* restart) {
  OptString path = system_.autoexecPath();
  if (!path) return 1;
  AutoexecFile file;
  if (!file.load(*path)) return 1;
  file.addPathLine(folder);
  if (!file.save(*path)) return 1;
  *restart = true;
  return 0;
}

int Environment::RemoveFromPath(const XString& folder) {
  try {
    if (!system_.isWindowsNT()) return removeFromAutoexec(ToOem(folder));
    AnsiString ansi = ToAnsi(folder);
    bool personal = removeFromRegistry(ansi, true);
    bool common = removeFromRegistry(ansi, false);
    try {
      removeFromAutoexec(ToOem(folder));
    } catch (const FatalError&) {
      // Its outcome does not count on NT.
    }
    return personal || common ? 0 : 1;
  } catch (const FatalError&) {
    return 1;  // a folder the code page cannot take
  }
}

bool Environment::HoldsPathEntry(const XString& folder) {
  try {
    if (!system_.isWindowsNT() || folder.empty()) return false;
    AnsiString ansi = ToAnsi(folder);
    for (bool personal : {true, false}) {
      std::unique_ptr<EnvironmentKey> key = system_.openKey(personal);
      std::optional<PathValue> value = key ? key->readPath() : std::nullopt;
      if (value && FindPathEntry(ansi, value->text, CodePage::kAnsi)) return true;
    }
  } catch (const FatalError&) {
    // a folder the code page cannot take is on no PATH
  }
  return false;
}

bool Environment::removeFromRegistry(const AnsiString& folder, bool personal) {
  std::unique_ptr<EnvironmentKey> key = system_.openKey(personal);
  if (!key) return false;
  std::optional<PathValue> value = key->readPath();
  if (!value || !CutEntry(value->text, folder, CodePage::kAnsi)) return false;
  bool written = value->text.empty() ? key->deletePath() : key->writePath(*value);
  key.reset();
  if (!written) return false;
  system_.broadcastChange();
  return true;
}

int Environment::removeFromAutoexec(const AnsiString& folder) {
  OptString path = system_.autoexecPath();
  if (!path) return 1;
  // Without a file there is nothing to remove; writing one would leave an
  // empty "autoexec.bat" behind on a system that had none.
  if (!File(*path).exists()) return 0;
  AutoexecFile file;
  if (!file.load(*path)) return 1;
  // Rewriting a file that does not hold the folder would still change it
  // (its line ends, a Ctrl-Z at its end).
  if (!file.removeFolder(folder)) return 0;
  return file.save(*path) ? 0 : 1;
}

}  // namespace corv

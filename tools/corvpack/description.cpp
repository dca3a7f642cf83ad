#include "description.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "textfile.h"

namespace corv::pack {

namespace fs = std::filesystem;

std::string Diagnostic::text() const {
  std::ostringstream out;
  out << file;
  if (line > 0) {
    out << ':' << line;
    if (column > 0) out << ':' << column;
  }
  out << (warning ? ": warning: " : ": error: ");
  if (!key.empty()) out << key << ": ";
  out << message;
  return out.str();
}

namespace {

std::string Join(const std::vector<Diagnostic>& problems) {
  std::string all;
  for (const Diagnostic& d : problems) {
    if (!all.empty()) all += '\n';
    all += d.text();
  }
  return all;
}

}  // namespace

// What a component of a Windows file name cannot be or hold.
std::string WindowsNameProblem(const std::string& component) {
  for (unsigned char c : component) {
    if (c < 0x20) return "holds a control character";
    if (std::string("<>:\"\\|?*").find(static_cast<char>(c)) != std::string::npos) {
      return std::string("holds \"") + static_cast<char>(c) + "\", which Windows file names cannot";
    }
  }
  if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
    return "ends with a dot or a blank, which Windows drops";
  }
  if (!IsContainedRelativePath(FromUtf8(component))) return "is a name Windows reserves for a device";
  if (ToUtf8(FromUtf8(component)) != component) return "is not valid UTF-8";
  return std::string();
}

bool IsWithin(const fs::path& path, const fs::path& folder) {
  if (folder.empty()) return false;
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (p == path.end() || *f != *p) return false;
  }
  return true;
}

DescriptionError::DescriptionError(std::vector<Diagnostic> problems)
    : std::runtime_error(Join(problems)), problems_(std::move(problems)) {}

int Description::lineOf(const std::string& key) const {
  for (const auto& [k, line] : keyLines) {
    if (k == key) return line;
  }
  return 0;
}

namespace {

// A bitmap file starts with "BM"; a missing file is reported elsewhere.
bool IsWindowsBitmap(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {};
  return !in || (in.read(magic, 2) && magic[0] == 'B' && magic[1] == 'M');
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The known name closest to `name`, if it is close enough to be a typo.
std::string Closest(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, name.size() / 3) + 1;
  for (const std::string& k : known) {
    size_t d = EditDistance(name, k);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  return best;
}

const char* TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date-time";
    default: return "nothing";
  }
}

const std::string kOutside =
    "lies outside the description's folder (pass --allow-outside to pack it all the same): ";

// Windows-style relative path: "/" becomes "\".
XString WindowsPath(const std::string& utf8) {
  XString s = FromUtf8(utf8);
  std::replace(s.begin(), s.end(), u'/', u'\\');
  return s;
}

struct Choice {
  const char* name;
  int value;
};

// Reads the whole description, collecting problems instead of stopping at
// the first one.
class Reader {
public:
  Reader(const fs::path& file, std::vector<Diagnostic>& problems, Description& out, bool allowOutside)
      : file_(file), base_(fs::absolute(file).parent_path()), problems_(problems), out_(out),
        allowOutside_(allowOutside) {}

  void error(const toml::node* at, const std::string& key, const std::string& message) {
    report(at ? at->source() : toml::source_region{}, key, message, false);
  }
  void warn(const toml::node* at, const std::string& key, const std::string& message) {
    report(at ? at->source() : toml::source_region{}, key, message, true);
  }
  void report(const toml::source_region& where, const std::string& key, const std::string& message,
              bool warning) {
    Diagnostic d;
    d.file = file_.string();
    d.line = static_cast<int>(where.begin.line);
    d.column = static_cast<int>(where.begin.column);
    d.key = key;
    d.message = message;
    d.warning = warning;
    (warning ? out_.warnings : problems_).push_back(std::move(d));
  }

  const fs::path& base() const { return base_; }
  Description& out() { return out_; }

  // A source of the packaging machine that the description names must lie
  // in the description's folder (links resolved), unless the vendor allows
  // otherwise: a description from elsewhere must not pack the machine's
  // other files into an installer.
  bool mayUse(const fs::path& source) const {
    if (allowOutside_) return true;
    std::error_code ec;
    const fs::path folder = fs::canonical(base_, ec);
    if (ec) return false;
    const fs::path target = fs::weakly_canonical(source, ec);
    return !ec && IsWithin(target, folder);
  }
  bool allowOutside() const { return allowOutside_; }

private:
  fs::path file_;
  fs::path base_;
  std::vector<Diagnostic>& problems_;
  Description& out_;
  bool allowOutside_;
};

// One table of the description: hands out its values by key, checks their
// types, and reports the keys nobody asked for.
class Section {
public:
  Section(Reader& reader, const toml::table* table, std::string path)
      : reader_(reader), table_(table), path_(std::move(path)) {}

  bool present() const { return table_ != nullptr; }
  const toml::table* table() const { return table_; }

  std::string keyPath(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }

  // The node of `key`, or null; the key counts as known either way.
  const toml::node* node(const std::string& key) {
    known_.push_back(key);
    if (!table_) return nullptr;
    const toml::node* n = table_->get(key);
    if (n) reader_.out().keyLines.emplace_back(keyPath(key), static_cast<int>(n->source().begin.line));
    return n;
  }

  void missing(const std::string& key) {
    reader_.error(table_, keyPath(key), "missing; this key is required");
  }

  void wrongType(const toml::node* n, const std::string& key, const char* expected) {
    reader_.error(n, keyPath(key), std::string("expected ") + expected + ", found " + TypeName(*n));
  }

  std::optional<std::string> string(const std::string& key, bool required = false) {
    const toml::node* n = node(key);
    if (!n) {
      if (required) missing(key);
      return std::nullopt;
    }
    if (auto v = n->value<std::string>()) {
      if (v->find('\0') != std::string::npos) {
        reader_.error(n, keyPath(key), "must not contain a NUL character");
        return std::nullopt;
      }
      return v;
    }
    wrongType(n, key, "a string");
    return std::nullopt;
  }

  // A string, or false for "leave it out of the record"; `fallback` when
  // the key is not given.
  OptString stringOrFalse(const std::string& key, const OptString& fallback) {
    const toml::node* n = node(key);
    if (!n) return fallback;
    if (const toml::value<bool>* b = n->as_boolean()) {
      if (!b->get()) return std::nullopt;
      reader_.error(n, keyPath(key), "expected a string or false, found true");
      return fallback;
    }
    if (auto v = n->value<std::string>()) {
      if (v->find('\0') == std::string::npos) return WindowsPath(*v);
      reader_.error(n, keyPath(key), "must not contain a NUL character");
      return fallback;
    }
    wrongType(n, key, "a string or false");
    return fallback;
  }

  // `value` of `key`, a text that install.log keeps one to a line: a line
  // break in it is refused (the installer would refuse the package).
  OptString oneLine(const std::string& key, OptString value) {
    if (value && !FitsOneLogLine(*value)) {
      reader_.error(table_ ? table_->get(key) : nullptr, keyPath(key),
                    "must not contain a line break (install.log keeps it on one line)");
      return std::nullopt;
    }
    return value;
  }

  // True when `limit`, the installer's for the text of `key`, is not
  // exceeded; otherwise reports it, `role` saying where the installer puts
  // the text ("as the product key").
  bool fits(const std::string& key, const TextLimit& limit, const std::string& role = std::string()) {
    if (!limit.exceeded()) return true;
    std::string message = role.empty() ? std::string() : role + ", it ";
    if (limit.keyName) {
      message += "holds a key name of " + std::to_string(limit.length) + " characters; the registry takes at most " +
                 std::to_string(limit.limit) + " characters between backslashes";
    } else {
      message += "is " + std::to_string(limit.length) + " characters long; install.log has room for at most " +
                 std::to_string(limit.limit) + " characters of it on its line";
    }
    reader_.error(table_ ? table_->get(key) : nullptr, keyPath(key), message);
    return false;
  }

  OptString text(const std::string& key, bool required = false) {
    auto v = string(key, required);
    if (!v) return std::nullopt;
    return FromUtf8(*v);
  }

  // A path relative to the destination (or another folder of the target
  // system), "/" written as "\".
  OptString name(const std::string& key, bool required = false) {
    auto v = string(key, required);
    if (!v) return std::nullopt;
    return WindowsPath(*v);
  }

  // A name that must stay inside its folder.
  OptString containedName(const std::string& key, const char* folder, bool required = false) {
    OptString v = name(key, required);
    if (v && (v->empty() || !IsContainedRelativePath(*v))) {
      reader_.error(table_->get(key), keyPath(key),
                    std::string("must be a relative path inside the ") + folder +
                        " (no drive, no leading separator, no \"..\", no device name)");
      return std::nullopt;
    }
    return v;
  }

  // True when every component of `value`, a name below a folder of the
  // target system, is a valid Windows file name, as the product's own files
  // must be; otherwise reports the first that is not. A trailing separator
  // names the folder itself.
  bool validComponents(const std::string& key, const XString& value) {
    for (size_t start = 0; start < value.size() || start == 0;) {
      const size_t end = std::min(value.find(u'\\', start), value.size());
      const std::string component = ToUtf8(value.substr(start, end - start));
      const std::string problem = component.empty() ? "is empty" : WindowsNameProblem(component);
      if (!problem.empty()) {
        reader_.error(table_ ? table_->get(key) : nullptr, keyPath(key),
                      "the component \"" + component + "\" " + problem);
        return false;
      }
      start = end + 1;
    }
    return true;
  }

  // A name below the destination (or another folder named by `folder`).
  OptString targetName(const std::string& key, const char* folder, bool required = false) {
    OptString v = containedName(key, folder, required);
    if (v && !validComponents(key, *v)) return std::nullopt;
    return v;
  }

  bool boolean(const std::string& key, bool fallback) {
    const toml::node* n = node(key);
    if (!n) return fallback;
    // Only a boolean: an integer or a string is no answer to yes or no.
    if (const toml::value<bool>* v = n->as_boolean()) return v->get();
    wrongType(n, key, "true or false");
    return fallback;
  }

  int64_t integer(const std::string& key, int64_t fallback, int64_t min, int64_t max) {
    const toml::node* n = node(key);
    if (!n) return fallback;
    if (!n->is_integer()) {
      wrongType(n, key, "an integer");
      return fallback;
    }
    int64_t v = *n->value<int64_t>();
    if (v < min || v > max) {
      reader_.error(n, keyPath(key),
                    std::to_string(v) + " is out of range " + std::to_string(min) + " to " + std::to_string(max));
      return fallback;
    }
    return v;
  }

  int choice(const std::string& key, int fallback, std::initializer_list<Choice> choices) {
    auto v = string(key);
    if (!v) return fallback;
    std::vector<std::string> names;
    for (const Choice& c : choices) {
      if (*v == c.name) return c.value;
      names.emplace_back(c.name);
    }
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) {
      list += i == 0 ? "" : (i + 1 == names.size() ? " or " : ", ");
      list += names[i];
    }
    std::string message = "unknown value \"" + *v + "\"; expected " + list;
    std::string close = Closest(*v, names);
    if (!close.empty()) message += " (did you mean \"" + close + "\"?)";
    reader_.error(table_->get(key), keyPath(key), message);
    return fallback;
  }

  std::vector<std::string> stringArray(const std::string& key) {
    std::vector<std::string> out;
    const toml::node* n = node(key);
    if (!n) return out;
    const toml::array* a = n->as_array();
    if (!a) {
      wrongType(n, key, "an array of strings");
      return out;
    }
    for (size_t i = 0; i < a->size(); ++i) {
      const toml::node& item = *a->get(i);
      if (auto s = item.value<std::string>()) {
        out.push_back(*s);
      } else {
        reader_.error(&item, keyPath(key) + "[" + std::to_string(i) + "]",
                      std::string("expected a string, found ") + TypeName(item));
      }
    }
    return out;
  }

  // A file of the packaging machine, relative to the description's folder;
  // it must exist.
  std::optional<fs::path> sourceFile(const std::string& key, bool required = false) {
    auto v = string(key, required);
    if (!v) return std::nullopt;
    fs::path p = reader_.base() / fs::u8path(*v);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) {
      reader_.error(table_->get(key), keyPath(key), "no such file: " + p.string());
      return std::nullopt;
    }
    if (!reader_.mayUse(p)) {
      reader_.error(table_->get(key), keyPath(key), kOutside + p.string());
      return std::nullopt;
    }
    return p.lexically_normal();
  }

  // Tables of an array of tables ([[shortcut]]), each with its path.
  std::vector<Section> tables(const std::string& key) {
    std::vector<Section> out;
    const toml::node* n = node(key);
    if (!n) return out;
    const toml::array* a = n->as_array();
    if (!a) {
      if (n->is_table()) {
        reader_.error(n, keyPath(key), "write [[" + keyPath(key) + "]] (an array of tables), not [" + keyPath(key) + "]");
      } else {
        wrongType(n, key, "an array of tables");
      }
      return out;
    }
    for (size_t i = 0; i < a->size(); ++i) {
      const toml::node& item = *a->get(i);
      std::string path = keyPath(key) + "[" + std::to_string(i) + "]";
      if (const toml::table* t = item.as_table()) {
        out.emplace_back(reader_, t, path);
      } else {
        reader_.error(&item, path, std::string("expected a table, found ") + TypeName(item));
      }
    }
    return out;
  }

  Section subsection(const std::string& key) {
    const toml::node* n = node(key);
    if (!n) return Section(reader_, nullptr, keyPath(key));
    if (const toml::table* t = n->as_table()) return Section(reader_, t, keyPath(key));
    wrongType(n, key, "a table");
    return Section(reader_, nullptr, keyPath(key));
  }

  // Reports every key of the table that was not asked for.
  void finish() {
    if (!table_) return;
    for (const auto& [k, v] : *table_) {
      std::string name(k.str());
      if (std::find(known_.begin(), known_.end(), name) != known_.end()) continue;
      std::string message = path_.empty() ? "unknown section or key" : "unknown key";
      std::string close = Closest(name, known_);
      if (!close.empty()) message += " (did you mean \"" + close + "\"?)";
      reader_.report(k.source().begin.line ? k.source() : v.source(), keyPath(name), message, false);
    }
  }

private:
  Reader& reader_;
  const toml::table* table_;
  std::string path_;
  std::vector<std::string> known_;
};

// The keys of [package] that go into the installer's version resource and
// icon; the version and publisher are the uninstall entry's too.
void ReadIdentity(Reader& reader, Section& s, const InstallRecord& r, Identity& id) {
  id.version = s.oneLine("version", s.text("version"));
  if (id.version) {
    if (auto numbers = ParseVersionNumbers(ToUtf8(*id.version))) {
      id.versionNumbers = *numbers;
    } else {
      reader.error(s.table()->get("version"), "package.version",
                   "expected one to four numbers from 0 to 65535 separated by dots, such as \"2.1.0\"");
      id.version = std::nullopt;
    }
  }
  // The version resource measures itself in 16 bits: with these limits
  // every text fits.
  constexpr size_t kMaxText = 4096;
  auto limited = [&](const std::string& key, OptString value) {
    if (!value || value->size() <= kMaxText) return value;
    reader.error(s.table()->get(key), s.keyPath(key),
                 "is " + std::to_string(value->size()) + " characters long; the version resource takes at most " +
                     std::to_string(kMaxText));
    return OptString();
  };
  id.publisher = limited("publisher", s.oneLine("publisher", s.text("publisher")));
  id.description = limited("description", s.text("description"));
  id.copyright = limited("copyright", s.text("copyright"));
  id.productName = r.productName.value_or(r.packageName.value_or(XString()));
  if (auto icon = s.sourceFile("icon")) {
    try {
      id.icon = ReadIconFile(*icon);
    } catch (const IconError& e) {
      reader.error(s.table()->get("icon"), "package.icon", icon->string() + ": " + e.what());
    }
  }
}

void ReadPackage(Reader& reader, Section& root, InstallRecord& r) {
  Section s = root.subsection("package");
  if (!s.present()) {
    reader.error(nullptr, "package", "missing; the [package] section with its name is required");
  }
  r.packageName = s.oneLine("name", s.text("name", s.present()));
  if (r.packageName && r.packageName->empty()) {
    reader.error(s.table()->get("name"), "package.name", "must not be empty");
  }
  r.productName = s.oneLine("product", s.text("product"));
  r.kind = static_cast<uint8_t>(
      s.choice("kind", kPackageInstallation, {{"installation", kPackageInstallation}, {"update", kPackageUpdate}}));
  r.productKey = s.oneLine("product-key", s.text("product-key"));
  // The installer writes the product name (or the package name for it) and
  // the product key (by default the package name) into install.log and the
  // registry; one problem of a key is enough.
  bool nameReported = false;
  if (r.productName) {
    s.fits("product", ProductNameLimit(*r.productName));
  } else if (r.packageName) {
    nameReported = !s.fits("name", ProductNameLimit(*r.packageName));
  }
  if (r.productKey) {
    s.fits("product-key", ProductKeyLimit(*r.productKey));
  } else if (r.packageName && !nameReported) {
    s.fits("name", ProductKeyLimit(*r.packageName), "as the product key");
  }
  if (!r.productKey) r.productKey = r.packageName;
  r.language = static_cast<uint8_t>(s.choice("language", 1,
                                             {{"auto", 1},
                                              {"english", 2},
                                              {"russian", 3},
                                              {"french", 4},
                                              {"german", 5},
                                              {"japanese", 6}}));
  r.overwriteMode = static_cast<uint8_t>(
      s.choice("overwrite", 4, {{"always", 1}, {"never", 2}, {"older", 3}, {"ask", 4}}));
  r.warnPreviousVersion = s.boolean("warn-previous-version", false);
  if (auto licence = s.sourceFile("licence")) {
    std::string problem;
    if (auto text = ReadTextFile(*licence, problem)) {
      r.licenseText = ToCrLf(*text);
    } else {
      reader.error(s.table()->get("licence"), "package.licence", problem);
    }
  }
  Description& out = reader.out();
  out.wizardBitmap = s.sourceFile("wizard-bitmap");
  if (out.wizardBitmap && !IsWindowsBitmap(*out.wizardBitmap)) {
    // The installer loads the picture as a bitmap file and shows nothing
    // for anything else.
    reader.error(s.table()->get("wizard-bitmap"), "package.wizard-bitmap",
                 "not a Windows bitmap (.bmp) file; the installer shows no other picture");
  }
  out.hookLibrary = s.sourceFile("hook-library");
  out.uiLibrary = s.sourceFile("ui-library");
  if (out.wizardBitmap) r.wizardBitmap = FromUtf8(out.wizardBitmap->filename().u8string());
  if (out.hookLibrary) r.hookLibrary = FromUtf8(out.hookLibrary->filename().u8string());
  out.builtinUninstaller = s.boolean("builtin-uninstaller", false);
  r.uninstallerName = s.oneLine("uninstaller", s.targetName("uninstaller", "destination"));
  if (out.builtinUninstaller && !r.uninstallerName) r.uninstallerName = XString(kBuiltinUninstallerName);
  r.recordedFile = s.oneLine("recorded-file", s.targetName("recorded-file", "destination"));
  r.pathEntry = s.oneLine("path-entry", s.targetName("path-entry", "destination"));
  ReadIdentity(reader, s, r, out.identity);
  s.finish();
}

void ReadUninstallEntry(Section& root, const Identity& identity, InstallRecord& r) {
  Section s = root.subsection("uninstall-entry");
  RecordEntryDetails& d = r.entryDetails;
  d.displayIcon = s.oneLine("icon", s.targetName("icon", "destination"));
  // The package's version and publisher unless the entry says otherwise.
  d.displayVersion = s.oneLine("version", s.text("version"));
  if (!d.displayVersion) d.displayVersion = identity.version;
  d.publisher = s.oneLine("publisher", s.text("publisher"));
  if (!d.publisher) d.publisher = identity.publisher;
  d.estimatedSize = static_cast<uint32_t>(s.integer("estimated-size", 0, 0, 0xFFFFFFFFll));
  s.finish();
}

void ReadDestination(Section& root, InstallRecord& r) {
  Section s = root.subsection("destination");
  r.destinationBase = static_cast<uint8_t>(s.choice(
      "base", kBaseProgramFiles,
      {{"program-files", kBaseProgramFiles}, {"system-drive", kBaseSystemDrive}, {"path", kBasePath}}));
  r.defaultDestination = s.oneLine("folder", s.stringOrFalse("folder", r.packageName));
  r.destinationFixed = s.boolean("fixed", false);
  r.defaultProgramFolder = s.oneLine("program-folder", s.stringOrFalse("program-folder", r.packageName));
  // Made below the Start menu's Programs folder.
  if (r.defaultProgramFolder && !s.validComponents("program-folder", *r.defaultProgramFolder)) {
    r.defaultProgramFolder = std::nullopt;
  }
  s.finish();
}

void ReadFiles(Reader& reader, Section& root, const std::optional<fs::path>& productFolder) {
  Section s = root.subsection("files");
  Description& out = reader.out();
  auto source = s.string("source");
  out.exclude = s.stringArray("exclude");
  s.finish();
  if (productFolder) {
    out.productFolder = fs::absolute(*productFolder);
  } else if (source) {
    out.productFolder = reader.base() / fs::u8path(*source);
    if (!reader.mayUse(out.productFolder)) {
      reader.error(s.table()->get("source"), "files.source", kOutside + out.productFolder.string());
    }
  } else {
    reader.error(s.table(), "files.source",
                 "missing; name the product folder here or with --product");
    return;
  }
  std::error_code ec;
  if (!fs::is_directory(out.productFolder, ec)) {
    reader.error(productFolder ? nullptr : s.table()->get("source"), productFolder ? "" : "files.source",
                 "no such folder: " + out.productFolder.string());
  }
  out.productFolder = out.productFolder.lexically_normal();
  if (!reader.allowOutside()) {
    out.packableFolders.push_back(fs::canonical(reader.base(), ec));
    if (productFolder) out.packableFolders.push_back(fs::canonical(out.productFolder, ec));
  }
}

void ReadProgram(Section& root, const char* key, OptString& program, OptString& arguments) {
  Section s = root.subsection(key);
  if (!s.present()) return;
  program = s.targetName("program", "destination", true);
  // The installer needs both strings of a program; no arguments is "".
  arguments = s.text("arguments").value_or(XString());
  if (!program) arguments = std::nullopt;
  s.finish();
}

void ReadPrimary(Reader& reader, Section& root, InstallRecord& r) {
  Section s = root.subsection("primary");
  r.primaryName = s.text("name");
  for (const std::string& m : s.stringArray("markers")) r.primaryMarkerFiles.push_back(WindowsPath(m));
  r.primaryJreFile = s.name("jre-file");
  s.finish();
  if (r.kind == kPackageUpdate && !r.primaryName) {
    reader.error(s.present() ? s.table() : nullptr, "primary.name",
                 "missing; an update package names the product it updates");
  }
}

void ReadJre(Reader& reader, Section& root, InstallRecord& r) {
  Section s = root.subsection("jre");
  r.noJre = s.present() ? 0 : 1;
  if (!s.present()) return;
  r.jre.version = s.text("version", true).value_or(XString());
  r.jre.value = static_cast<uint32_t>(s.integer("value", 0, 0, 0xFFFFFFFFll));
  for (const std::string& n : s.stringArray("names")) r.jre.names.push_back(FromUtf8(n));
  for (Section& g : s.tables("layout")) {
    RecordJreGroup group;
    group.flag = static_cast<uint8_t>(g.integer("flag", 0, 0, 255));
    for (Section& f : g.tables("files")) {
      RecordJreCheck check;
      check.path = f.name("path", true).value_or(XString());
      bool absent = f.boolean("absent", false);
      const toml::node* sizeNode = f.table()->get("size");
      int64_t size = f.integer("size", 0, 0, INT64_MAX);
      if (absent && sizeNode) {
        reader.error(sizeNode, f.keyPath("size"), "a file that must be absent has no size");
      } else if (!absent && !sizeNode) {
        f.missing("size");
      }
      check.size = absent ? -1 : size;
      f.finish();
      group.checks.push_back(std::move(check));
    }
    g.finish();
    r.jre.groups.push_back(std::move(group));
  }
  if (r.jre.groups.empty()) {
    reader.warn(s.table(), "jre.layout", "no layout given: every folder counts as a suitable JRE");
  }
  s.finish();
}

void ReadShortcuts(Section& root, InstallRecord& r) {
  for (Section& s : root.tables("shortcut")) {
    ShortcutEntry sc;
    sc.location = static_cast<uint32_t>(s.choice("location", kLocationProgramFolder,
                                                 {{"program-folder", kLocationProgramFolder},
                                                  {"desktop", kLocationDesktop},
                                                  {"start-menu", kLocationStartMenu},
                                                  {"startup", kLocationStartup}}));
    sc.name = s.oneLine("name", s.containedName("name", "shortcut folder", true)).value_or(XString());
    sc.target = s.name("target", true).value_or(XString());
    sc.arguments = s.text("arguments").value_or(XString());
    // By default the program starts in its own folder.
    size_t slash = sc.target.rfind(u'\\');
    XString folder = slash == XString::npos ? XString() : sc.target.substr(0, slash);
    sc.workingFolder = s.name("working-folder").value_or(folder);
    sc.iconFile = s.name("icon");
    sc.iconIndex = static_cast<int32_t>(s.integer("icon-index", 0, INT32_MIN, INT32_MAX));
    s.finish();
    r.shortcuts.push_back(std::move(sc));
  }
}

void ReadAssociations(Reader& reader, Section& root, InstallRecord& r) {
  for (Section& s : root.tables("association")) {
    AssociationEntry a;
    a.extension = s.oneLine("extension", s.text("extension", true)).value_or(XString());
    if (!a.extension.empty() && a.extension[0] == u'.') {
      reader.error(s.table()->get("extension"), s.keyPath("extension"),
                   "write the extension without its dot (\"" + ToUtf8(a.extension.substr(1)) + "\")");
    }
    s.fits("extension", FileTypeLimit(r.packageName.value_or(XString()), a.extension),
           "in the file type key \"<package name>.<extension>\"");
    a.program = s.name("program", true).value_or(XString());
    a.typeDescription = s.oneLine("description", s.text("description", true)).value_or(XString());
    a.label = s.text("label").value_or(a.typeDescription);
    a.arguments = s.text("arguments").value_or(u"\"%1\"");
    a.selected = s.boolean("selected", true);
    s.finish();
    r.associations.push_back(std::move(a));
  }
}

void ReadServices(Section& root, InstallRecord& r) {
  for (Section& s : root.tables("service")) {
    ServiceEntry sv;
    sv.program = s.name("executable", true).value_or(XString());
    // The description is the service's name unless given, the display name.
    sv.displayName = s.text("display-name", true).value_or(XString());
    sv.description = s.oneLine(s.table()->get("description") ? "description" : "display-name",
                               s.text("description").value_or(sv.displayName))
                         .value_or(XString());
    sv.startKind = static_cast<uint8_t>(s.choice(
        "start", ServiceEntry::kAutomatic,
        {{"automatic", ServiceEntry::kAutomatic}, {"on-demand", ServiceEntry::kOnDemand}, {"disabled", ServiceEntry::kDisabled}}));
    sv.accountKind = static_cast<uint8_t>(
        s.choice("account", ServiceEntry::kLocalSystem, {{"system", ServiceEntry::kLocalSystem}, {"user", ServiceEntry::kUserAccount}}));
    sv.interactive = s.boolean("interactive", false);
    for (const std::string& d : s.stringArray("dependencies")) sv.dependencies.push_back(FromUtf8(d));
    s.finish();
    r.services.push_back(std::move(sv));
  }
}

void ReadBind(Section& root, Description& out, InstallRecord& r) {
  Section s = root.subsection("bind");
  if (!s.present()) return;
  out.bindScript = s.sourceFile("script", true);
  r.bindExecutables = true;
  s.finish();
}

// Checks that need the whole description.
void CheckConsistency(Reader& reader, Section& root, const InstallRecord& r) {
  bool programFolderShortcut = false;
  for (const ShortcutEntry& s : r.shortcuts) programFolderShortcut |= s.location == kLocationProgramFolder;
  if (programFolderShortcut && !r.defaultProgramFolder) {
    reader.error(root.table()->get("destination"), "destination.program-folder",
                 "a shortcut goes to the program folder, so the package needs one");
  }
  std::set<XString> extensions;
  for (size_t i = 0; i < r.associations.size(); ++i) {
    XString lower;
    for (XChar c : r.associations[i].extension) lower += c >= u'A' && c <= u'Z' ? static_cast<XChar>(c + 32) : c;
    if (!extensions.insert(lower).second) {
      reader.error(nullptr, "association[" + std::to_string(i) + "].extension",
                   "\"" + ToUtf8(r.associations[i].extension) + "\" is associated twice");
    }
  }
}

}  // namespace

Description ParseDescription(const std::string& text, const fs::path& file,
                             const std::optional<fs::path>& productFolder, bool allowOutside) {
  std::vector<Diagnostic> problems;
  Description out;
  out.file = file;
  toml::table doc;
  try {
    doc = toml::parse(text, file.string());
  } catch (const toml::parse_error& e) {
    Diagnostic d;
    d.file = file.string();
    d.line = static_cast<int>(e.source().begin.line);
    d.column = static_cast<int>(e.source().begin.column);
    d.message = std::string(e.description());
    problems.push_back(std::move(d));
    throw DescriptionError(std::move(problems));
  }
  Reader reader(file, problems, out, allowOutside);
  Section root(reader, &doc, "");
  InstallRecord& r = out.record;
  ReadPackage(reader, root, r);
  ReadDestination(root, r);
  ReadUninstallEntry(root, out.identity, r);
  ReadFiles(reader, root, productFolder);
  ReadProgram(root, "install-run", r.installRunProgram, r.installRunArguments);
  ReadProgram(root, "after-run", r.afterRunProgram, r.afterRunArguments);
  ReadPrimary(reader, root, r);
  ReadJre(reader, root, r);
  ReadShortcuts(root, r);
  ReadAssociations(reader, root, r);
  ReadServices(root, r);
  ReadBind(root, out, r);
  root.finish();
  if (problems.empty()) CheckConsistency(reader, root, r);
  if (!problems.empty()) {
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    throw DescriptionError(std::move(problems));
  }
  return out;
}

Description ReadDescription(const fs::path& file, const std::optional<fs::path>& productFolder,
                            bool allowOutside) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Diagnostic d;
    d.file = file.string();
    d.message = "cannot read the file";
    throw DescriptionError({d});
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseDescription(text.str(), file, productFolder, allowOutside);
}

}  // namespace corv::pack

#include "description.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
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

const Description::KeyPlace* Description::placeOf(const std::string& key) const {
  for (const KeyPlace& p : keyPlaces) {
    if (p.key == key) return &p;
  }
  return nullptr;
}

Diagnostic Description::at(const std::string& key, const std::string& message, bool warning) const {
  Diagnostic d;
  d.file = file.string();
  if (const KeyPlace* p = placeOf(key)) {
    d.line = p->line;
    d.column = p->column;
  }
  d.key = key;
  d.message = message;
  d.warning = warning;
  return d;
}

Diagnostic RecordProblem(const Description& d, const RecordFault& fault) {
  // Values the description did not give come from another key.
  static const struct {
    const char* field;  // the end of the field's name
    const char* key;    // what replaces it
    const char* role;   // what the other key's value became
  } kDefaults[] = {
      {"package.product-key", "package.name", "as the product key"},
      {"destination.folder", "package.name", "as the destination folder"},
      {"destination.program-folder", "package.name", "as the program folder"},
      {".working-folder", ".target", "as the working folder"},
      {".description", ".display-name", "as the service's description"},
  };
  std::string key = fault.field;
  std::string message = fault.problem;
  for (const auto& f : kDefaults) {
    const std::string end = f.field;
    if (d.placeOf(key) || key.size() < end.size() || key.compare(key.size() - end.size(), end.size(), end) != 0) {
      continue;
    }
    key = key.substr(0, key.size() - end.size()) + f.key;
    message = std::string(f.role) + " (\"" + ToUtf8(fault.value) + "\"), it " + message;
  }
  // An item of an array ("primary.markers[1]") is shown at the array.
  const size_t bracket = key.rfind('[');
  if (!d.placeOf(key) && bracket != std::string::npos && key.back() == ']') {
    Diagnostic problem = d.at(key.substr(0, bracket), "\"" + ToUtf8(fault.value) + "\": " + message);
    problem.key = key;
    return problem;
  }
  return d.at(key, message);
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
  // A name cut short ("uninstall" for "uninstall-entry").
  for (const std::string& k : known) {
    if (best.empty() && name.size() >= 3 && k.compare(0, name.size(), name) == 0) best = k;
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
    if (n) {
      reader_.out().keyPlaces.push_back({keyPath(key), static_cast<int>(n->source().begin.line),
                                         static_cast<int>(n->source().begin.column)});
    }
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

  // One of `choices` by its name; `aliases` are other names of the same
  // values, suggested but not taken.
  int choice(const std::string& key, int fallback, std::initializer_list<Choice> choices,
             std::initializer_list<Choice> aliases = {}) {
    auto v = string(key);
    if (!v) return fallback;
    std::vector<std::string> names;
    for (const Choice& c : choices) {
      if (*v == c.name) return c.value;
      names.emplace_back(c.name);
    }
    std::string list;
    for (const Choice& c : choices) {
      list += list.empty() ? "" : (&c == choices.end() - 1 ? " or " : ", ");
      list += c.name;
    }
    std::string message = "unknown value \"" + *v + "\"; expected " + list;
    std::string close = Closest(*v, names);
    std::string lower = *v;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Choice& a : aliases) {
      for (const Choice& c : choices) {
        if (lower == a.name && c.value == a.value) close = c.name;
      }
    }
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
  // Both may become the uninstall entry's, which install.log keeps one to a line.
  auto oneLine = [&](const std::string& key) {
    OptString value = s.text(key);
    const std::string problem = value ? LineProblem(*value) : std::string();
    if (problem.empty()) return value;
    reader.error(s.table()->get(key), s.keyPath(key), problem);
    return OptString();
  };
  id.version = oneLine("version");
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
  id.publisher = limited("publisher", oneLine("publisher"));
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
  r.packageName = s.text("name", s.present());
  if (r.packageName && r.packageName->empty()) {
    reader.error(s.table()->get("name"), "package.name", "must not be empty");
  }
  r.productName = s.text("product");
  r.kind = static_cast<PackageKind>(
      s.choice("kind", kPackageInstallation, {{"installation", kPackageInstallation}, {"update", kPackageUpdate}}));
  r.productKey = s.text("product-key");
  if (!r.productKey) r.productKey = r.packageName;
  r.language = static_cast<LanguageCode>(
      s.choice("language", 1, {{"auto", 1}, {"english", 2}, {"russian", 3}, {"french", 4}, {"german", 5}, {"japanese", 6}},
               {{"en", 2}, {"ru", 3}, {"russkiy", 3}, {"\u0440\u0443\u0441\u0441\u043a\u0438\u0439", 3}, {"fr", 4},
                {"francais", 4}, {"fran\u00e7ais", 4}, {"de", 5}, {"deutsch", 5}, {"ja", 6}, {"nihongo", 6},
                {"\u65e5\u672c\u8a9e", 6}}));
  r.overwriteMode = static_cast<OverwritePolicy::Mode>(
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
  r.uninstallerName = s.name("uninstaller");
  if (out.builtinUninstaller && !r.uninstallerName) r.uninstallerName = XString(kBuiltinUninstallerName);
  // Ours removes the product without asking when given "/batch".
  r.entryDetails.quietUninstaller = out.builtinUninstaller && r.uninstallerName.has_value();
  r.recordedFile = s.name("recorded-file");
  r.pathEntry = s.name("path-entry");
  ReadIdentity(reader, s, r, out.identity);
  s.finish();
}

void ReadUninstallEntry(Section& root, const Identity& identity, InstallRecord& r) {
  Section s = root.subsection("uninstall-entry");
  RecordEntryDetails& d = r.entryDetails;
  d.displayIcon = s.name("icon");
  // The package's version and publisher unless the entry says otherwise.
  d.displayVersion = s.text("version");
  if (!d.displayVersion) d.displayVersion = identity.version;
  d.publisher = s.text("publisher");
  if (!d.publisher) d.publisher = identity.publisher;
  d.estimatedSize = static_cast<uint32_t>(s.integer("estimated-size", 0, 0, 0xFFFFFFFFll));
  s.finish();
}

void ReadDestination(Section& root, InstallRecord& r) {
  Section s = root.subsection("destination");
  r.destinationBase = static_cast<DestinationBase>(s.choice(
      "base", kBaseProgramFiles,
      {{"program-files", kBaseProgramFiles}, {"system-drive", kBaseSystemDrive}, {"path", kBasePath}}));
  r.defaultDestination = s.stringOrFalse("folder", r.packageName);
  r.destinationFixed = s.boolean("fixed", false);
  r.defaultProgramFolder = s.stringOrFalse("program-folder", r.packageName);
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
  program = s.name("program", true);
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
    sc.location = static_cast<ShortcutLocation>(s.choice("location", kLocationProgramFolder,
                                                         {{"program-folder", kLocationProgramFolder},
                                                          {"desktop", kLocationDesktop},
                                                          {"start-menu", kLocationStartMenu},
                                                          {"startup", kLocationStartup}}));
    sc.name = s.name("name", true).value_or(XString());
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
    a.extension = s.text("extension", true).value_or(XString());
    if (!a.extension.empty() && a.extension[0] == u'.') {
      reader.error(s.table()->get("extension"), s.keyPath("extension"),
                   "write the extension without its dot (\"" + ToUtf8(a.extension.substr(1)) + "\")");
    }
    a.program = s.name("program", true).value_or(XString());
    a.typeDescription = s.text("description", true).value_or(XString());
    a.label = s.text("label").value_or(a.typeDescription);
    a.arguments = s.text("arguments").value_or(u"\"%1\"");
    a.selected = s.boolean("selected", true);
    a.icon = s.name("icon");
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
    sv.description = s.text("description").value_or(sv.displayName);
    sv.startKind = static_cast<ServiceEntry::StartKind>(s.choice(
        "start", ServiceEntry::kAutomatic,
        {{"automatic", ServiceEntry::kAutomatic}, {"on-demand", ServiceEntry::kOnDemand}, {"disabled", ServiceEntry::kDisabled}}));
    sv.accountKind = static_cast<ServiceEntry::AccountKind>(
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

// Checks that need the whole description; then the installer's own checks
// of every value the record gets, each reported at its key unless that key
// has a problem already.
void CheckConsistency(Reader& reader, Section& root, const Description& d, std::vector<Diagnostic>& problems) {
  const InstallRecord& r = d.record;
  bool programFolderShortcut = false;
  for (const ShortcutEntry& s : r.shortcuts) programFolderShortcut |= s.location == kLocationProgramFolder;
  if (problems.empty() && programFolderShortcut && !r.defaultProgramFolder) {
    reader.error(root.table()->get("destination"), "destination.program-folder",
                 "a shortcut goes to the program folder, so the package needs one");
  }
  std::set<std::string> reported;
  for (const Diagnostic& p : problems) reported.insert(p.key);
  for (const RecordFault& fault : FindRecordFaults(r, RecordChecks::kPackager)) {
    Diagnostic problem = RecordProblem(d, fault);
    if (reported.insert(problem.key).second) problems.push_back(std::move(problem));
  }
}

// A syntax error of the TOML parser. A string left open is said so, at its
// opening quote, instead of in the parser's words about what follows it.
Diagnostic SyntaxProblem(const toml::parse_error& e, const std::string& text, const fs::path& file) {
  Diagnostic d;
  d.file = file.string();
  d.line = static_cast<int>(e.source().begin.line);
  d.column = static_cast<int>(e.source().begin.column);
  d.message = std::string(e.description());
  const bool openString = d.message.find("while parsing") != std::string::npos &&
                          d.message.find("string") != std::string::npos &&
                          (d.message.find("end-of-file") != std::string::npos ||
                           d.message.find("control characters") != std::string::npos);
  if (!openString) return d;
  std::istringstream lines(text);
  std::string line;
  for (int i = 0; i < d.line && std::getline(lines, line);) ++i;
  const size_t quote = line.find_first_of("\"'");
  if (quote != std::string::npos && static_cast<int>(quote) < d.column) d.column = static_cast<int>(quote) + 1;
  d.message = "unterminated string: end it with the quote it begins with, on the same line "
              "(a text of several lines goes between triple quotes)";
  return d;
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
    problems.push_back(SyntaxProblem(e, text, file));
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
  CheckConsistency(reader, root, out, problems);
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
    d.message = std::string("cannot read the file: ") + std::strerror(errno);
    throw DescriptionError({d});
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseDescription(text.str(), file, productFolder, allowOutside);
}

}  // namespace corv::pack

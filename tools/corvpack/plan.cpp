#include "plan.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "recordwriter.h"
#include "textfile.h"
#include "xbind/bindscript.h"

namespace corv::pack {

namespace fs = std::filesystem;

namespace {

Diagnostic FileProblem(const fs::path& path, const std::string& message) {
  Diagnostic d;
  d.file = path.string();
  d.message = message;
  return d;
}

// The bind script read as the installer reads it: a statement it refuses is
// an error at its line and column (counted from 1 here, from 0 in the
// installer's message), and so is a script without the roots "Root" and
// "JRE", which the installer needs to bind anything.
std::optional<BindScript> CheckBindScript(const fs::path& path, const XString& text,
                                          std::vector<Diagnostic>& problems) {
  try {
    BindScript script = BindScript::Parse(FromUtf8(path.filename().string()), text);
    for (const char16_t* root : {u"Root", u"JRE"}) {
      if (!script.findRoot(root)) {
        problems.push_back(FileProblem(path, "the installer cannot bind without a root \"" + ToUtf8(root) +
                                                 "\"; add a line \"ROOT " + ToUtf8(root) + "\""));
      }
    }
    return script;
  } catch (const BindScriptError& e) {
    Diagnostic d = FileProblem(path, "the installer cannot read this statement: " + ToUtf8(e.message()));
    d.line = e.line();
    d.column = e.column() + 1;
    problems.push_back(std::move(d));
    return std::nullopt;
  }
}

class Collector {
public:
  Collector(const fs::path& root, const std::vector<std::string>& exclude, const std::optional<int64_t>& limit,
            const std::vector<fs::path>& within)
      : root_(root), exclude_(exclude), limit_(limit), within_(within) {}

  void walk(const fs::path& folder, const std::string& relative) {
    std::error_code ec;
    fs::path canonical = fs::canonical(folder, ec);
    if (!ec && !active_.insert(canonical.string()).second) {
      problems_.push_back(FileProblem(folder, "a symbolic link leads back into its own folder"));
      return;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    if (ec) {
      problems_.push_back(FileProblem(folder, "cannot read the folder: " + ec.message()));
      return;
    }
    std::sort(names.begin(), names.end());
    std::map<XString, std::string> seen;
    for (const std::string& name : names) {
      std::string rel = relative.empty() ? name : relative + "/" + name;
      if (excluded(rel)) continue;
      fs::path path = folder / name;
      const XString wide = FromUtf8(name);
      std::string problem = ToUtf8(wide) != name ? "is not valid UTF-8" : WindowsNameProblem(wide);
      if (!problem.empty()) {
        problems_.push_back(FileProblem(path, "the name " + problem + "; rename it or exclude it"));
        continue;
      }
      auto [other, fresh] = seen.emplace(WindowsNameKey(wide), name);
      if (!fresh) {
        problems_.push_back(FileProblem(path, "differs from \"" + other->second +
                                                  "\" only in letter case, which Windows does not tell apart"));
        continue;
      }
      if (!packable(path)) continue;
      struct stat st;
      if (::stat(path.c_str(), &st) != 0) {
        problems_.push_back(FileProblem(path, "cannot read the file (a broken symbolic link?)"));
        continue;
      }
      PackageFile f;
      f.entry.name = FromUtf8(rel);
      std::replace(f.entry.name.begin(), f.entry.name.end(), u'/', u'\\');
      if (S_ISDIR(st.st_mode)) {
        f.entry.time = 0;
        f.entry.size = -1;
        files_.push_back(std::move(f));
        walk(path, rel);
      } else if (S_ISREG(st.st_mode)) {
        int64_t time = st.st_mtime;
        if (limit_ && time > *limit_) time = *limit_;
        if (time < INT32_MIN || time > INT32_MAX) {
          problems_.push_back(FileProblem(path, "its modification time lies outside 1901 to 2038"));
          continue;
        }
        f.entry.time = static_cast<int32_t>(time);
        f.entry.size = st.st_size;
        f.source = path;
        files_.push_back(std::move(f));
      } else {
        problems_.push_back(FileProblem(path, "neither a file nor a folder; exclude it"));
      }
    }
    if (!canonical.empty()) active_.erase(canonical.string());
  }

  std::vector<PackageFile> files_;
  std::vector<Diagnostic> problems_;

private:
  // What a symbolic link (of the file itself or of a folder above it) leads
  // to must lie in the folders the description may pack from.
  bool packable(const fs::path& path) {
    if (within_.empty()) return true;
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    if (ec) {
      // What cannot be followed is not packed either.
      problems_.push_back(FileProblem(path, "cannot read the file (a broken symbolic link?): " + ec.message()));
      return false;
    }
    for (const fs::path& folder : within_) {
      if (IsWithin(target, folder)) return true;
    }
    problems_.push_back(FileProblem(
        path, "leads through a symbolic link to " + target.string() + ", outside the description's folder" +
                  (within_.size() > 1 ? " and the product folder" : "") +
                  " (pass --allow-outside to pack it all the same)"));
    return false;
  }

  bool excluded(const std::string& rel) const {
    for (const std::string& pattern : exclude_) {
      if (::fnmatch(pattern.c_str(), rel.c_str(), 0) == 0) return true;
    }
    return false;
  }

  fs::path root_;
  const std::vector<std::string>& exclude_;
  std::optional<int64_t> limit_;
  const std::vector<fs::path>& within_;
  std::set<std::string> active_;
};

// An auxiliary file from disk, under its name in the package.
PackageFile AuxiliaryFile(const fs::path& source, const std::string& name, const std::optional<int64_t>& limit,
                          std::vector<Diagnostic>& problems) {
  PackageFile f;
  f.entry.name = FromUtf8(name);
  struct stat st;
  const int error = ::stat(source.c_str(), &st) == 0 ? 0 : errno;
  if (error != 0 || !S_ISREG(st.st_mode)) {
    problems.push_back(FileProblem(source, std::string("cannot read the file: ") +
                                               (error != 0 ? std::strerror(error) : "it is not a regular file")));
    return f;
  }
  int64_t time = st.st_mtime;
  if (limit && time > *limit) time = *limit;
  f.entry.time = static_cast<int32_t>(std::clamp<int64_t>(time, INT32_MIN, INT32_MAX));
  f.entry.size = st.st_size;
  f.source = source;
  return f;
}

// The components of a package name, as the product folder's walk orders
// them: by their bytes, a folder right before what it holds.
bool WalkOrder(const PackageFile& a, const PackageFile& b) {
  auto components = [](const XString& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash = name.find(u'\\'); ; slash = name.find(u'\\', start)) {
      parts.push_back(ToUtf8(name.substr(start, slash == XString::npos ? XString::npos : slash - start)));
      if (slash == XString::npos) break;
      start = slash + 1;
    }
    return parts;
  };
  return components(a.entry.name) < components(b.entry.name);
}

// Adds the build's uninstaller to the main files as `name`, with the folders
// that lead to it, in the walk's order.
void AddBuiltinUninstaller(const Description& d, const Toolset& tools, const XString& name,
                           const std::optional<int64_t>& limit, std::vector<PackageFile>& files,
                           std::vector<Diagnostic>& problems) {
  Diagnostic problem = d.at("package.builtin-uninstaller", std::string());
  if (!tools.uninstaller) {
    problem.message = "the build's uninstaller uninstall.exe was not found beside corvpack or in the build tree; "
                      "name it with --uninstaller";
    problems.push_back(problem);
    return;
  }
  const XString lower = WindowsNameKey(name);
  for (const PackageFile& f : files) {
    if (WindowsNameKey(f.entry.name) == lower) {
      problem.message = "the product holds \"" + ToUtf8(name) + "\" already, where the built-in uninstaller goes";
      problems.push_back(problem);
      return;
    }
  }
  for (size_t slash = name.find(u'\\'); slash != XString::npos; slash = name.find(u'\\', slash + 1)) {
    const XString folder = WindowsNameKey(name.substr(0, slash));
    bool present = std::any_of(files.begin(), files.end(),
                               [&](const PackageFile& f) { return WindowsNameKey(f.entry.name) == folder; });
    if (present) continue;
    PackageFile entry;
    entry.entry.name = name.substr(0, slash);
    entry.entry.size = -1;
    files.push_back(std::move(entry));
  }
  PackageFile program = AuxiliaryFile(*tools.uninstaller, ToUtf8(name), limit, problems);
  files.push_back(std::move(program));
  std::stable_sort(files.begin(), files.end(), WalkOrder);
}

// A fault of a file of either block, as a problem of the file it is made
// from; none for a fault of another field.
std::optional<Diagnostic> BlockFileProblem(const Description& d, const PackagePlan& plan, const RecordFault& fault) {
  for (const auto& [table, files] : {std::make_pair(std::string("main-files["), &plan.mainFiles),
                                     std::make_pair(std::string("auxiliary-files["), &plan.auxiliaryFiles)}) {
    if (fault.field.compare(0, table.size(), table) != 0) continue;
    const PackageFile& f = files->at(std::stoul(fault.field.substr(table.size())));
    fs::path source = f.source;
    if (source.empty()) {
      std::string name = ToUtf8(f.entry.name);
      std::replace(name.begin(), name.end(), '\\', '/');
      source = d.productFolder / fs::u8path(name);
    }
    return FileProblem(source, "the name \"" + ToUtf8(fault.value) + "\": " + fault.problem);
  }
  return std::nullopt;
}

}  // namespace

std::vector<PackageFile> CollectProductFiles(const fs::path& folder, const std::vector<std::string>& exclude,
                                             const std::optional<int64_t>& timeLimit,
                                             const std::vector<fs::path>& within) {
  Collector c(folder, exclude, timeLimit, within);
  c.walk(folder, "");
  if (!c.problems_.empty()) throw DescriptionError(std::move(c.problems_));
  return std::move(c.files_);
}

PackagePlan MakePlan(const Description& d, const Toolset& tools, const PlanOptions& options,
                     std::vector<Diagnostic>& warnings) {
  PackagePlan plan;
  plan.stub = tools.stub;
  plan.level = options.level;
  plan.record = d.record;
  plan.identity = d.identity;
  plan.mainFiles = CollectProductFiles(d.productFolder, d.exclude, options.timeLimit, d.packableFolders);

  std::vector<Diagnostic> problems;
  if (d.builtinUninstaller && d.record.uninstallerName) {
    AddBuiltinUninstaller(d, tools, *d.record.uninstallerName, options.timeLimit, plan.mainFiles, problems);
  }
  std::optional<BindScript> bindScript;
  if (d.bindScript) {
    std::string problem;
    PackageFile script = AuxiliaryFile(*d.bindScript, kBindScriptName, options.timeLimit, problems);
    if (auto text = ReadTextFile(*d.bindScript, problem)) {
      script.source.clear();
      script.content = ToUtf16Le(*text);
      script.entry.size = static_cast<int64_t>(script.content.size());
      bindScript = CheckBindScript(*d.bindScript, *text, problems);
    } else {
      problems.push_back(FileProblem(*d.bindScript, problem));
    }
    plan.auxiliaryFiles.push_back(std::move(script));
  }
  // A library named in the description replaces the build's; the
  // installer loads it by its fixed name.
  if (const auto& uiLibrary = d.uiLibrary ? d.uiLibrary : tools.uiLibrary) {
    plan.auxiliaryFiles.push_back(AuxiliaryFile(*uiLibrary, kUiLibraryName, options.timeLimit, problems));
  }
  if (tools.folderLibrary) {
    plan.auxiliaryFiles.push_back(
        AuxiliaryFile(*tools.folderLibrary, kFolderLibraryName, options.timeLimit, problems));
  }
  if (d.hookLibrary) {
    plan.auxiliaryFiles.push_back(
        AuxiliaryFile(*d.hookLibrary, d.hookLibrary->filename().string(), options.timeLimit, problems));
  }
  if (d.wizardBitmap) {
    plan.auxiliaryFiles.push_back(
        AuxiliaryFile(*d.wizardBitmap, d.wizardBitmap->filename().string(), options.timeLimit, problems));
  }
  // The record as it will be written, files and all, through the
  // installer's own checks.
  InstallRecord written = plan.record;
  for (const PackageFile& f : plan.mainFiles) written.mainBlock.entries.push_back(f.entry);
  for (const PackageFile& f : plan.auxiliaryFiles) written.auxiliaryBlock.entries.push_back(f.entry);
  for (const RecordFault& fault : FindRecordFaults(written, RecordChecks::kPackager)) {
    problems.push_back(BlockFileProblem(d, plan, fault).value_or(RecordProblem(d, fault)));
  }
  if (problems.empty()) {
    // The reader has the last word, on limits of the record as a whole too:
    // it copies out no more text than a generous multiple of the record.
    const std::vector<uint8_t> bytes = WriteInstallRecord(written);
    try {
      ReadInstallRecord(bytes.data(), bytes.size());
    } catch (const Exception& e) {
      problems.push_back(FileProblem(d.file, "the installer would refuse the record this description makes (" +
                                                 std::string(e.what()) + "): its texts, repeated, are too long"));
    }
  }
  if (!problems.empty()) throw DescriptionError(std::move(problems));

  // References to files of the package that it does not hold are likely
  // typing errors; the installer would only notice them on the target.
  std::set<XString> files;
  std::set<XString> folders{XString()};
  for (const PackageFile& f : plan.mainFiles) {
    XString name = WindowsNameKey(f.entry.name);
    (f.entry.isFolder() ? folders : files).insert(name);
    for (size_t slash = name.find(u'\\'); slash != XString::npos; slash = name.find(u'\\', slash + 1)) {
      folders.insert(name.substr(0, slash));
    }
  }
  const InstallRecord& r = d.record;
  auto check = [&](const std::string& key, const OptString& ref, bool folder) {
    if (!ref) return;
    XString name = WindowsNameKey(*ref);
    while (!name.empty() && name.back() == u'\\') name.pop_back();
    if ((folder ? folders : files).count(name) != 0) return;
    warnings.push_back(
        d.at(key, "\"" + ToUtf8(*ref) + "\" is not a " + (folder ? "folder" : "file") + " of the package", true));
  };
  check("package.uninstaller", r.uninstallerName, false);
  check("package.recorded-file", r.recordedFile, false);
  check("package.path-entry", r.pathEntry, true);
  check("uninstall-entry.icon", r.entryDetails.displayIcon, false);
  check("install-run.program", r.installRunProgram, false);
  check("after-run.program", r.afterRunProgram, false);
  for (size_t i = 0; i < r.shortcuts.size(); ++i) {
    std::string key = "shortcut[" + std::to_string(i) + "].";
    check(key + "target", r.shortcuts[i].target, false);
    check(key + "icon", r.shortcuts[i].iconFile, false);
    if (d.placeOf(key + "working-folder")) check(key + "working-folder", r.shortcuts[i].workingFolder, true);
  }
  for (size_t i = 0; i < r.associations.size(); ++i) {
    check("association[" + std::to_string(i) + "].program", r.associations[i].program, false);
  }
  for (size_t i = 0; i < r.services.size(); ++i) {
    check("service[" + std::to_string(i) + "].executable", r.services[i].program, false);
  }
  // The components of "Root" are files the installer writes.
  const BindRoot* root = bindScript ? bindScript->findRoot(u"Root") : nullptr;
  for (size_t i = 0; root && i < root->components().size(); ++i) {
    const XString& path = root->components()[i].path();
    XString name = WindowsNameKey(path);
    std::replace(name.begin(), name.end(), u'/', u'\\');
    if (files.count(name) != 0) continue;
    Diagnostic w = FileProblem(*d.bindScript, "component \"" + ToUtf8(path) +
                                                  "\" of root \"Root\" is not a file of the package");
    w.warning = true;
    warnings.push_back(std::move(w));
  }
  return plan;
}

}  // namespace corv::pack

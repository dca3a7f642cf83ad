#include "kernel/recordchecks.h"

#include <algorithm>
#include <functional>
#include <map>

#include "kernel/logger.h"

namespace corv {

namespace {

bool IsSeparator(XChar c) { return c == u'\\' || c == u'/'; }

XChar UpperAscii(XChar c) { return c >= u'a' && c <= u'z' ? static_cast<XChar>(c - 32) : c; }

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the superscript digits 1-3),
// CONIN$, CONOUT$ and CLOCK$ (Windows 95/98/Me), alone or followed by blanks
// or an extension: the system opens the device, not a file.
bool IsDeviceName(const XString& component) {
  XString base;
  for (XChar c : component) {
    if (c == u'.') break;
    base += UpperAscii(c);
  }
  while (!base.empty() && base.back() == u' ') base.pop_back();
  static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
  for (const char16_t* d : kDevices) {
    if (base == d) return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) return false;
  const XChar n = base[3];
  return (n >= u'0' && n <= u'9') || n == u'\u00b9' || n == u'\u00b2' || n == u'\u00b3';
}

// "." , "..", ". ." and the like: the system drops trailing dots and blanks,
// which leaves a step up or no step at all.
bool IsDotsOnly(const XString& component) {
  bool dot = false;
  for (XChar c : component) {
    if (c == u'.') {
      dot = true;
    } else if (c != u' ') {
      return false;
    }
  }
  return dot;
}

// What keeps one component of a path from being a Windows file name, and
// whether it could also take the path out of its folder or to a device.
struct NameFault {
  std::string problem;
  bool leavesFolder = false;
};

NameFault ComponentFault(const XString& name) {
  for (XChar c : name) {
    // ":" names a drive or a stream; "?" and "*" are wildcards to the
    // runtime's stat; none of these, nor control characters, is part of a
    // Windows file name.
    if (c < 0x20) return {"holds a control character", true};
    if (XString(u"<>:\"/\\|?*").find(c) != XString::npos) {
      return {"holds \"" + ToUtf8(XString(1, c)) + "\", which Windows file names cannot", true};
    }
  }
  if (IsDeviceName(name)) return {"is a name Windows reserves for a device", true};
  if (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
    return {"ends with a dot or a blank, which Windows drops", false};
  }
  return {};
}

// The components of `path` between separators; a trailing separator adds
// none.
std::vector<XString> Components(const XString& path) {
  std::vector<XString> out;
  size_t start = 0;
  while (start < path.size() || (start == 0 && !path.empty())) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// How the installer writes the record's texts into the registry
// (infrastructure/win32/integrator.cpp) and logs each key it makes: the root's
// prefix, then the key's path.
constexpr size_t kLocalMachinePrefix = sizeof "HKEY_LOCAL_MACHINE\\" - 1;  // the longer of the product key's roots
constexpr size_t kClassesRootPrefix = sizeof "HKEY_CLASSES_ROOT\\" - 1;
constexpr size_t kProductKeyParent = sizeof "Software\\" - 1;
constexpr size_t kFileTypeCommand = sizeof "\\Shell\\open\\command" - 1;

// The room for the key path `around` leaves on a "registrykey" line.
size_t RegistryLineRoom(size_t around) {
  const size_t keyword = XString(LogKeyword(kLogRegistryKey)).size();
  return Logger::kMaxLineLength - keyword - 2 - around;  // a blank before, a line feed after
}

// The first name of `path` between backslashes that the registry does not
// take.
TextLimit KeyNameLimit(const XString& path) {
  for (size_t start = 0;;) {
    const size_t end = std::min(path.find(u'\\', start), path.size());
    if (end - start > kMaxRegistryKeyName) return TextLimit{end - start, kMaxRegistryKeyName, true};
    if (end == path.size()) return TextLimit();
    start = end + 1;
  }
}

TextLimit LengthLimit(size_t length, size_t limit) {
  return length > limit ? TextLimit{length, limit, false} : TextLimit();
}

}  // namespace

std::string LineProblem(const XString& text) {
  return FitsOneLogLine(text) ? std::string() : "must not contain a line break (install.log keeps it on one line)";
}

namespace {

std::string LimitProblem(const TextLimit& limit) {
  if (!limit.exceeded()) return std::string();
  if (limit.keyName) {
    return "holds a key name of " + std::to_string(limit.length) + " characters; the registry takes at most " +
           std::to_string(limit.limit) + " characters between backslashes";
  }
  return "is " + std::to_string(limit.length) + " characters long; install.log has room for at most " +
         std::to_string(limit.limit) + " characters of it on its line";
}

// With the destination base "path" the default destination may begin with
// a root of its own: a drive ("C:\"), a share's double separator, or one
// separator for the current drive. The length of that root.
size_t PathRoot(const XString& path) {
  const bool letter = !path.empty() && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  if (letter && path.size() >= 2 && path[1] == u':' && (path.size() == 2 || IsSeparator(path[2]))) {
    return std::min<size_t>(3, path.size());
  }
  size_t n = 0;
  while (n < 2 && n < path.size() && IsSeparator(path[n])) ++n;
  return n;
}

std::string DestinationProblem(uint8_t base, const XString& folder) {
  switch (base) {
    case kBaseSystemDrive: return RelativePathProblem(folder, "system drive");
    case kBaseProgramFiles: return RelativePathProblem(folder, "program-files folder");
    case kBasePath: {
      XString path = folder;
      TrimBlanks(path);
      return RelativePathProblem(path.substr(PathRoot(path)), "folder its root names");
    }
    default: return LineProblem(folder);
  }
}

std::string Indexed(const std::string& table, size_t i, const std::string& key = std::string()) {
  return table + "[" + std::to_string(i) + "]" + (key.empty() ? key : "." + key);
}

constexpr char kSameFile[] = "names the same file as ";

// Collects the faults, one per field, up to the most asked for.
class Faults {
public:
  Faults(RecordChecks level, size_t most) : packager_(level == RecordChecks::kPackager), most_(most) {}

  bool packager() const { return packager_; }

  // Records `problem` of `field` unless it is empty; true when it was not.
  bool add(const std::string& field, const XString& value, std::string problem) {
    if (problem.empty()) return false;
    if (out_.size() < most_) out_.push_back(RecordFault{field, value, std::move(problem)});
    return true;
  }
  bool add(const std::string& field, const OptString& value, const std::function<std::string(const XString&)>& check) {
    return value && add(field, *value, check(*value));
  }

  // A path below `folder`; true when it is at fault.
  bool path(const std::string& field, const XString& value, const std::string& folder) {
    return add(field, value, RelativePathProblem(value, folder, packager_));
  }
  void path(const std::string& field, const OptString& value, const std::string& folder) {
    if (value) path(field, *value, folder);
  }
  // A text install.log keeps; true when it is at fault.
  bool line(const std::string& field, const OptString& value) { return add(field, value, LineProblem); }
  // For the packager: `value` of `field`, whose name in its folder is
  // `key`, must be the only one of that name there; `same` says what it is
  // to the field of the same name.
  void unique(std::map<XString, std::string>& seen, const std::string& field, const XString& value,
              const XString& key, const char* same) {
    if (!packager_) return;
    auto [other, fresh] = seen.emplace(key, field);
    if (!fresh) add(field, value, same + other->second + " (Windows does not tell letter case apart)");
  }

  bool full() const { return out_.size() >= most_; }
  std::vector<RecordFault> take() { return std::move(out_); }

private:
  bool packager_;
  size_t most_;
  std::vector<RecordFault> out_;
};

void CheckBlock(Faults& f, const RecordBlock& block, const std::string& table, const std::string& folder) {
  std::map<XString, std::string> seen;
  for (size_t i = 0; i < block.entries.size() && !f.full(); ++i) {
    const XString& name = block.entries[i].name;
    const std::string field = Indexed(table, i);
    if (!f.path(field, name, folder)) f.unique(seen, field, name, WindowsNameKey(name), kSameFile);
  }
}

}  // namespace

bool FitsOneLogLine(const XString& text) {
  static const XChar kLineBreaks[] = {u'\r', u'\n', u'\0'};
  return text.find_first_of(kLineBreaks, 0, 3) == XString::npos;
}

TextLimit ProductNameLimit(const XString& name) {
  return LengthLimit(name.size(), Logger::kMaxLineLength - 1);  // and its line feed
}

TextLimit ProductKeyLimit(const XString& key) {
  const TextLimit line = LengthLimit(key.size(), RegistryLineRoom(kLocalMachinePrefix + kProductKeyParent));
  return line.exceeded() ? line : KeyNameLimit(key);
}

TextLimit FileTypeLimit(const XString& packageName, const XString& extension) {
  // The command key's line is the longest; its file type key comes first.
  const XString fileType = packageName + u"." + extension;
  const TextLimit line = LengthLimit(fileType.size(), RegistryLineRoom(kClassesRootPrefix + kFileTypeCommand));
  if (line.exceeded()) return line;
  const TextLimit name = KeyNameLimit(fileType);
  return name.exceeded() ? name : KeyNameLimit(u"." + extension);
}

bool IsContainedRelativePath(const XString& name) { return RelativePathProblem(name, "folder", false).empty(); }

std::string WindowsNameProblem(const XString& name) { return ComponentFault(name).problem; }

std::string RelativePathProblem(const XString& name, const std::string& folder, bool windowsNames) {
  // Checked once, on the form the name reaches the system in: every path is
  // trimmed of blanks and tabs before it is joined to its folder.
  XString path = name;
  TrimBlanks(path);
  const std::string inside = "must be a relative path inside the " + folder;
  if (!path.empty() && IsSeparator(path[0])) return inside + " (it begins with a separator)";
  if (path.size() >= 2 && path[1] == u':') return inside + " (it names a drive)";
  for (const XString& component : Components(path)) {
    if (IsDotsOnly(component)) return inside + " (\"" + ToUtf8(component) + "\" leads out of it)";
    const NameFault fault = component.empty() ? NameFault{"is empty", false} : ComponentFault(component);
    if (!fault.problem.empty() && (windowsNames || fault.leavesFolder)) {
      return "the component \"" + ToUtf8(component) + "\" " + fault.problem;
    }
  }
  return std::string();
}

XString WindowsNameKey(const XString& name) {
  XString key = name;
  TrimBlanks(key);
  std::replace(key.begin(), key.end(), u'/', u'\\');
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  for (XChar& c : key) {
    if ((c >= u'a' && c <= u'z') || (c >= u'\u00e0' && c <= u'\u00fe' && c != u'\u00f7') ||
        (c >= u'\u03b1' && c <= u'\u03c9' && c != u'\u03c2') || (c >= u'\u0430' && c <= u'\u044f') ||
        (c >= u'\uff41' && c <= u'\uff5a')) {
      c = static_cast<XChar>(c - 0x20);
    } else if (c >= u'\u0450' && c <= u'\u045f') {
      c = static_cast<XChar>(c - 0x50);
    }
  }
  return key;
}

std::vector<RecordFault> FindRecordFaults(const InstallRecord& r, RecordChecks level, size_t most) {
  Faults f(level, most);
  const std::string destination = "destination";
  auto limit = [](TextLimit (*of)(const XString&)) {
    return [of](const XString& v) { return LimitProblem(of(v)); };
  };
  if (!f.line("package.name", r.packageName) && !r.productName) f.add("package.name", r.packageName, limit(ProductNameLimit));
  if (!f.line("package.product", r.productName)) f.add("package.product", r.productName, limit(ProductNameLimit));
  if (!f.line("package.product-key", r.productKey)) f.add("package.product-key", r.productKey, limit(ProductKeyLimit));
  // The bitmap and the hook library are unpacked into the temporary folder
  // under their names.
  for (const auto& [field, name] : {std::make_pair("package.wizard-bitmap", &r.wizardBitmap),
                                    std::make_pair("package.hook-library", &r.hookLibrary)}) {
    if (f.packager()) {
      f.add(field, *name, WindowsNameProblem);
    } else {
      f.path(field, *name, "temporary folder");
    }
  }
  f.path("package.uninstaller", r.uninstallerName, destination);
  f.path("package.recorded-file", r.recordedFile, destination);
  f.path("package.path-entry", r.pathEntry, destination);
  f.path("install-run.program", r.installRunProgram, destination);
  f.path("after-run.program", r.afterRunProgram, destination);
  // A folder name or a path of its own, made absolute below its base.
  if (!f.line("destination.folder", r.defaultDestination) && f.packager()) {
    f.add("destination.folder", r.defaultDestination,
          [&](const XString& v) { return DestinationProblem(r.destinationBase, v); });
  }
  f.path("destination.program-folder", r.defaultProgramFolder, "Start menu's Programs folder");
  f.path("primary.jre-file", r.primaryJreFile, "primary installation's folder");
  for (size_t i = 0; i < r.primaryMarkerFiles.size() && !f.full(); ++i) {
    f.path(Indexed("primary.markers", i), r.primaryMarkerFiles[i], "primary installation's folder");
  }
  f.path("uninstall-entry.icon", r.entryDetails.displayIcon, destination);
  if (f.packager()) {
    // Shown on one line in the list of installed programs.
    f.line("uninstall-entry.version", r.entryDetails.displayVersion);
    f.line("uninstall-entry.publisher", r.entryDetails.publisher);
  }
  for (size_t g = 0; r.noJre == 0 && g < r.jre.groups.size() && !f.full(); ++g) {
    for (size_t k = 0; k < r.jre.groups[g].checks.size(); ++k) {
      f.path(Indexed(Indexed("jre.layout", g, "files"), k, "path"), r.jre.groups[g].checks[k].path, "JRE folder");
    }
  }
  std::map<XString, std::string> shortcutNames;
  for (size_t i = 0; i < r.shortcuts.size() && !f.full(); ++i) {
    const ShortcutEntry& s = r.shortcuts[i];
    const std::string name = Indexed("shortcut", i, "name");
    // One shortcut file of each name in each of the four shell folders.
    if (!f.path(name, s.name, "shortcut folder")) {
      f.unique(shortcutNames, name, s.name, Int64ToDecimal(s.location) + u":" + WindowsNameKey(s.name), kSameFile);
    }
    // The target first: the working folder is by default the target's.
    f.path(Indexed("shortcut", i, "target"), s.target, destination);
    f.path(Indexed("shortcut", i, "working-folder"), s.workingFolder, destination);
    f.path(Indexed("shortcut", i, "icon"), s.iconFile, destination);
  }
  std::map<XString, std::string> extensions;
  for (size_t i = 0; i < r.associations.size() && !f.full(); ++i) {
    const AssociationEntry& a = r.associations[i];
    const std::string extension = Indexed("association", i, "extension");
    // The extension names the registry keys of its file type.
    if (!f.line(extension, a.extension) &&
        !(f.packager() && f.add(extension, a.extension, WindowsNameProblem(a.extension))) &&
        !f.add(extension, a.extension, LimitProblem(FileTypeLimit(r.packageName.value_or(XString()), a.extension)))) {
      f.unique(extensions, extension, a.extension, WindowsNameKey(a.extension), "is associated twice, as is ");
    }
    f.line(Indexed("association", i, "description"), a.typeDescription);
    f.path(Indexed("association", i, "program"), a.program, destination);
    f.path(Indexed("association", i, "icon"), a.icon, destination);
  }
  for (size_t i = 0; i < r.services.size() && !f.full(); ++i) {
    f.path(Indexed("service", i, "executable"), r.services[i].program, destination);
    f.line(Indexed("service", i, "description"), r.services[i].description);
  }
  CheckBlock(f, r.mainBlock, "main-files", destination);
  CheckBlock(f, r.auxiliaryBlock, "auxiliary-files", "temporary folder");
  return f.take();
}

}  // namespace corv

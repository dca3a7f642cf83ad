#include "infrastructure/integrator.h"

#include "util/win32/corvwindows.h"

#include <objbase.h>
#include <shlobj.h>

#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/win32/handles.h"
#include "util/win32/registry.h"

namespace corv {

namespace {

// The shell link's class and the two interfaces used of it, spelled out
// here rather than linked from the system's GUID library, which would bring
// in every GUID it defines.
constexpr CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kShellLinkInterface = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kPersistFileInterface = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Sets a string value; the stored size includes the terminating zero.
bool SetString(const win32::RegistryKey& key, const char* name, const XString& value) {
  return key.setString(name, ToAnsi(value)) == ERROR_SUCCESS;
}

XString UnderDestination(const XString& path, const IntegrationTarget& target) {
  return FileSys::MakeAbsolutePath(path, target.destination);
}

// COM for the calling thread, uninitialised on the way out.
class ComScope {
public:
  ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

private:
  bool ok_;
};

}  // namespace

XString UninstallKeyName(const XString& packageName, uint32_t counter) {
  XString head;
  for (XChar c : packageName) {
    if (head.size() >= 16) break;
    wchar_t wide = static_cast<wchar_t>(c);
    char bytes[8];
    BOOL defaulted = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, &wide, 1, bytes, sizeof bytes, nullptr, &defaulted);
    if (n != 1 || defaulted) break;
    char b = bytes[0];
    bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
    if (!letter) break;
    head += static_cast<XChar>(static_cast<unsigned char>(b));
  }
  if (head.size() < 5) head += u"_Deploy";
  return Format(u"%s_%u", head, counter);
}

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char* SealValue(SealedFile file) {
  return file == SealedFile::kInstallLog ? "InstallLogDigest" : "InstallRestoreDigest";
}

// The uninstall entries (full names) whose "UninstallString", quoted or
// not, names a program that `wanted` accepts.
template <typename Wanted>
std::vector<XString> UninstallEntriesWhere(Wanted wanted) {
  std::vector<XString> entries;
  win32::RegistryKey parent;
  if (parent.open(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_READ) != ERROR_SUCCESS) return entries;
  char name[MAX_PATH + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG status = RegEnumKeyExA(parent.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    try {
      XString key = ToWide(AnsiString(kUninstallKey) + "\\" + AnsiString(name, length));
      OptString command = ReadRegistryString(kRootLocalMachine, key, u"UninstallString");
      if (!command) continue;
      XString path = *command;
      TrimBlanks(path);
      if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"') path = path.substr(1, path.size() - 2);
      if (wanted(path)) entries.push_back(RegistryRootPrefix(kRootLocalMachine) + key);
    } catch (const FatalError&) {
      // a name the code page cannot take is no entry of ours
    }
  }
  return entries;
}

// The entries whose program lies in `folder`: those whose uninstaller reads
// the "install.log" there.
std::vector<XString> UninstallEntriesIn(const XString& folder) {
  return UninstallEntriesWhere([&](const XString& program) {
    std::optional<Directory> parent = File(program).parentDirectory();
    return parent && FileSys::SameText(parent->widePath(), folder);
  });
}

}  // namespace

bool IsUninstallEntryName(const XString& fullName) {
  const XString parent = RegistryRootPrefix(kRootLocalMachine) + ToWide(AnsiString(kUninstallKey)) + u"\\";
  return fullName.size() > parent.size() && FileSys::SameText(fullName.substr(0, parent.size()), parent);
}

std::vector<XString> UninstallEntriesOf(const XString& program) {
  return UninstallEntriesWhere([&](const XString& path) { return FileSys::SameText(path, program); });
}

std::vector<std::string> SealsOf(const XString& folder, SealedFile file) {
  std::vector<std::string> seals;
  for (const XString& entry : UninstallEntriesIn(folder)) {
    std::optional<KeySnapshot> value = SnapshotRegistryKey(entry, AnsiString(SealValue(file)));
    // An entry that cannot be read is no proof that the log is sound.
    if (!value) {
      seals.emplace_back("unreadable");
    } else if (value->values[0].existed) {
      const std::vector<uint8_t>& data = value->values[0].data;
      std::string text(data.begin(), data.end());
      while (!text.empty() && text.back() == '\0') text.pop_back();
      seals.push_back(value->values[0].type == REG_SZ ? text : "not a string");
    }
  }
  return seals;
}

bool WriteSeal(const XString& folder, SealedFile file, const std::string& seal, Logger* log) {
  bool ok = true;
  for (const XString& entry : UninstallEntriesIn(folder)) {
    if (log && log->journal() && !log->contains(kLogRegistryKey, entry)) {
      // An entry of an earlier run gets its earlier seal back on rollback.
      std::optional<KeySnapshot> earlier = SnapshotRegistryKey(entry, AnsiString(SealValue(file)));
      if (!earlier) return false;
      log->KeepKey(std::move(*earlier));
      log->LogRegistryKey(entry);
    }
    HKEY root;
    AnsiString sub;
    win32::RegistryKey key;
    ok = SplitRegistryKeyName(entry, &root, &sub) && key.open(root, sub.c_str(), KEY_SET_VALUE) == ERROR_SUCCESS &&
         key.setString(SealValue(file), seal) == ERROR_SUCCESS && ok;
  }
  return ok;
}

OptString ReadInstallPath(const XString& productKey, int root) {
  return ReadRegistryString(root, Format(u"%s%s%s", XString(u"Software"), XString(u"\\"), productKey),
                            u"InstallPath");
}

bool CreateShortcut(const ShortcutEntry& entry, const IntegrationTarget& target, Logger& log) {
  XString folder;
  if (!GetShellFolder(target.commonProfile, static_cast<int>(entry.location), target.shfolderLibrary, &folder)) {
    return false;
  }
  XString base = entry.location == kLocationProgramFolder ? FileSys::MakeAbsolutePath(target.programFolder, folder) : folder;
  File link(Directory(base), Format(u"%s%s", entry.name, XString(u".lnk")));
  std::optional<Directory> parent = link.parentDirectory();
  if (!parent || parent->createDirectories(&log.DirectoryListener()) < 0) return false;

  ComScope com;
  win32::ComPtr<IShellLinkA> shellLink;
  if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                              shellLink.outVoid()))) {
    return false;
  }
  if (FAILED(shellLink->SetPath(ToAnsi(UnderDestination(entry.target, target)).c_str()))) return false;
  if (entry.iconFile &&
      FAILED(shellLink->SetIconLocation(ToAnsi(UnderDestination(*entry.iconFile, target)).c_str(), entry.iconIndex))) {
    return false;
  }
  if (FAILED(shellLink->SetWorkingDirectory(ToAnsi(UnderDestination(entry.workingFolder, target)).c_str()))) {
    return false;
  }
  AnsiString arguments = ToAnsi(FileSys::ExpandRoot(entry.arguments, target.destination));
  if (FAILED(shellLink->SetArguments(arguments.c_str()))) return false;
  win32::ComPtr<IPersistFile> persist;
  if (FAILED(shellLink->QueryInterface(kPersistFileInterface, persist.outVoid()))) return false;
  // An existing shortcut of the same name is kept (copied, since the save
  // writes over it in place) for a rollback to put back.
  if (log.KeepFile(link, true) != 0) return false;
  log.Announce(kLogFile, link.widePath());
  XString wide = ToWide(link.ansiPath());
  if (FAILED(persist->Save(reinterpret_cast<LPCOLESTR>(wide.c_str()), FALSE))) return false;
  log.LogFile(link);
  return true;
}

bool RegisterAssociation(const AssociationEntry& entry, const IntegrationTarget& target, Logger& log) {
  XString typeKey = Format(u"%s.%s", target.packageName, entry.extension);
  XString program = UnderDestination(entry.program, target);
  XString command = entry.arguments.empty()
                        ? Format(u"\"%s\"", program)
                        : Format(u"\"%s\" %s", program, FileSys::ExpandRoot(entry.arguments, target.destination));
  std::vector<std::pair<XString, XString>> keys = {
      {typeKey, entry.typeDescription},
      {Format(u".%s", entry.extension), typeKey},
      {typeKey + u"\\Shell\\open\\command", command},
  };
  if (entry.icon) keys.emplace_back(typeKey + u"\\DefaultIcon", UnderDestination(*entry.icon, target));
  for (const auto& [path, value] : keys) {
    win32::RegistryKey key = CreateRegistryKeyPath(kRootClassesRoot, path, log, true, nullptr);
    if (!key || !SetString(key, nullptr, value)) return false;
  }
  return true;
}

bool WriteProductKey(const XString& name, const XString& destination, bool commonProfile, Logger& log) {
  XString path = Format(u"%s%s%s", XString(u"Software"), XString(u"\\"), name);
  int root = commonProfile ? kRootLocalMachine : kRootCurrentUser;
  win32::RegistryKey key = CreateRegistryKeyPath(root, path, log, true, nullptr);
  return key && SetString(key, "InstallPath", destination);
}

bool CreateUninstallEntry(const XString& packageName, const XString& command, const XString& location,
                          Logger& log, const RecordEntryDetails& details) {
  win32::RegistryKey key;
  // Installed again into the same folder (a repair or an upgrade), the
  // product keeps its one entry, which gets the new details.
  const std::vector<XString> earlier = UninstallEntriesOf(command);
  const XString prefix = RegistryRootPrefix(kRootLocalMachine);
  if (!earlier.empty() && earlier.front().compare(0, prefix.size(), prefix) == 0) {
    key = CreateRegistryKeyPath(kRootLocalMachine, earlier.front().substr(prefix.size()), log, true, nullptr);
    if (!key) return false;
  }
  for (uint32_t counter = 0; !key; ++counter) {
    XString path = XString(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                   UninstallKeyName(packageName, counter);
    bool existed = false;
    key = CreateRegistryKeyPath(kRootLocalMachine, path, log, false, &existed);
    if (!key) return false;
    if (existed) key = win32::RegistryKey();
  }
  // Unquoted, "C:\Program Files\App\uninstall.exe" would be started as
  // "C:\Program.exe" where such a file exists.
  const XString quoted = command.find(u' ') == XString::npos ? command : u"\"" + command + u"\"";
  if (!SetString(key, "DisplayName", packageName) || !SetString(key, "UninstallString", quoted) ||
      !SetString(key, "InstallLocation", location)) {
    return false;
  }
  // What deployment tools run to remove the product without a question.
  if (details.quietUninstaller && !SetString(key, "QuietUninstallString", quoted + u" /batch")) return false;
  const std::pair<const char*, const OptString*> texts[] = {
      {"DisplayIcon", &details.displayIcon}, {"DisplayVersion", &details.displayVersion}, {"Publisher", &details.publisher}};
  for (const auto& [name, value] : texts) {
    if (*value) SetString(key, name, **value);
  }
  if (details.estimatedSize != 0) {
    key.setDword("EstimatedSize", details.estimatedSize);
  }
  return true;
}

void InstallSystemIntegration(const Infrastructure& entries, const IntegrationTarget& target, Logger& log,
                              IntegrationWarnings& warnings) {
  for (size_t i = 0; i < entries.shortcutCount(); ++i) {
    const ShortcutEntry& s = entries.shortcut(i);
    if (!entries.locationEnabled(s.location)) continue;
    if (!CreateShortcut(s, target, log)) warnings.warn(FormatMessageTextWide(msg::kUnableToCreateShortcut, s.name));
  }
  for (size_t i = 0; i < entries.associationCount(); ++i) {
    const AssociationEntry& a = entries.association(i);
    if (!a.selected) continue;
    if (!RegisterAssociation(a, target, log)) {
      warnings.warn(FormatMessageTextWide(msg::kUnableToRegisterAssociation, a.extension));
    }
  }
  if (!target.isInstallation) return;
  if (!WriteProductKey(target.productKey, target.destination, target.commonProfile, log)) {
    warnings.warn(FormatMessageTextWide(msg::kUnableToCreateProductKey, target.productKey));
  }
  if (target.uninstaller) {
    RecordEntryDetails details = target.entryDetails;
    if (details.displayIcon) details.displayIcon = UnderDestination(*details.displayIcon, target);
    CreateUninstallEntry(target.packageName, UnderDestination(*target.uninstaller, target), target.destination, log,
                         details);
  }
}

}  // namespace corv

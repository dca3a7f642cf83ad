#include "infrastructure/integrator.h"

#include "util/win32/corvwindows.h"

#include <objbase.h>
#include <shlobj.h>

#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/win32/dllsearch.h"
#include "util/win32/handles.h"

namespace corv {

namespace {

HKEY RootKey(int root) {
  switch (root) {
    case kRootLocalMachine: return HKEY_LOCAL_MACHINE;
    case kRootCurrentUser: return HKEY_CURRENT_USER;
    case kRootClassesRoot: return HKEY_CLASSES_ROOT;
  }
  CORV_ASSERT(false);
  return nullptr;
}

// Sets a string value; the stored size includes the terminating zero.
// The shell link's class and the two interfaces used of it, spelled out
// here rather than linked from the system's GUID library, which would bring
// in every GUID it defines.
constexpr CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kShellLinkInterface = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kPersistFileInterface = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool SetString(HKEY key, const char* name, const XString& value) {
  AnsiString text = ToAnsi(value);
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
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

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const XChar* RegistryRootPrefix(int root) {
  switch (root) {
    case kRootLocalMachine: return u"HKEY_LOCAL_MACHINE\\";
    case kRootCurrentUser: return u"HKEY_CURRENT_USER\\";
    case kRootClassesRoot: return u"HKEY_CLASSES_ROOT\\";
  }
  CORV_ASSERT(false);
  return nullptr;
}

bool IsWindowsNT() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsAdministrator() {
  if (!IsWindowsNT()) return false;
  using ImpersonateSelfFn = BOOL(WINAPI*)(SECURITY_IMPERSONATION_LEVEL);
  using OpenThreadTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, BOOL, PHANDLE);
  using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  using AllocateSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                      DWORD, DWORD, DWORD, PSID*);
  using InitDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
  using GetLengthSidFn = DWORD(WINAPI*)(PSID);
  using InitializeAclFn = BOOL(WINAPI*)(PACL, DWORD, DWORD);
  using AddAceFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
  using SetDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  using SetSidFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
  using IsValidFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR);
  using AccessCheckFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET,
                                      LPDWORD, LPDWORD, LPBOOL);
  using RevertFn = BOOL(WINAPI*)();

  win32::UniqueModule advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return false;
  HMODULE m = advapi.get();
  auto impersonateSelf = Lookup<ImpersonateSelfFn>(m, "ImpersonateSelf");
  auto openThreadToken = Lookup<OpenThreadTokenFn>(m, "OpenThreadToken");
  auto openProcessToken = Lookup<OpenProcessTokenFn>(m, "OpenProcessToken");
  auto allocateSid = Lookup<AllocateSidFn>(m, "AllocateAndInitializeSid");
  auto initDescriptor = Lookup<InitDescriptorFn>(m, "InitializeSecurityDescriptor");
  auto getLengthSid = Lookup<GetLengthSidFn>(m, "GetLengthSid");
  auto initializeAcl = Lookup<InitializeAclFn>(m, "InitializeAcl");
  auto addAce = Lookup<AddAceFn>(m, "AddAccessAllowedAce");
  auto setDacl = Lookup<SetDaclFn>(m, "SetSecurityDescriptorDacl");
  auto setGroup = Lookup<SetSidFn>(m, "SetSecurityDescriptorGroup");
  auto setOwner = Lookup<SetSidFn>(m, "SetSecurityDescriptorOwner");
  auto isValid = Lookup<IsValidFn>(m, "IsValidSecurityDescriptor");
  auto accessCheck = Lookup<AccessCheckFn>(m, "AccessCheck");
  auto revert = Lookup<RevertFn>(m, "RevertToSelf");
  if (!impersonateSelf || !openThreadToken || !openProcessToken || !allocateSid || !initDescriptor ||
      !getLengthSid || !initializeAcl || !addAce || !setDacl || !setGroup || !setOwner || !isValid ||
      !accessCheck || !revert) {
    return false;
  }

  if (!impersonateSelf(SecurityImpersonation)) return false;
  struct Revert {
    RevertFn fn;
    ~Revert() { fn(); }
  } revertOnExit{revert};

  HANDLE rawToken = nullptr;
  if (!openThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &rawToken)) {
    if (GetLastError() != ERROR_NO_TOKEN) return false;
    if (!openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
  }
  win32::UniqueHandle token(rawToken);

  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID rawSid = nullptr;
  if (!allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &rawSid)) {
    return false;
  }
  struct SidOwner {
    PSID sid;
    ~SidOwner() { FreeSid(sid); }
  } sid{rawSid};

  // A descriptor whose ACL holds one entry granting the group read and
  // write; ACL header, entry and SID make the SID's length plus 16 bytes.
  std::vector<BYTE> descriptor(SECURITY_DESCRIPTOR_MIN_LENGTH);
  std::vector<BYTE> aclBytes(getLengthSid(sid.sid) + 16);
  PACL acl = reinterpret_cast<PACL>(aclBytes.data());
  const DWORD kAccessRead = 1, kAccessWrite = 2;
  if (!initDescriptor(descriptor.data(), SECURITY_DESCRIPTOR_REVISION)) return false;
  if (!initializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION2)) return false;
  if (!addAce(acl, ACL_REVISION2, kAccessRead | kAccessWrite, sid.sid)) return false;
  if (!setDacl(descriptor.data(), TRUE, acl, FALSE)) return false;
  if (!setGroup(descriptor.data(), sid.sid, FALSE)) return false;
  if (!setOwner(descriptor.data(), sid.sid, FALSE)) return false;
  if (!isValid(descriptor.data())) return false;

  GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
  BYTE privileges[20] = {};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!accessCheck(descriptor.data(), token.get(), kAccessRead, &mapping,
                   reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesSize, &granted, &status)) {
    return false;
  }
  return status != FALSE;
}

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

bool GetShellFolder(bool common, int location, const XString& library, XString* folder) {
  static const int kCommon[4] = {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY,
                                 CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP};
  static const int kUser[4] = {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_STARTUP};
  CORV_ASSERT(location >= 0 && location <= 3);
  int csidl = (IsWindowsNT() && common) ? kCommon[location] : kUser[location];

  using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  win32::UniqueModule module = win32::LoadLibraryAt(library);
  if (!module) return false;
  auto getFolderPath = Lookup<GetFolderPathFn>(module.get(), "SHGetFolderPathA");
  if (!getFolderPath) return false;
  char path[MAX_PATH + 1] = {};
  if (getFolderPath(nullptr, csidl, nullptr, 0, path) < 0) return false;
  *folder = ToWide(path);
  return true;
}

void* CreateRegistryKeyPath(int root, const XString& path, Logger& log, bool alwaysLogLast, bool* existed) {
  HKEY base = RootKey(root);
  XString prefix = RegistryRootPrefix(root);
  win32::UniqueKey current;
  size_t at = 0;
  bool last = false;
  bool lastExisted = false;
  while (!last) {
    size_t sep = path.find(u'\\', at);
    last = sep == XString::npos;
    XString sub = last ? path : path.substr(0, sep);
    at = last ? path.size() : sep + 1;
    HKEY created = nullptr;
    DWORD disposition = 0;
    {
      // A key about to be made is journaled before it exists.
      win32::UniqueKey existing;
      if (RegOpenKeyExA(base, ToAnsi(sub).c_str(), 0, KEY_READ, existing.out()) != ERROR_SUCCESS) {
        log.Announce(kLogRegistryKey, prefix + sub);
      }
    }
    if (RegCreateKeyExA(base, ToAnsi(sub).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &created, &disposition) != ERROR_SUCCESS) {
      return nullptr;
    }
    current.reset(created);
    lastExisted = disposition == REG_OPENED_EXISTING_KEY;
    XString fullName = prefix + sub;
    if (last && lastExisted && alwaysLogLast && !log.contains(kLogRegistryKey, fullName)) {
      // A key that was there before is logged too: keep what it holds, or a
      // rollback could only delete it.
      RestoreLog* restore = log.restoreLog();
      if (restore && !restore->hasKey(fullName)) {
        std::optional<KeySnapshot> snapshot = SnapshotRegistryKey(fullName, std::nullopt);
        if (!snapshot) return nullptr;
        restore->saveKey(std::move(*snapshot));
      }
    }
    if (!lastExisted || (last && alwaysLogLast)) log.LogRegistryKey(fullName);
  }
  if (existed) *existed = lastExisted;
  HKEY result = current.get();
  current.release();
  return result;
}

namespace {

// The root and the subkey path of a name with its root prefix; false for
// an unknown prefix.
bool SplitKeyName(const XString& fullName, HKEY* root, AnsiString* sub) {
  for (int r : {kRootLocalMachine, kRootCurrentUser, kRootClassesRoot}) {
    XString prefix = RegistryRootPrefix(r);
    if (fullName.compare(0, prefix.size(), prefix) == 0) {
      *root = RootKey(r);
      *sub = ToAnsi(fullName.substr(prefix.size()));
      return true;
    }
  }
  return false;
}

// One value of an open key, by name.
std::optional<SavedValue> ReadValue(HKEY key, const AnsiString& name) {
  SavedValue value;
  value.name = name;
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return value;  // kept as missing
  // The value may grow between asking its size and reading it.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    value.data.assign(size, 0);
    DWORD got = size;
    status = RegQueryValueExA(key, name.c_str(), nullptr, &type, value.data.empty() ? nullptr : value.data.data(), &got);
    if (status == ERROR_SUCCESS) {
      value.data.resize(got);
      value.existed = true;
      value.type = type;
      return value;
    }
    size = got;
  }
  return std::nullopt;
}

}  // namespace

bool DeleteRegistryKey(const XString& fullName) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitKeyName(fullName, &root, &sub)) return false;
  } catch (const FatalError&) {
    return false;  // a name the code page cannot take
  }
  return RegDeleteKeyA(root, sub.c_str()) == ERROR_SUCCESS;
}

KeyState RegistryKeyState(const XString& fullName) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitKeyName(fullName, &root, &sub)) return KeyState::kMissing;
  } catch (const FatalError&) {
    return KeyState::kMissing;
  }
  win32::UniqueKey key;
  if (RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return KeyState::kMissing;
  DWORD subkeys = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return KeyState::kWithSubkeys;  // what it holds is unknown: never a candidate for deletion
  }
  return subkeys == 0 ? KeyState::kWithoutSubkeys : KeyState::kWithSubkeys;
}

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char kSealValue[] = "InstallLogDigest";

// The uninstall entries (full names) whose "UninstallString", quoted or
// not, names a program that `wanted` accepts.
template <typename Wanted>
std::vector<XString> UninstallEntriesWhere(Wanted wanted) {
  std::vector<XString> entries;
  win32::UniqueKey parent;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, parent.out()) != ERROR_SUCCESS) return entries;
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

std::vector<XString> UninstallEntriesOf(const XString& program) {
  return UninstallEntriesWhere([&](const XString& path) { return FileSys::SameText(path, program); });
}

std::vector<std::string> InstallLogSeals(const XString& folder) {
  std::vector<std::string> seals;
  for (const XString& entry : UninstallEntriesIn(folder)) {
    std::optional<KeySnapshot> value = SnapshotRegistryKey(entry, AnsiString(kSealValue));
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

bool SealInstallLog(const XString& folder, const std::string& seal, Logger* log) {
  bool ok = true;
  for (const XString& entry : UninstallEntriesIn(folder)) {
    RestoreLog* restore = log ? log->restoreLog() : nullptr;
    if (restore && !log->contains(kLogRegistryKey, entry)) {
      // An entry of an earlier run gets its earlier seal back on rollback.
      std::optional<KeySnapshot> earlier = SnapshotRegistryKey(entry, AnsiString(kSealValue));
      if (!earlier) return false;
      if (!restore->hasKey(entry)) restore->saveKey(std::move(*earlier));
      log->LogRegistryKey(entry);
    }
    HKEY root;
    AnsiString sub;
    win32::UniqueKey key;
    ok = SplitKeyName(entry, &root, &sub) &&
         RegOpenKeyExA(root, sub.c_str(), 0, KEY_SET_VALUE, key.out()) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), kSealValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(seal.c_str()),
                        static_cast<DWORD>(seal.size() + 1)) == ERROR_SUCCESS &&
         ok;
  }
  return ok;
}

std::optional<KeySnapshot> SnapshotRegistryKey(const XString& fullName, const std::optional<AnsiString>& valueName) {
  HKEY root;
  AnsiString sub;
  if (!SplitKeyName(fullName, &root, &sub)) return std::nullopt;
  win32::UniqueKey key;
  if (RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return std::nullopt;
  KeySnapshot snapshot;
  snapshot.fullName = fullName;
  snapshot.wholeKey = !valueName;
  if (valueName) {
    std::optional<SavedValue> value = ReadValue(key.get(), *valueName);
    if (!value) return std::nullopt;
    snapshot.values.push_back(std::move(*value));
    return snapshot;
  }
  DWORD count = 0, longestName = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<char> name(longestName + 2);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG status = RegEnumValueA(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return std::nullopt;
    std::optional<SavedValue> value = ReadValue(key.get(), AnsiString(name.data(), length));
    if (!value) return std::nullopt;
    snapshot.values.push_back(std::move(*value));
  }
  return snapshot;
}

bool Win32RegistryRestore::restoreKey(const KeySnapshot& snapshot) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitKeyName(snapshot.fullName, &root, &sub)) return false;
  } catch (const FatalError&) {
    return false;
  }
  win32::UniqueKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                      key.out(), &disposition) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = true;
  if (snapshot.wholeKey) {
    // Values the installation added go; names are gathered first, as
    // deleting while enumerating would skip some.
    std::optional<KeySnapshot> now = SnapshotRegistryKey(snapshot.fullName, std::nullopt);
    if (!now) return false;
    for (const SavedValue& v : now->values) {
      bool earlier = false;
      for (const SavedValue& w : snapshot.values) earlier = earlier || (w.existed && w.name == v.name);
      if (!earlier) ok = RegDeleteValueA(key.get(), v.name.c_str()) == ERROR_SUCCESS && ok;
    }
  }
  for (const SavedValue& v : snapshot.values) {
    if (v.existed) {
      ok = RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.empty() ? nullptr : v.data.data(),
                          static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS && ok;
    } else {
      LONG status = RegDeleteValueA(key.get(), v.name.c_str());
      ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
    }
  }
  return ok;
}

bool Win32RegistryRestore::deleteCreatedKey(const XString& fullName) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitKeyName(fullName, &root, &sub)) return false;
  } catch (const FatalError&) {
    return false;
  }
  {
    win32::UniqueKey key;
    if (RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0) {
      return false;  // Windows 95/98/Me would delete the subkeys with it
    }
  }
  return RegDeleteKeyA(root, sub.c_str()) == ERROR_SUCCESS;
}

OptString ReadRegistryString(int root, const XString& key, const XString& value) {
  win32::UniqueKey open;
  if (RegOpenKeyExA(RootKey(root), ToAnsi(key).c_str(), 0, KEY_READ, open.out()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  AnsiString name = ToAnsi(value);
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(open.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::vector<char> buffer(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(open.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  try {
    return ToWide(AnsiString(buffer.data()));
  } catch (const Exception&) {
    return std::nullopt;
  }
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
  if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface, shellLink.out()))) {
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
  if (FAILED(shellLink->QueryInterface(kPersistFileInterface, persist.out()))) return false;
  // An existing shortcut of the same name is kept (copied, since the save
  // writes over it in place) for a rollback to put back.
  if (RestoreLog* restore = log.restoreLog(); restore && restore->saveFile(link, log, true) != 0) return false;
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
    win32::UniqueKey key(static_cast<HKEY>(CreateRegistryKeyPath(kRootClassesRoot, path, log, true, nullptr)));
    if (!key || !SetString(key.get(), nullptr, value)) return false;
  }
  return true;
}

bool WriteProductKey(const XString& name, const XString& destination, bool commonProfile, Logger& log) {
  XString path = Format(u"%s%s%s", XString(u"Software"), XString(u"\\"), name);
  int root = commonProfile ? kRootLocalMachine : kRootCurrentUser;
  win32::UniqueKey key(static_cast<HKEY>(CreateRegistryKeyPath(root, path, log, true, nullptr)));
  return key && SetString(key.get(), "InstallPath", destination);
}

bool CreateUninstallEntry(const XString& packageName, const XString& command, const XString& location,
                          Logger& log, const RecordEntryDetails& details) {
  win32::UniqueKey key;
  for (uint32_t counter = 0;; ++counter) {
    XString path = XString(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                   UninstallKeyName(packageName, counter);
    bool existed = false;
    key.reset(static_cast<HKEY>(CreateRegistryKeyPath(kRootLocalMachine, path, log, false, &existed)));
    if (!key) return false;
    if (!existed) break;
  }
  // Unquoted, "C:\Program Files\App\uninstall.exe" would be started as
  // "C:\Program.exe" where such a file exists.
  const XString quoted = command.find(u' ') == XString::npos ? command : u"\"" + command + u"\"";
  if (!SetString(key.get(), "DisplayName", packageName) || !SetString(key.get(), "UninstallString", quoted) ||
      !SetString(key.get(), "InstallLocation", location)) {
    return false;
  }
  // What deployment tools run to remove the product without a question.
  if (details.quietUninstaller && !SetString(key.get(), "QuietUninstallString", quoted + u" /batch")) return false;
  const std::pair<const char*, const OptString*> texts[] = {
      {"DisplayIcon", &details.displayIcon}, {"DisplayVersion", &details.displayVersion}, {"Publisher", &details.publisher}};
  for (const auto& [name, value] : texts) {
    if (*value) SetString(key.get(), name, **value);
  }
  if (details.estimatedSize != 0) {
    const DWORD size = details.estimatedSize;
    RegSetValueExA(key.get(), "EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), sizeof size);
  }
  return true;
}

std::vector<XString> ListProgramGroups(bool commonProfile, const XString& shfolderLibrary) {
  std::vector<XString> groups;
  XString folder;
  if (!GetShellFolder(commonProfile, kLocationProgramFolder, shfolderLibrary, &folder)) return groups;
  WIN32_FIND_DATAA data;
  win32::UniqueFind find(FindFirstFileA(ToAnsi(folder + u"\\*").c_str(), &data));
  if (!find) return groups;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    AnsiString name = data.cFileName;
    if (name == "." || name == "..") continue;
    groups.push_back(ToWide(name));
  } while (FindNextFileA(find.get(), &data));
  return groups;
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

// Files, folders and disks on Windows: the C runtime's descriptor functions
// and the ANSI forms of the Win32 calls.
#include "util/win32/corvwindows.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utime.h>

#include <cerrno>
#include <cstdio>
#include <share.h>
#include <vector>

#include "util/file.h"
#include "util/fileplatform.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv::platform {

namespace {

constexpr DWORD kMaxPath = MAX_PATH;  // 260

// A system answer of up to 260 characters written into `buf`: `length` is
// the characters written; 0 or a length that does not fit is a failure.
std::optional<AnsiString> Fitted(const char* buf, DWORD length) {
  if (length == 0 || length >= kMaxPath) return std::nullopt;
  return AnsiString(buf, length);
}

}  // namespace

bool StatPath(const AnsiString& path, PathStat* out) {
  struct _stati64 st;
  if (_stati64(path.c_str(), &st) != 0) return false;
  // Sizes of 2 GiB or more do not fit the runtime's 32-bit size: unknown
  // rather than cut to a wrong value.
  out->size = st.st_size <= INT32_MAX ? static_cast<int64_t>(st.st_size) : -1;
  out->modified = static_cast<int32_t>(st.st_mtime);
  out->isDirectory = (st.st_mode & _S_IFDIR) != 0;
  out->readable = (st.st_mode & _S_IREAD) != 0;
  out->writable = (st.st_mode & _S_IWRITE) != 0;
  out->executable = (st.st_mode & _S_IEXEC) != 0;
  return true;
}

int FdOpen(const AnsiString& path, int mode) {
  int flags = 0;
  switch (mode) {
    case kFileRead: flags = _O_RDONLY; break;
    case kFileWrite: flags = _O_WRONLY | _O_CREAT | _O_TRUNC; break;
    case kFileAppend: flags = _O_WRONLY | _O_CREAT | _O_APPEND; break;
    case kFileReadWrite: flags = _O_RDWR; break;
    default: return -1;
  }
  return _open(path.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE);
}

int FdCreateNew(const AnsiString& path) {
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

int FdOpenLocked(const AnsiString& path, bool write) {
  int flags = write ? _O_WRONLY | _O_CREAT | _O_TRUNC : _O_RDONLY;
  return _sopen(path.c_str(), flags | _O_BINARY, _SH_DENYWR, _S_IREAD | _S_IWRITE);
}

int32_t FdRead(int fd, void* buffer, uint32_t count) {
  if (count > INT32_MAX) count = INT32_MAX;
  return _read(fd, buffer, count);
}

int32_t FdWrite(int fd, const void* buffer, uint32_t count) {
  if (count > INT32_MAX) return -1;
  return _write(fd, buffer, count);
}

int FdClose(int fd) { return _close(fd) == 0 ? 0 : -1; }

int FdFlush(int fd) { return _commit(fd) == 0 ? 0 : -1; }

int64_t FdSeek(int fd, int64_t offset, int origin) {
  int whence = origin == kSeekStart ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  return _lseeki64(fd, offset, whence);
}

bool IsLink(const AnsiString& path) { return QueryPath(path).isLink; }

PathKind QueryPath(const AnsiString& path) {
  // Windows 95/98/Me know no reparse points and never set the bit.
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind{};
  return PathKind{true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

int PathRemove(const AnsiString& path) { return std::remove(path.c_str()) == 0 ? 0 : -1; }

int PathMove(const AnsiString& from, const AnsiString& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  // Windows 95, 98 and Me have no MoveFileEx: remove, then rename.
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return -1;
  DWORD attributes = GetFileAttributesA(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  if (attributes != INVALID_FILE_ATTRIBUTES && !DeleteFileA(to.c_str())) return -1;
  return MoveFileA(from.c_str(), to.c_str()) ? 0 : -1;
}

int PathCopy(const AnsiString& from, const AnsiString& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) ? 0 : -1;
}

int PathSetTime(const AnsiString& path, int32_t time) {
  struct _utimbuf times;
  times.actime = time;
  times.modtime = time;
  return _utime(path.c_str(), &times) == 0 ? 0 : -1;
}

int FdSetTime(int fd, int32_t time) {
  struct _utimbuf times;
  times.actime = time;
  times.modtime = time;
  return _futime(fd, &times) == 0 ? 0 : -1;
}

int PathSetPermissions(const AnsiString& path, int bits) {
  int mode = 0;
  if (bits & kPermissionRead) mode |= _S_IREAD;
  if (bits & kPermissionWrite) mode |= _S_IWRITE;
  if (bits & kPermissionExecute) mode |= _S_IEXEC;
  return _chmod(path.c_str(), mode) == 0 ? 0 : -1;
}

int DirMake(const AnsiString& path) { return _mkdir(path.c_str()) == 0 ? 0 : errno; }

int DirRemove(const AnsiString& path) { return _rmdir(path.c_str()) == 0 ? 0 : -1; }

std::optional<AnsiString> FullPathName(const AnsiString& path) {
  char buf[kMaxPath];
  char* filePart = nullptr;
  return Fitted(buf, GetFullPathNameA(path.c_str(), kMaxPath, buf, &filePart));
}

std::optional<AnsiString> WindowsFolder() {
  char buf[kMaxPath];
  return Fitted(buf, GetWindowsDirectoryA(buf, kMaxPath));
}

std::optional<AnsiString> TempPath() {
  char buf[kMaxPath];
  return Fitted(buf, GetTempPathA(kMaxPath, buf));
}

std::optional<AnsiString> ProgramFilesDir() {
  win32::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                    key.out()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  char buf[kMaxPath];
  DWORD type = 0;
  DWORD size = sizeof buf;
  if (RegQueryValueExA(key.get(), "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  // The stored string need not end in a NUL.
  size_t length = 0;
  while (length < size && buf[length] != '\0') ++length;
  return AnsiString(buf, length);
}

std::optional<uint64_t> DiskFreeSpace(const AnsiString& root) {
  // Missing before Windows 95 OSR2: looked up, not imported.
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto freeSpaceEx = win32::GetProcedure<FreeSpaceEx>(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
  if (freeSpaceEx) {
    ULARGE_INTEGER available, total, totalFree;
    if (!freeSpaceEx(root.c_str(), &available, &total, &totalFree)) return std::nullopt;
    return available.QuadPart;
  }
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    return std::nullopt;
  }
  return uint64_t(sectorsPerCluster) * bytesPerSector * freeClusters;
}

std::optional<uint32_t> DiskClusterSize(const AnsiString& root) {
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    return std::nullopt;
  }
  uint64_t cluster = uint64_t(sectorsPerCluster) * bytesPerSector;
  if (cluster == 0 || cluster > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(cluster);
}

bool FolderHasEntries(const AnsiString& path) {
  bool any = false;
  win32::ForEachFolderEntry(path, [&](const char*, bool) {
    any = true;
    return false;
  });
  return any;
}

std::vector<AnsiString> ListFolders(const AnsiString& path) {
  std::vector<AnsiString> names;
  win32::ForEachFolderEntry(path, [&](const char* name, bool isFolder) {
    if (isFolder) names.emplace_back(name);
    return true;
  });
  return names;
}

bool OwnedByCurrentUser(const AnsiString& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  DWORD needed = 0;
  if (!GetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed)) {
    // Windows 95, 98 and Me know no owners.
    if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  std::vector<BYTE> descriptor(needed);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
      !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !owner) {
    return false;
  }
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  win32::UniqueHandle token(raw);
  // The user, or the owner the token gives what it creates (for an
  // administrator, the Administrators group).
  for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    if (size == 0) continue;
    std::vector<BYTE> info(size);
    if (!GetTokenInformation(token.get(), kind, info.data(), size, &size)) continue;
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
    if (EqualSid(sid, owner)) return true;
  }
  return false;
}

std::optional<AnsiString> ModuleFileName() {
  char buf[kMaxPath];
  return Fitted(buf, GetModuleFileNameA(nullptr, buf, kMaxPath));
}

XString UpperText(XString text) {
  if (!text.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(&text[0]), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace corv::platform

// Files, folders and disks on the host: POSIX calls, with the installer's `\`
// turned into `/` at each call. A path that begins with `\` or `/` is
// absolute; any other path is relative to the current folder, drive forms
// ("C:\App") included: the host has no drives, and those are normalised as
// text only.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/file.h"
#include "util/fileplatform.h"

namespace corv::platform {

namespace {

constexpr size_t kMaxPath = 260;

std::string Native(const AnsiString& path) {
  std::string s = path;
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

}  // namespace

bool StatPath(const AnsiString& path, PathStat* out) {
  struct stat st;
  if (path.empty() || ::stat(Native(path).c_str(), &st) != 0) return false;
  // The installer's sizes are signed 32 bits: 2 GiB or more is unknown
  // rather than cut to a wrong value.
  out->size = st.st_size <= INT32_MAX ? static_cast<int64_t>(st.st_size) : -1;
  out->modified = static_cast<int32_t>(st.st_mtime);
  out->isDirectory = S_ISDIR(st.st_mode);
  out->readable = (st.st_mode & S_IRUSR) != 0;
  out->writable = (st.st_mode & S_IWUSR) != 0;
  out->executable = (st.st_mode & S_IXUSR) != 0;
  return true;
}

int FdOpen(const AnsiString& path, int mode) {
  int flags = 0;
  switch (mode) {
    case kFileRead: flags = O_RDONLY; break;
    // A file that is written is never reached through a link.
    case kFileWrite: flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
    case kFileAppend: flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW; break;
    case kFileReadWrite: flags = O_RDWR; break;
    default: return -1;
  }
  if (path.empty()) return -1;
  int fd = ::open(Native(path).c_str(), flags | O_CLOEXEC, 0666);
  if (fd == -1) return -1;
  // The runtime cannot open a folder as a file; POSIX can, for reading.
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int FdCreateNew(const AnsiString& path) {
  if (path.empty()) return -1;
  // O_EXCL never follows a link, not even a dangling one.
  return ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int FdOpenLocked(const AnsiString& path, bool write) {
  if (path.empty()) return -1;
  // Truncated only once locked: a file another process holds stays whole.
  int flags = write ? O_WRONLY | O_CREAT : O_RDONLY;
  int fd = ::open(Native(path).c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd == -1) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (write && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int32_t FdRead(int fd, void* buffer, uint32_t count) {
  if (count > INT32_MAX) count = INT32_MAX;
  ssize_t got;
  do {
    got = ::read(fd, buffer, count);
  } while (got < 0 && errno == EINTR);
  return static_cast<int32_t>(got);
}

int32_t FdWrite(int fd, const void* buffer, uint32_t count) {
  if (count > INT32_MAX) return -1;
  const char* p = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<int32_t>(done) : -1;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int FdClose(int fd) { return ::close(fd) == 0 ? 0 : -1; }

int FdFlush(int fd) { return ::fsync(fd) == 0 ? 0 : -1; }

int64_t FdSeek(int fd, int64_t offset, int origin) {
  int whence = origin == kSeekStart ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
  return at == static_cast<off_t>(-1) ? -1 : static_cast<int64_t>(at);
}

bool IsLink(const AnsiString& path) { return QueryPath(path).isLink; }

PathKind QueryPath(const AnsiString& path) {
  struct stat st;
  if (path.empty() || ::lstat(Native(path).c_str(), &st) != 0) return PathKind{};
  return PathKind{true, S_ISDIR(st.st_mode), S_ISLNK(st.st_mode)};
}

int PathRemove(const AnsiString& path) {
  // The runtime's remove deletes files only.
  struct stat st;
  if (path.empty() || ::lstat(Native(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return ::unlink(Native(path).c_str()) == 0 ? 0 : -1;
}

int PathMove(const AnsiString& from, const AnsiString& to) {
  struct stat st;
  if (from.empty() || to.empty() || ::lstat(Native(from).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  if (::lstat(Native(to).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return -1;
  return ::rename(Native(from).c_str(), Native(to).c_str()) == 0 ? 0 : -1;
}

int PathCopy(const AnsiString& from, const AnsiString& to) {
  struct stat st;
  if (from.empty() || to.empty() || ::stat(Native(from).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  int in = ::open(Native(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (in == -1) return -1;
  int out = ::open(Native(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
  if (out == -1) {
    ::close(in);
    return -1;
  }
  bool ok = true;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t at = 0; at < got;) {
      ssize_t put = ::write(out, buffer.data() + at, static_cast<size_t>(got - at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        break;
      }
      at += put;
    }
    if (!ok) break;
  }
  ::close(in);
  ok = ::close(out) == 0 && ok;
  struct utimbuf times;
  times.actime = st.st_atime;
  times.modtime = st.st_mtime;
  ok = ok && ::utime(Native(to).c_str(), &times) == 0 && ::chmod(Native(to).c_str(), st.st_mode & 07777) == 0;
  return ok ? 0 : -1;
}

int PathSetTime(const AnsiString& path, int32_t time) {
  struct utimbuf times;
  times.actime = time;
  times.modtime = time;
  return ::utime(Native(path).c_str(), &times) == 0 ? 0 : -1;
}

int FdSetTime(int fd, int32_t time) {
  const struct timespec times[2] = {{time, 0}, {time, 0}};
  return ::futimens(fd, times) == 0 ? 0 : -1;
}

int PathSetPermissions(const AnsiString& path, int bits) {
  mode_t mode = 0;
  if (bits & kPermissionRead) mode |= S_IRUSR | S_IRGRP | S_IROTH;
  if (bits & kPermissionWrite) mode |= S_IWUSR;
  if (bits & kPermissionExecute) mode |= S_IXUSR | S_IXGRP | S_IXOTH;
  return ::chmod(Native(path).c_str(), mode) == 0 ? 0 : -1;
}

int DirMake(const AnsiString& path) {
  if (path.empty()) return ENOENT;
  return ::mkdir(Native(path).c_str(), 0777) == 0 ? 0 : errno;
}

int DirMakePrivate(const AnsiString& path) {
  if (path.empty()) return ENOENT;
  return ::mkdir(Native(path).c_str(), 0700) == 0 ? 0 : errno;
}

bool RandomBytes(void* out, size_t count) {
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd == -1) return false;
  bool ok = FdRead(fd, out, static_cast<uint32_t>(count)) == static_cast<int32_t>(count);
  ::close(fd);
  return ok;
}

int DirRemove(const AnsiString& path) {
  if (path.empty()) return -1;
  return ::rmdir(Native(path).c_str()) == 0 ? 0 : -1;
}

std::optional<AnsiString> FullPathName(const AnsiString& path) {
  if (path.empty()) return std::nullopt;
  std::string s = path;
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  // The root that stays, and the rest whose `.` and `..` are resolved.
  std::string root;
  std::string rest;
  if (s.size() >= 2 && s[1] == ':') {
    root = s.substr(0, 2) + "\\";
    rest = s.substr(2);
  } else if (s.compare(0, 2, "\\\\") == 0) {
    size_t server = s.find('\\', 2);
    size_t share = server == std::string::npos ? std::string::npos : s.find('\\', server + 1);
    root = share == std::string::npos ? s : s.substr(0, share);
    rest = share == std::string::npos ? std::string() : s.substr(share);
  } else if (s[0] == '\\') {
    root = "\\";
    rest = s;
  } else {
    std::vector<char> cwd(PATH_MAX);
    if (!::getcwd(cwd.data(), cwd.size())) return std::nullopt;
    root = "\\";
    rest = std::string(cwd.data()) + "\\" + s;
    for (char& c : rest) {
      if (c == '/') c = '\\';
    }
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t end = rest.find('\\', i);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string full = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0 || (full.back() != '\\')) full += '\\';
    full += parts[k];
  }
  if (full.size() >= kMaxPath) return std::nullopt;
  return full;
}

std::optional<AnsiString> WindowsFolder() { return std::nullopt; }

std::optional<AnsiString> TempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.size() >= kMaxPath) return std::nullopt;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::optional<AnsiString> ProgramFilesDir() { return std::nullopt; }

std::optional<uint64_t> DiskFreeSpace(const AnsiString& root) {
  struct statvfs st;
  if (::statvfs(Native(root).c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

std::optional<uint32_t> DiskClusterSize(const AnsiString& root) {
  struct statvfs st;
  if (::statvfs(Native(root).c_str(), &st) != 0 || st.f_frsize == 0 || st.f_frsize > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(st.f_frsize);
}

bool FolderHasEntries(const AnsiString& path) {
  DIR* dir = ::opendir(Native(path).c_str());
  if (!dir) return false;
  bool found = false;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::vector<AnsiString> ListFolders(const AnsiString& path) {
  std::vector<AnsiString> names;
  DIR* dir = ::opendir(Native(path).c_str());
  if (!dir) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::lstat((Native(path) + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

bool OwnedByCurrentUser(const AnsiString& path) {
  struct stat st;
  if (path.empty() || ::lstat(Native(path).c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  return st.st_uid == ::geteuid();
}

std::optional<AnsiString> ModuleFileName() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), PATH_MAX);
  if (n <= 0) return std::nullopt;
  std::string path(buf.data(), static_cast<size_t>(n));
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

XString UpperText(XString text) {
  for (XChar& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<XChar>(c - u'a' + u'A');
  }
  return text;
}

}  // namespace corv::platform

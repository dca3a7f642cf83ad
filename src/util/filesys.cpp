#include "util/filesys.h"

#include <algorithm>
#include <ctime>

#include "util/exceptions.h"
#include "util/fileplatform.h"

namespace corv::FileSys {

XString MakeAbsolutePath(const XString& path, const OptString& base) {
  XString s = path;
  TrimBlanks(s);
  if (!DriveRoot(s) && base) {
    CORV_ASSERT(!base->empty());
    XString joined = *base;
    if (joined.back() != u'\\') joined += u'\\';
    s = joined + s;
  }
  // A trailing `\` goes unless it is the only one: C:\ stays a root.
  if (!s.empty() && s.back() == u'\\' && s.find(u'\\') != s.size() - 1) s.pop_back();
  std::optional<AnsiString> full = platform::FullPathName(ToAnsi(s));
  return full ? ToWide(*full) : s;
}

std::optional<AnsiString> DriveRoot(const XString& path) {
  // With a `\` appended, \\server\share has a root without its own trailing
  // separator too.
  AnsiString a = ToAnsi(path + u"\\");
  if (a.size() >= 2 && a[1] == ':') return a.substr(0, 2);
  if (a.size() >= 2 && a[0] == '\\' && a[1] == '\\') {
    size_t serverEnd = a.find('\\', 2);
    if (serverEnd != AnsiString::npos && serverEnd + 1 < a.size() && a[serverEnd + 1] != '\\') {
      size_t shareEnd = a.find('\\', serverEnd + 1);
      if (shareEnd != AnsiString::npos) return a.substr(0, shareEnd);
    }
  }
  return std::nullopt;
}

OptString RootOfPath(const XString& path) {
  if (std::optional<AnsiString> root = DriveRoot(path)) return ToWide(*root);
  std::optional<AnsiString> full = platform::FullPathName(ToAnsi(path));
  if (!full) return std::nullopt;
  std::optional<AnsiString> root = DriveRoot(ToWide(*full));
  if (!root) return std::nullopt;
  return ToWide(*root);
}

bool IsSeparator(XChar c) { return c == u'\\' || c == u'/'; }

OptString BackPath(const XString& path) {
  const size_t n = path.size();
  auto separatorAt = [&](size_t i) { return i < n && IsSeparator(path[i]); };
  int depth = 0;
  size_t i = 0;
  for (;;) {
    while (separatorAt(i)) ++i;
    if (i >= n) break;
    if (path[i] == u'.' && separatorAt(i + 1)) {
      i += 2;
      continue;
    }
    if (path[i] == u'.' && i + 1 < n && path[i + 1] == u'.' && separatorAt(i + 2)) {
      if (depth == 0) return std::nullopt;
      --depth;
      i += 3;
      continue;
    }
    while (i < n && !IsSeparator(path[i])) ++i;
    if (i >= n) break;  // the file name itself does not count
    ++depth;
  }
  XString result;
  for (int k = 0; k < depth; ++k) {
    if (k > 0) result += u'\\';
    result += u"..";
  }
  return result;
}

Directory SystemDriveRoot() {
  std::optional<AnsiString> windows = platform::WindowsFolder();
  if (windows && windows->size() >= 3 && (*windows)[1] == ':' && (*windows)[2] == '\\') {
    return Directory(windows->substr(0, 3));
  }
  return Directory(XString(u"C:\\"));
}

std::optional<Directory> ProgramFilesFolder() {
  std::optional<AnsiString> folder = platform::ProgramFilesDir();
  if (!folder) return std::nullopt;
  return Directory(*folder);
}

Directory CurrentFolder() { return Directory(XString(u".")); }

std::optional<Directory> TempFolder() {
  std::optional<AnsiString> temp = platform::TempPath();
  if (!temp || temp->empty()) return std::nullopt;
  return Directory(*temp);
}

uint64_t FreeSpace(const XString& path) {
  std::optional<AnsiString> root = DriveRoot(path);
  if (!root) return kUnknownSpace;
  return platform::DiskFreeSpace(*root + "\\").value_or(kUnknownSpace);
}

uint32_t ClusterSize(const XString& path) {
  std::optional<AnsiString> root = DriveRoot(path);
  if (!root) return kDefaultClusterSize;
  std::optional<uint32_t> cluster = platform::DiskClusterSize(*root + "\\");
  return cluster && *cluster > 0 ? *cluster : kDefaultClusterSize;
}

uint64_t SpaceInClusters(const std::vector<int64_t>& sizes, uint32_t cluster) {
  if (cluster == 0) cluster = kDefaultClusterSize;
  uint64_t total = 0;
  for (int64_t size : sizes) {
    if (size <= 0) continue;
    uint64_t bytes = static_cast<uint64_t>(size);
    uint64_t clusters = bytes / cluster + (bytes % cluster != 0 ? 1 : 0);
    uint64_t rounded = clusters * cluster;
    // Sizes near 2^63 cannot be real; the sum saturates rather than wraps.
    total = rounded > kUnknownSpace - total ? kUnknownSpace : total + rounded;
  }
  return total;
}

uint64_t RequiredSpace(const XString& destination, const std::vector<int64_t>& sizes) {
  return SpaceInClusters(sizes, ClusterSize(destination));
}

bool IsEnoughSpace(uint64_t freeSpace, uint64_t required) {
  return freeSpace == kUnknownSpace || freeSpace >= required;
}

bool HasEnoughSpace(const XString& destination, uint64_t required) {
  return IsEnoughSpace(FreeSpace(destination), required);
}

OptString LinkInPath(const XString& path, const XString& root, std::set<XString>* sound) {
  for (size_t end = std::min(root.size(), path.size()); end <= path.size(); ++end) {
    if (end < path.size() && path[end] != u'\\') continue;
    XString prefix = path.substr(0, end);
    if (sound && sound->count(prefix) != 0) continue;
    const PathKind at = File(prefix).kind();
    if (at.isLink) return prefix;
    if (sound && at.isDirectory) sound->insert(std::move(prefix));
  }
  return std::nullopt;
}

bool IsFolderEmpty(const XString& path) { return !platform::FolderHasEntries(ToAnsi(path)); }

std::unique_ptr<File> InstallerModuleFile() {
  std::optional<AnsiString> name = platform::ModuleFileName();
  CORV_ASSERT(name.has_value());
  return std::make_unique<File>(*name);
}

bool SameText(const XString& a, const XString& b) {
  return a.size() == b.size() && platform::UpperText(a) == platform::UpperText(b);
}

XString CaseKey(const XString& text) { return platform::UpperText(text); }

OptString FormatTime(FileTime time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm* local = std::localtime(&t);
  if (!local) return std::nullopt;
  const char* text = std::asctime(local);
  if (!text) return std::nullopt;
  AnsiString s(text);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return ToWide(s);
}

XString ExpandRoot(const XString& text, const XString& root) {
  static const XString kMarker = u"$(Root)";
  XString out;
  size_t from = 0;
  for (size_t at = text.find(kMarker); at != XString::npos; at = text.find(kMarker, from)) {
    out.append(text, from, at - from);
    out += root;
    from = at + kMarker.size();
  }
  out.append(text, from, XString::npos);
  return out;
}

}  // namespace corv::FileSys

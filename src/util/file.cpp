#include "util/file.h"

#include <cerrno>
#include <cstdint>
#include <utility>

#include "util/exceptions.h"
#include "util/fileplatform.h"
#include "util/filesys.h"

namespace corv {

namespace {

// A path made absolute; an empty result is a broken expectation.
XString Absolute(const XString& path, const OptString& base) {
  XString absolute = FileSys::MakeAbsolutePath(path, base);
  CORV_ASSERT(!absolute.empty());
  return absolute;
}

}  // namespace

// ---- Directory ----

Directory::Directory(const XString& path) : wide_(Absolute(path, std::nullopt)), ansi_(ToAnsi(wide_)) {}

Directory::Directory(const AnsiString& path) : Directory(ToWide(path)) {}

Directory::Directory(const Directory& parent, const XString& name)
    : wide_(Absolute(name, parent.widePath())), ansi_(ToAnsi(wide_)) {}

Directory::Directory(Normalised, XString path) : wide_(std::move(path)), ansi_(ToAnsi(wide_)) {}

bool Directory::exists() const {
  platform::PathStat st;
  return platform::StatPath(ansi_, &st);
}

bool Directory::isLink() const { return platform::IsLink(ansi_); }

int Directory::createDirectories(DirectoryListener* listener) const {
  if (exists()) return 0;
  // Each prefix ending before a `\`, then the whole path: the ones before the
  // last fail harmlessly when they exist already or are a drive ("C:").
  int lastError = 0;
  for (size_t end = 0; end <= wide_.size(); ++end) {
    if (end < wide_.size() && wide_[end] != u'\\') continue;
    XString prefix = wide_.substr(0, end);
    if (listener && !prefix.empty()) {
      Directory folder(prefix);
      if (!folder.exists()) listener->folderCreating(folder);
    }
    lastError = prefix.empty() ? ENOENT : platform::DirMake(ToAnsi(prefix));
    if (lastError == 0 && listener) {
      Directory created(prefix);
      listener->folderCreated(created);
    }
  }
  return lastError == 0 || lastError == EEXIST ? 0 : 1;
}

int Directory::createPrivate(DirectoryListener* listener) const {
  int result = platform::DirMakePrivate(ansi_);
  if (result == 0 && listener) listener->folderCreated(*this);
  return result;
}

int Directory::removeDirectory() const { return platform::DirRemove(ansi_) == 0 ? 0 : 1; }

// ---- AbstractFile ----

AbstractFile::AbstractFile(XString widePath) : wide_(std::move(widePath)), ansi_(ToAnsi(wide_)) {}

// ---- File ----

int WriteWholeFile(AbstractFile& file, const void* data, size_t size) {
  if (size > UINT32_MAX || file.open(kFileWrite) != 0) return 1;
  const bool written = (size == 0 || file.write(data, static_cast<uint32_t>(size)) == 0) && file.flush() == 0;
  return file.close() == 0 && written ? 0 : 1;
}

File::File(const XString& path) : AbstractFile(Absolute(path, std::nullopt)) {}

File::File(const AnsiString& path) : File(ToWide(path)) {}

File::File(const Directory& parent, const XString& name)
    : AbstractFile(Absolute(name, parent.widePath())) {}

File::File(const Directory& parent, const AnsiString& name) : File(parent, ToWide(name)) {}

File::~File() {
  if (descriptor_ != -1) platform::FdClose(descriptor_);
}

int File::open(int mode) {
  CORV_ASSERT(descriptor_ == -1);
  CORV_ASSERT(mode >= kFileRead && mode <= kFileReadLocked);
  int fd = mode == kFileWriteLocked  ? platform::FdOpenLocked(ansiPath(), true)
           : mode == kFileReadLocked ? platform::FdOpenLocked(ansiPath(), false)
                                     : platform::FdOpen(ansiPath(), mode);
  if (fd == -1) return 1;
  descriptor_ = fd;
  return 0;
}

int File::createNew() {
  CORV_ASSERT(descriptor_ == -1);
  const int fd = platform::FdCreateNew(ansiPath());
  if (fd == -1) return 1;
  descriptor_ = fd;
  return 0;
}

int32_t File::read(void* buffer, uint32_t count) {
  if (descriptor_ == -1) return -1;
  return platform::FdRead(descriptor_, buffer, count);
}

int File::write(const void* buffer, uint32_t count) {
  if (descriptor_ == -1) return 1;
  int32_t written = platform::FdWrite(descriptor_, buffer, count);
  return written >= 0 && static_cast<uint32_t>(written) == count ? 0 : 1;
}

int File::close() {
  if (descriptor_ == -1) return 1;
  if (platform::FdClose(descriptor_) != 0) return 1;
  descriptor_ = -1;
  return 0;
}

int File::flush() {
  if (descriptor_ == -1) return 1;
  return platform::FdFlush(descriptor_) == 0 ? 0 : 1;
}

int File::moveTo(const File& target) const {
  CORV_ASSERT(descriptor_ == -1);
  return platform::PathMove(ansiPath(), target.ansiPath()) == 0 ? 0 : 1;
}

int File::copyTo(const File& target) const {
  CORV_ASSERT(descriptor_ == -1);
  return platform::PathCopy(ansiPath(), target.ansiPath()) == 0 ? 0 : 1;
}

int File::remove() { return platform::PathRemove(ansiPath()) == 0 ? 0 : 1; }

int64_t File::tell() {
  if (descriptor_ == -1) return -1;
  return platform::FdSeek(descriptor_, 0, kSeekCurrent);
}

int File::seek(int origin, int64_t offset) {
  if (origin < kSeekStart || origin > kSeekEnd || descriptor_ == -1) return 1;
  return platform::FdSeek(descriptor_, offset, origin) == -1 ? 1 : 0;
}

int64_t File::size() {
  platform::PathStat st;
  return platform::StatPath(ansiPath(), &st) ? st.size : -1;
}

bool File::exists() const {
  platform::PathStat st;
  return platform::StatPath(ansiPath(), &st);
}

bool File::isDirectory() const {
  platform::PathStat st;
  return platform::StatPath(ansiPath(), &st) && st.isDirectory;
}

bool File::isLink() const { return platform::IsLink(ansiPath()); }

PathKind File::kind() const { return platform::QueryPath(ansiPath()); }

FileTime File::modificationTime() const {
  platform::PathStat st;
  return platform::StatPath(ansiPath(), &st) ? st.modified : 0;
}

int File::permissions() const {
  platform::PathStat st;
  if (!platform::StatPath(ansiPath(), &st)) return 0;
  return (st.readable ? kPermissionRead : 0) | (st.writable ? kPermissionWrite : 0) |
         (st.executable ? kPermissionExecute : 0);
}

int File::setModificationTime(FileTime time) {
  // Restoring the time of an open file would be undone by its next write.
  CORV_ASSERT_AT(descriptor_ == -1, 486);
  return platform::PathSetTime(ansiPath(), time) == 0 ? 0 : 1;
}

int File::closeWithTime(FileTime time) {
  if (descriptor_ == -1) return 1;
  const int timed = platform::FdSetTime(descriptor_, time);
  const int closed = close();
  return timed == 0 && closed == 0 ? 0 : 1;
}

int File::setPermissions(int bits) {
  return platform::PathSetPermissions(ansiPath(), bits) == 0 ? 0 : 1;
}

bool File::isOlderThan(FileTime time) const { return modificationTime() < time; }

std::optional<Directory> File::parentDirectory() const {
  size_t last = widePath().rfind(u'\\');
  if (last == XString::npos) return std::nullopt;
  CORV_ASSERT(last != 0);
  // A prefix of a normalised path is normalised: taken as it is, so that the
  // folder of C:\x.txt is the drive C: and not the drive's current folder.
  return Directory(Directory::Normalised(), widePath().substr(0, last));
}

}  // namespace corv

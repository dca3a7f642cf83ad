// Files and folders.
//
// Every file the installer touches, its own executable included, goes through
// `File` (a C-runtime file descriptor with 64-bit positions) and every folder
// through `Directory` (a path value with folder operations). Paths are wide
// strings made absolute and normalised at construction (FileSys::
// MakeAbsolutePath); each object also keeps the path in the ANSI code page,
// converted once, and every system call uses that copy. On the host the ANSI
// path is UTF-8 and `\` becomes `/` at the system call, so a path such as
// "C:\x" is simply a relative path there (see util/filesys.h).
//
// Operations that can fail return an int that is 0 on success and non-zero on
// failure (unless said otherwise) and never throw; a failed operation leaves
// the object as it was. Misuse by the caller is an AssertionFailedError.
// Constructors throw only what the code-page conversion throws (FatalError
// 1055 for a text the ANSI code page cannot take).
#pragma once

#include <cstdint>
#include <optional>

#include "util/xstring.h"

namespace corv {

// What stands at a path: nothing, a file or a folder, and whether it is a
// symbolic link, junction or other reparse point.
struct PathKind {
  bool exists = false;
  bool isDirectory = false;
  bool isLink = false;
};

class Directory;

// Told of each folder that Directory::createDirectories actually created,
// parent first. The install log's listener records them so that undoing the
// log removes exactly those folders.
class DirectoryListener {
public:
  virtual ~DirectoryListener() = default;
  virtual void folderCreated(const Directory& folder) = 0;
  // Told of each folder that is missing, just before it is created.
  virtual void folderCreating(const Directory& folder) { (void)folder; }
};

// A folder path. A value: copyable, no open state.
class Directory {
public:
  // From a wide or an ANSI path, made absolute against the current folder;
  // or from a parent folder and a name relative to it. A path that cannot be
  // made absolute is an assertion failure.
  explicit Directory(const XString& path);
  explicit Directory(const AnsiString& path);
  Directory(const Directory& parent, const XString& name);

  // Something (a file or a folder) exists at the path.
  bool exists() const;
  // The path itself is a symbolic link, junction or other reparse point.
  bool isLink() const;
  // Creates the folder and its missing parents. Each folder this call made
  // is passed to `listener` (if given), parent first. 0 if the folder exists
  // afterwards (made now, or there already), non-zero otherwise.
  int createDirectories(DirectoryListener* listener = nullptr) const;
  // Creates this one folder anew and private (see the folder of the run's
  // temporary files): 0 when made; EEXIST when anything, a link included,
  // is at the path already (nothing there is adopted); another errno value
  // otherwise. `listener` (if given) learns of the folder once made.
  int createPrivate(DirectoryListener* listener = nullptr) const;
  // Removes the folder; only an empty folder can be removed. Non-zero on
  // failure.
  int removeDirectory() const;

  const XString& widePath() const { return wide_; }
  const AnsiString& ansiPath() const { return ansi_; }

private:
  friend class File;
  struct Normalised {};
  Directory(Normalised, XString path);

  XString wide_;
  AnsiString ansi_;
};

// File open modes, all binary.
enum FileMode : int {
  kFileRead = 1,        // read only
  kFileWrite = 2,       // write only, create, truncate
  kFileAppend = 3,      // write only, create, append
  kFileReadWrite = 4,   // read and write, the file must exist
  // No other process can open the file for writing while it is open so;
  // opening fails when another holds it so.
  kFileWriteLocked = 5, // write only, create, truncate
  kFileReadLocked = 6,  // read only
};

// Seek origins.
enum SeekOrigin : int {
  kSeekStart = 1,
  kSeekCurrent = 2,
  kSeekEnd = 3,
};

// Permission bits of File::permissions and File::setPermissions.
enum FilePermission : int {
  kPermissionRead = 1,
  kPermissionWrite = 2,
  kPermissionExecute = 4,
};

// Time of a file: seconds since 1 January 1970, UTC, as the 32-bit value of
// the C runtime.
using FileTime = int32_t;

// The file interface: what readers and writers of files need. `File` is the
// implementation over the C runtime; tests and fuzz targets may provide
// others (a file in memory).
class AbstractFile {
public:
  AbstractFile(const AbstractFile&) = delete;
  AbstractFile& operator=(const AbstractFile&) = delete;
  virtual ~AbstractFile() = default;

  // Opens the closed file in one of the FileMode modes. Opening an open file
  // or an unknown mode is an assertion failure. Non-zero on failure (the
  // file stays closed).
  virtual int open(int mode) = 0;
  // Reads up to `count` bytes: the number read, 0 at the end of the file, a
  // negative value on error.
  virtual int32_t read(void* buffer, uint32_t count) = 0;
  // Writes `count` bytes; non-zero unless all of them were written.
  virtual int write(const void* buffer, uint32_t count) = 0;
  // Non-zero if the file was not open or closing failed; closed afterwards
  // when it succeeds.
  virtual int close() = 0;
  // Deletes the file; non-zero on failure.
  virtual int remove() = 0;
  // The current position, -1 on failure.
  virtual int64_t tell() = 0;
  // Moves by `offset` from a SeekOrigin; non-zero on failure (an unknown
  // origin fails without moving).
  virtual int seek(int origin, int64_t offset) = 0;
  // The size in bytes, -1 if it cannot be had.
  virtual int64_t size() = 0;
  // Writes what the system still holds of the open file to the disk;
  // non-zero on failure. Files that live in memory have nothing to flush.
  virtual int flush() { return 0; }

  const XString& widePath() const { return wide_; }
  const AnsiString& ansiPath() const { return ansi_; }

protected:
  // Keeps `widePath` as it is, and its ANSI form.
  explicit AbstractFile(XString widePath);

private:
  XString wide_;
  AnsiString ansi_;
};

// Writes `size` bytes as the whole content of the closed `file` (created or
// truncated), flushes them to the disk and closes it. Non-zero on any
// failure; the file is closed then too.
int WriteWholeFile(AbstractFile& file, const void* data, size_t size);

// A file on disk over a C-runtime descriptor. A new File is closed; the
// destructor closes an open descriptor without reporting.
class File : public AbstractFile {
public:
  explicit File(const XString& path);
  explicit File(const AnsiString& path);
  File(const Directory& parent, const XString& name);
  File(const Directory& parent, const AnsiString& name);
  ~File() override;

  int open(int mode) override;
  // Opens the closed file for writing as a new one, as kFileWrite does,
  // where nothing of its name is there yet: one question to the system
  // fewer than asking first. Non-zero (and closed) when anything of the
  // name is there (a file, a folder or a link, dangling or not) or it
  // cannot be created. Opening an open file is an assertion failure.
  int createNew();
  int32_t read(void* buffer, uint32_t count) override;
  int write(const void* buffer, uint32_t count) override;
  int close() override;
  int remove() override;
  int64_t tell() override;
  int seek(int origin, int64_t offset) override;
  // Writes what the system still holds of the open file to the disk;
  // non-zero if the file is not open or the flush failed.
  int flush() override;
  // Renames the closed file to `target`, replacing a file there; times and
  // attributes go with it. Non-zero on failure (nothing moved).
  int moveTo(const File& target) const;
  // Copies the closed file to `target` (replacing a file there) with its
  // modification time and attributes. Non-zero on failure.
  int copyTo(const File& target) const;
  // The size, a 32-bit value of the C runtime widened: files of 2 GiB or
  // more are outside what it can tell, and give -1 like a missing file.
  int64_t size() override;

  // Something (a file or a folder) exists at the path.
  bool exists() const;
  // A folder exists at the path.
  bool isDirectory() const;
  // The path itself is a symbolic link, junction or other reparse point.
  bool isLink() const;
  // All three at once, in one question to the system.
  PathKind kind() const;
  // The modification time; 0 if it cannot be had.
  FileTime modificationTime() const;
  // FilePermission bits; 0 if they cannot be had.
  int permissions() const;
  // Sets the access and the modification time. The file must be closed
  // (assertion failure otherwise). Non-zero on failure.
  int setModificationTime(FileTime time);
  // Sets both times through the open file, which is written no more, and
  // closes it: one open of the file fewer. Non-zero on failure.
  int closeWithTime(FileTime time);
  // Sets the FilePermission bits; non-zero on failure.
  int setPermissions(int bits);
  // The modification time is before `time` (signed comparison).
  bool isOlderThan(FileTime time) const;

  // The folder of the path up to, not including, its last `\`, taken as it
  // is (C:\x.txt gives C:); none for a path without one. A path whose last
  // `\` is its first character is an assertion failure.
  std::optional<Directory> parentDirectory() const;

  bool isOpen() const { return descriptor_ != -1; }

private:
  int descriptor_ = -1;
};

}  // namespace corv

// What files, folders and the file-system layer need of the system; one
// implementation per platform (util/win32: the C runtime's descriptor
// functions and the Win32 API; util/posix: POSIX calls, with `\` turned into
// `/` at each call). Every path is in the ANSI code page.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "util/file.h"
#include "util/xstring.h"

namespace corv::platform {

// What the C runtime's stat tells of a path.
struct PathStat {
  int64_t size = 0;       // below 2 GiB; -1 for a larger file
  int32_t modified = 0;   // seconds since 1970, UTC
  bool isDirectory = false;
  bool readable = false;
  bool writable = false;
  bool executable = false;
};

// Stat of a path; false if there is nothing there or it cannot be asked.
bool StatPath(const AnsiString& path, PathStat* out);

// Opens in a FileMode (1..4), binary, a new file readable and writable: the
// descriptor, or -1.
int FdOpen(const AnsiString& path, int mode);
// Creates a new file for writing, binary, readable and writable: the
// descriptor, or -1, also when anything of the name is there (a file, a
// folder or a link, dangling or not).
int FdCreateNew(const AnsiString& path);
// Opens for reading (`write` false) or creates for writing (`write` true,
// truncating) so that no other process can open it for writing while it is
// open: the descriptor, or -1 when it cannot be opened or another process
// holds it so.
int FdOpenLocked(const AnsiString& path, bool write);
// Bytes read, 0 at the end, negative on error.
int32_t FdRead(int fd, void* buffer, uint32_t count);
// Bytes written, negative on error.
int32_t FdWrite(int fd, const void* buffer, uint32_t count);
// 0 on success.
int FdClose(int fd);
// Writes what the system still holds of the file to the disk; 0 on success.
int FdFlush(int fd);
// Moves by `offset` from a SeekOrigin (1..3): the new position, or -1.
int64_t FdSeek(int fd, int64_t offset, int origin);

// True when `path` itself is a symbolic link, a junction or another reparse
// point (the link is looked at, not followed); false when it is none or
// nothing is there.
bool IsLink(const AnsiString& path);

// What stands at `path`, in one question to the system (the link is looked
// at, not followed).
PathKind QueryPath(const AnsiString& path);

// 0 on success.
int PathRemove(const AnsiString& path);
// Renames a file, replacing a file at `to`; on a system that cannot replace
// in one step, the file at `to` is removed first. 0 on success.
int PathMove(const AnsiString& from, const AnsiString& to);
// Copies a file with its modification time and attributes, replacing a file
// at `to`. 0 on success.
int PathCopy(const AnsiString& from, const AnsiString& to);
int PathSetTime(const AnsiString& path, int32_t time);
// The same through an open descriptor, which the file's next write would
// undo.
int FdSetTime(int fd, int32_t time);
// FilePermission bits (1 read, 2 write, 4 execute).
int PathSetPermissions(const AnsiString& path, int bits);
// 0 on success, else the runtime's errno (EEXIST when something is there).
int DirMake(const AnsiString& path);
// 0 on success.
int DirRemove(const AnsiString& path);
// Creates the one folder `path` anew: EEXIST when anything (a folder, a
// file, a link, even a dangling one) is there already, nothing is adopted.
// Where the system has access rights the folder is private: on Windows NT
// its explicit, not inherited access list lets only the user, the
// administrators and SYSTEM in; on POSIX only the owner. Windows 95/98/Me
// have no rights to set. 0 on success, else an errno value.
int DirMakePrivate(const AnsiString& path);
// Fills `out` from the system's cryptographic random source; false when
// there is none.
bool RandomBytes(void* out, size_t count);

// The system's full path of `path` (`.` and `..` resolved, `/` made `\`,
// relative forms completed), if it fits 260 characters.
std::optional<AnsiString> FullPathName(const AnsiString& path);
// The Windows folder; none on the host.
std::optional<AnsiString> WindowsFolder();
// The temporary folder; none if the system has none.
std::optional<AnsiString> TempPath();
// "ProgramFilesDir" of HKLM\Software\Microsoft\Windows\CurrentVersion as a
// string value; none otherwise (always on the host).
std::optional<AnsiString> ProgramFilesDir();
// Bytes free for the caller on the volume of `root` (X:\ or \\srv\share\);
// none if the system cannot tell.
std::optional<uint64_t> DiskFreeSpace(const AnsiString& root);
// Sectors per cluster times bytes per sector of the volume of `root`.
std::optional<uint32_t> DiskClusterSize(const AnsiString& root);
// Folder enumeration of path\*: true when it finds an entry other than the
// folders "." and "..".
bool FolderHasEntries(const AnsiString& path);
// The names of the folders in `path` (without "." and "..").
std::vector<AnsiString> ListFolders(const AnsiString& path);
// The file or folder at `path` belongs to the user the program runs as (on
// a system without owners, anything does); false for a link, or when it
// cannot be told.
bool OwnedByCurrentUser(const AnsiString& path);
// The running program's own file.
std::optional<AnsiString> ModuleFileName();
// The text in upper case, as names compare ignoring case.
XString UpperText(XString text);

}  // namespace corv::platform

// Paths, folders and disks: stateless functions that compose and inspect
// paths and ask the system about disks. Opening, reading and writing files is
// File's; creating and removing folders is Directory's (util/file.h). The two
// operations that lean on the install log, CreateTempFolder and
// CanCreateFolder, are in kernel/tempfolder.h.
//
// `\` is the separator written; `/` is accepted where said. Every path given
// to the system is converted to the ANSI code page and fits 260 characters.
//
// On the host (POSIX) the same algorithms run over POSIX calls: `\` becomes
// `/` at each call, a path beginning with `\` or `/` is absolute, and a drive
// form such as "C:\App" or a share "\\srv\share" keeps its root but is only
// normalised by text (at the system call it names a relative path). The
// registry does not exist there: ProgramFilesFolder gives none.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "util/file.h"
#include "util/xstring.h"

namespace corv::FileSys {

// Free space that could not be determined.
constexpr uint64_t kUnknownSpace = ~uint64_t(0);
// The unit of RequiredSpace when the destination's cluster size is unknown.
constexpr uint32_t kDefaultClusterSize = 2048;

// `path` trimmed of blanks and tabs; kept as it is if it has a root (see
// DriveRoot), else joined to `base` (which must not be empty: assertion
// failure) when one is given; a trailing `\` dropped unless it is the only
// one (C:\ stays, C:\Tools\ loses it); then normalised by the system (`.`
// and `..` resolved, `/` turned into `\`, relative and drive-relative forms
// completed). When the system cannot normalise it, the unnormalised string.
XString MakeAbsolutePath(const XString& path, const OptString& base = std::nullopt);

// `text` with every "$(Root)" (exactly so written) replaced by `root`, the
// destination folder: the package's arguments name the installed product's
// folder this way.
XString ExpandRoot(const XString& text, const XString& root);

// The root of a path in the ANSI code page: "X:" or "\\server\share"; none
// for a path without a root (relative, "\\server" alone).
std::optional<AnsiString> DriveRoot(const XString& path);

// The wide root of a path; a path without one is resolved against the
// current folder first. None on failure.
OptString RootOfPath(const XString& path);

// The chain of ".." that leads from the folder of the relative file path
// `path` back to its base, joined by `\` (bin\tool.exe gives "..", x.txt
// the empty string); none if the path climbs out of its base. `\` and `/`
// both separate.
OptString BackPath(const XString& path);

// `\` and `/`.
bool IsSeparator(XChar c);

// The root (X:\) of the drive that holds the Windows folder; C:\ when that
// cannot be told.
Directory SystemDriveRoot();

// The "ProgramFilesDir" of the system's current-version key (a string value
// only); none otherwise.
std::optional<Directory> ProgramFilesFolder();

// The current folder.
Directory CurrentFolder();

// The system's temporary folder; none if the system has none.
std::optional<Directory> TempFolder();

// Bytes available to the caller on the volume of `path`; kUnknownSpace if
// the path has no root or the system cannot tell.
uint64_t FreeSpace(const XString& path);

// The cluster size of the volume of `path`; kDefaultClusterSize if the path
// has no root or the system cannot tell.
uint32_t ClusterSize(const XString& path);

// Bytes that files of the given sizes occupy in clusters of `cluster`
// bytes: each size rounded up to whole clusters. Sizes of 0 and negative
// sizes (folder entries, -1) add nothing. `cluster` 0 counts as
// kDefaultClusterSize.
uint64_t SpaceInClusters(const std::vector<int64_t>& sizes, uint32_t cluster);

// Bytes that files of the given sizes (the entries of the main files block)
// occupy on the volume of `destination`.
uint64_t RequiredSpace(const XString& destination, const std::vector<int64_t>& sizes);

// True if the free space of `destination` is unknown or at least `required`.
bool HasEnoughSpace(const XString& destination, uint64_t required);
// The decision of HasEnoughSpace for a known or unknown free space.
bool IsEnoughSpace(uint64_t freeSpace, uint64_t required);

// Whether anything written or deleted at `path` would go elsewhere: the
// first of the folders in `path` from `root` on (a prefix of `path`, itself
// included) and of `path` itself that is a symbolic link, junction or other
// reparse point; none when there is none. Folders in `sound` are not asked
// again; those found sound are added to it.
OptString LinkInPath(const XString& path, const XString& root, std::set<XString>* sound = nullptr);

// True if the folder holds no entry but "." and ".."; also true when it
// cannot be enumerated.
bool IsFolderEmpty(const XString& path);

// The running installer's own file (closed). Failure to find it is an
// assertion failure.
std::unique_ptr<File> InstallerModuleFile();

// The two strings are equal ignoring case (on the host, case of ASCII
// letters only).
bool SameText(const XString& a, const XString& b);
// The text as names compare: equal for two texts that SameText finds equal.
XString CaseKey(const XString& text);

// The local time `time` in the C library's textual form, without its
// trailing line feed ("Thu Jan  1 00:00:00 1970"); none if the time cannot be
// formatted.
OptString FormatTime(FileTime time);

}  // namespace corv::FileSys

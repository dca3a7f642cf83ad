// The run's temporary folder and the folder probe: the two file-system
// operations that lean on the install log. Every folder they create is
// recorded through a log's directory listener, and undoing that log removes
// it again.
#pragma once

#include <functional>

#include "kernel/logger.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv::FileSys {

// Creates a new, private folder for the run's temporary files in the
// system's temporary folder (in the current folder if there is none; a
// missing one is made with its parents): "InstTemp" and 16 hexadecimal
// digits from the system's random source, so that no other user can guess
// it beforehand. The folder is made anew: where anything (a folder, a file,
// a link) has the name already, another name is drawn; nothing is adopted.
// On Windows NT only the user, the administrators and SYSTEM may enter it.
// Every folder created is logged in `tempLog`. FatalError 1104 "Unable to
// create temporary directory %s" with the folder's path on failure.
Directory CreateTempFolder(Logger& tempLog);

// `prefix` and 16 hexadecimal digits from the system's random source (the
// clock, the process and a counter where there is none).
XString RandomFolderName(const XString& prefix);

// The same with the names drawn from `nextName` (for tests and for folders
// of another name).
Directory CreateTempFolder(Logger& tempLog, const std::function<XString()>& nextName);

// True if a folder exists at `path` or can be created there. A missing
// folder is created, with its missing parents, and removed again: the test
// leaves the disk as it found it. Something other than a folder at the path
// answers false. Never throws.
bool CanCreateFolder(const AnsiString& path);

}  // namespace corv::FileSys

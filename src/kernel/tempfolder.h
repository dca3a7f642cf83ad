// The run's temporary folder and the folder probe: the two file-system
// operations that lean on the install log. Every folder they create is
// recorded through a log's directory listener, and undoing that log removes
// it again.
#pragma once

#include "kernel/logger.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv::FileSys {

// Creates the first of InstTemp0, InstTemp1, ... that does not exist yet in
// the system's temporary folder (in the current folder if there is none),
// with any missing parents, logging every folder created in `tempLog`.
// FatalError 1104 "Unable to create temporary directory %s" with the
// folder's path on failure.
Directory CreateTempFolder(Logger& tempLog);

// True if a folder exists at `path` or can be created there. A missing
// folder is created, with its missing parents, and removed again: the test
// leaves the disk as it found it. Something other than a folder at the path
// answers false. Never throws.
bool CanCreateFolder(const AnsiString& path);

}  // namespace corv::FileSys

// Where the installer's process looks for libraries. The installer usually
// runs from a folder others can write to (a downloads folder), so nothing
// may be loaded from there, nor from the current folder, by a bare name.
#pragma once

#include "util/win32/handles.h"
#include "util/xstring.h"

namespace corv::win32 {

// Removes the program's own folder and the current folder from the search
// for libraries loaded by name, as far as the system allows: with
// SetDefaultDllDirectories (Windows 8, and Vista/7 with its update) only the
// system folder is searched; with SetDllDirectoryA alone (XP SP1 on) the
// current folder is dropped; Windows 95 to XP without either go on as
// before. Both are looked up at run time, so that every system starts.
// Called first thing at start-up.
void RestrictLibrarySearch();

// Loads the library at `path`, which must be absolute (assertion failure
// otherwise): never a search by name. The libraries it needs in turn are
// looked for beside it and in the system folder. None on failure.
UniqueModule LoadLibraryAt(const XString& path);

}  // namespace corv::win32

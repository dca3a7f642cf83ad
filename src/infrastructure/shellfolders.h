// The shell's folders for shortcuts, through SHGetFolderPathA of the
// folder-path library the package carries. Windows only.
#pragma once

#include <vector>

#include "util/xstring.h"

namespace corv {

// The folder of a shortcut location (0..3; else an assertion failure)
// through SHGetFolderPathA of `library`; the common folders apply on NT with
// `common` set. Returns false when the library, its entry or the call fails.
bool GetShellFolder(bool common, int location, const XString& library, XString* folder);

// The names of the folders in the Programs folder of the profile.
std::vector<XString> ListProgramGroups(bool commonProfile, const XString& shfolderLibrary);

}  // namespace corv

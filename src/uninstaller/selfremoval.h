// How the uninstaller removes its own file and folder, which cannot go while
// it runs: a copy of it in a new private folder of the temporary folder
// waits for the original to exit, deletes it and the folders it leaves
// empty, and has itself deleted at the next restart (Windows NT: MoveFileEx
// with delay-until-reboot; Windows 95/98/Me: "wininit.ini").
#pragma once

#include <vector>

#include "util/xstring.h"

namespace corv {

// The option that starts the copy's part; not one for users.
inline constexpr char kFinishRemovalOption[] = "/finish-removal";

// Starts the copy, which removes `program` once this process has exited,
// then each of `folders` in order if it is empty by then. Where no copy can
// be started, `program` and the folders are marked for deletion at the next
// restart instead.
void RemoveAfterExit(const XString& program, const std::vector<XString>& folders);

// The copy's part, with the arguments that follow kFinishRemovalOption: the
// handle of the original process, the program, the folders. Always 0: no
// one waits for the copy.
int FinishRemoval(int argc, char** argv);

// Marks a file, or an empty folder, for deletion at the next restart. On
// Windows 95/98/Me folders cannot be marked (false).
bool DeleteAtRestart(const XString& path, bool folder);

}  // namespace corv

// The uninstaller program, "uninstall.exe": removes the installation whose
// "install.log" lies beside its own file.
//
//   uninstall.exe [/batch]
//
// Without /batch it asks once for confirmation (message boxes); with /batch
// it does not ask and prints one result line on standard output (message
// boxes when there is none), like the installer. It undoes every record of
// the log in the log's order with the installer's own undo, removes its own
// uninstall entry, and finally itself and the folders the installation made
// for it (see selfremoval.h). What the user added stays: a folder that still
// holds files the installation did not create, and a registry key with
// subkeys the log does not name.
//
// Exit codes: 0 when everything is removed (kept folders are said in the
// result line); 1 on cancel, when the log cannot be read (then nothing is
// removed), and when something could not be removed (the result line names
// what is left, and "install.log" keeps just that, for another attempt).
#pragma once

namespace corv {

int RunUninstaller(int argc, char** argv);

}  // namespace corv

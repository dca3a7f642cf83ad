// The uninstaller program, "uninstall.exe": removes the installation whose
// "install.log" lies beside its own file.
//
//   uninstall.exe [/batch]
//
// Without /batch it asks once for confirmation (message boxes); with /batch
// it does not ask and prints one result line on standard output (message
// boxes when there is none), like the installer. It undoes every record of
// the log in the log's order with the installer's own undo, then removes its
// own uninstall entries, and finally itself and the folders the
// installation made for it (see selfremoval.h). What the user added stays: a
// folder that still holds files the installation did not create, and a
// registry key with subkeys the log does not name.
//
// The log is trusted only as the installer sealed it: when an uninstall
// entry of a program in its folder holds a seal ("InstallLogDigest"), the
// log must match it, or nothing is removed. A file or folder of the log that
// a link or junction in its path now leads elsewhere is left alone.
//
// Exit codes: 0 when everything is removed (kept folders are said in the
// result line); 1 on cancel, when the log cannot be read or is not the one
// sealed (then nothing is removed), and when something could not be removed
// (the result line names what is left, "install.log" keeps just that and is
// sealed anew, and the uninstall entries stay, for another attempt).
#pragma once

namespace corv {

int RunUninstaller(int argc, char** argv);

}  // namespace corv

// What the installer asks of the running system, each in one place: the
// platform, the user's rights, entries of libraries looked up at run time,
// folder listings and new processes.
#pragma once

#include "util/win32/corvwindows.h"

#include <functional>
#include <optional>

#include "util/win32/handles.h"
#include "util/xstring.h"

namespace corv::win32 {

// True when the system reports the NT platform.
bool IsWindowsNT();

// The system's major version number; 0 when it cannot be read.
int SystemMajorVersion();

// True on Windows NT for a member of the built-in Administrators group (the
// access check against a descriptor granting that group); false on Windows
// 95/98/Me and on any failure.
bool IsAdministrator();

// The entry `name` of `module` as a function of type `Fn`; null when the
// module is null or has no such entry. Entries that some systems lack are
// looked up rather than imported, so that the programs start everywhere.
template <typename Fn>
Fn GetProcedure(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Calls `visit` with the name of each entry of `folder` ("." and ".." left
// out) and whether it is a folder, until `visit` returns false. False when
// the folder cannot be listed.
bool ForEachFolderEntry(const AnsiString& folder, const std::function<bool(const char* name, bool isFolder)>& visit);

// A started process and its main thread.
struct Process {
  UniqueHandle process;
  UniqueHandle thread;
};

// How a process is started (CreateProcessA).
struct ProcessStart {
  const char* program = nullptr;  // the program file; null: the command's first word
  AnsiString command;
  AnsiString folder;              // its current folder
  bool inheritHandles = false;
  DWORD creationFlags = 0;
  bool showWindow = false;        // SW_SHOW rather than the default
};

// Starts a process; none when it cannot be created.
std::optional<Process> StartProcess(const ProcessStart& how);

}  // namespace corv::win32

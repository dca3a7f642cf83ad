// Running the package's programs with CreateProcessA.
#include "util/externalprogram.h"

#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/win32/handles.h"

namespace corv {

namespace {

// The process and its main thread.
struct Process {
  win32::UniqueHandle process;
  win32::UniqueHandle thread;
};

// Creates the process of `command` in the folder `folder`; false when it
// cannot be created.
bool CreateCommandProcess(const AnsiString& command, const XString& folder, bool showWindow, Process* out) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (showWindow) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
  }
  PROCESS_INFORMATION info = {};
  // CreateProcessA may write into the command line.
  AnsiString writable = command;
  const AnsiString current = ToAnsi(folder);
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      current.c_str(), &startup, &info)) {
    return false;
  }
  out->process.reset(info.hProcess);
  out->thread.reset(info.hThread);
  return true;
}

}  // namespace

OptString ComspecVariable() {
  char value[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("COMSPEC", value, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return ToWide(AnsiString(value, length));
}

void ExternalProgram::RunAndWait(const XString& destination) const {
  AnsiString command = CommandLine(destination);
  XString shown = ToWide(command);
  Process child;
  if (!CreateCommandProcess(command, destination, false, &child)) throw FatalError(msg::kCannotExecute, shown);
  DWORD code = 0;
  if (WaitForSingleObject(child.process.get(), INFINITE) == WAIT_FAILED ||
      !GetExitCodeProcess(child.process.get(), &code)) {
    throw FatalError(msg::kCannotExecute, shown);
  }
  if (code != 0) throw FatalError(msg::kExecutionFailed, shown, static_cast<uint32_t>(code));
}

void ExternalProgram::Start(const XString& destination) const {
  AnsiString command = CommandLine(destination);
  Process child;
  if (!CreateCommandProcess(command, destination, true, &child)) throw FatalError(msg::kCannotExecute, ToWide(command));
  WaitForSingleObject(child.process.get(), 1000);
}

}  // namespace corv

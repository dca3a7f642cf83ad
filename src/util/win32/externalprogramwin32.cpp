// Running the package's programs with CreateProcessA.
#include "util/externalprogram.h"

#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/win32/system.h"

namespace corv {

namespace {

// Starts the process of `command` in the folder `folder`, inheriting no
// handles; none when it cannot be created.
std::optional<win32::Process> CreateCommandProcess(const AnsiString& command, const XString& folder,
                                                   bool showWindow) {
  win32::ProcessStart how;
  how.command = command;
  how.folder = ToAnsi(folder);
  how.creationFlags = NORMAL_PRIORITY_CLASS;
  how.showWindow = showWindow;
  return win32::StartProcess(how);
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
  std::optional<win32::Process> child = CreateCommandProcess(command, destination, false);
  if (!child) throw FatalError(msg::kCannotExecute, shown);
  DWORD code = 0;
  if (WaitForSingleObject(child->process.get(), INFINITE) == WAIT_FAILED ||
      !GetExitCodeProcess(child->process.get(), &code)) {
    throw FatalError(msg::kCannotExecute, shown);
  }
  if (code != 0) throw FatalError(msg::kExecutionFailed, shown, static_cast<uint32_t>(code));
}

void ExternalProgram::Start(const XString& destination) const {
  AnsiString command = CommandLine(destination);
  std::optional<win32::Process> child = CreateCommandProcess(command, destination, true);
  if (!child) throw FatalError(msg::kCannotExecute, ToWide(command));
  WaitForSingleObject(child->process.get(), 1000);
}

}  // namespace corv

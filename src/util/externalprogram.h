// A program of the package that the installer runs: the install-run
// program (run and waited for; the installation fails if it fails) or the
// after-run program (started at the very end, not waited for).
//
// Running programs exists on Windows only; on the host every run fails
// (1084, or 1083 for a program that needs the command interpreter, since
// the host has no "COMSPEC"). CommandLine is portable.
#pragma once

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

class ExternalProgram {
public:
  // Both strings are required; a missing one is an assertion failure.
  ExternalProgram(const OptString& program, const OptString& arguments) {
    CORV_ASSERT(program.has_value());
    CORV_ASSERT(arguments.has_value());
    program_ = *program;
    arguments_ = *arguments;
  }

  // Relative to the destination folder.
  const XString& program() const { return program_; }
  // May be empty; "$(Root)" stands for the destination folder.
  const XString& arguments() const { return arguments_; }

  // The command that runs the program for the destination folder
  // `destination` (absolute), in the ANSI code page: the program made
  // absolute against `destination`, in double quotes, a blank (also before
  // empty arguments) and the arguments with every "$(Root)" replaced by
  // `destination`. Unless the program's name as the package gives it ends
  // in ".exe" (any case) after at least one more character, that command
  // goes to the command interpreter named by the environment variable
  // "COMSPEC": "<COMSPEC>" /C "<command>"; FatalError 1083 "Bad 'comspec'
  // environment variable" when it is missing, empty or longer than 259
  // characters.
  AnsiString CommandLine(const XString& destination) const;
  // The same with the value of "COMSPEC" given (none: missing).
  AnsiString CommandLine(const XString& destination, const OptString& comspec) const;

  // Runs the command (the installer's environment, no inherited handles)
  // with `destination` as its current folder, never the installer's own
  // (typically a downloads folder), and waits for its end without a time
  // limit.
  // FatalError 1084 "Cannot execute '%s'" when it cannot be run, waited for
  // or its exit code read; 1085 "Execution '%s' failed - exit code %u" for
  // an exit code other than 0. Both name the command line.
  void RunAndWait(const XString& destination) const;
  // Starts the command in `destination`, as RunAndWait, with its window
  // shown and waits at most one second
  // for it to end; its exit code is not looked at. FatalError 1084 when it
  // cannot be started.
  void Start(const XString& destination) const;

private:
  XString program_;
  XString arguments_;
};

// The value of the environment variable "COMSPEC" (the command
// interpreter), up to 259 characters; none when it is missing or longer.
// Always none on the host.
OptString ComspecVariable();

}  // namespace corv

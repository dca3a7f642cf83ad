// A program of the package that the installer runs: the install-run
// program (run and waited for) or the after-run program (started at the
// end). Running them is the system layer's.
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

private:
  XString program_;
  XString arguments_;
};

}  // namespace corv

// The host runs none of the package's Windows programs: every run fails as
// a program that cannot be executed.
#include "util/externalprogram.h"

#include "util/exceptions.h"

namespace corv {

OptString ComspecVariable() { return std::nullopt; }

void ExternalProgram::RunAndWait(const XString& destination) const {
  throw FatalError(msg::kCannotExecute, ToWide(CommandLine(destination)));
}

void ExternalProgram::Start(const XString& destination) const {
  throw FatalError(msg::kCannotExecute, ToWide(CommandLine(destination)));
}

}  // namespace corv

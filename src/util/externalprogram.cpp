#include "util/externalprogram.h"

#include "util/filesys.h"

namespace corv {

namespace {

// ".exe" in any case at the end of a longer name.
bool RunsDirectly(const XString& program) {
  static const XString kExtension = u".exe";
  return program.size() > kExtension.size() &&
         EqualsIgnoreCaseAscii(program.substr(program.size() - kExtension.size()), kExtension);
}

}  // namespace

AnsiString ExternalProgram::CommandLine(const XString& destination) const {
  return CommandLine(destination, RunsDirectly(program_) ? std::nullopt : ComspecVariable());
}

AnsiString ExternalProgram::CommandLine(const XString& destination, const OptString& comspec) const {
  XString command = Format(u"\"%s\" %s", FileSys::MakeAbsolutePath(program_, destination),
                           FileSys::ExpandRoot(arguments_, destination));
  if (!RunsDirectly(program_)) {
    if (!comspec || comspec->empty()) throw FatalError(msg::kBadComspec);
    command = Format(u"\"%s\" /C \"%s\"", *comspec, command);
  }
  return ToAnsi(command);
}

}  // namespace corv

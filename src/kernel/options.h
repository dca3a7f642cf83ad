// The command line: the front-end mode, the installation profile, the paths
// and names that batch mode takes instead of wizard pages, and a few
// switches.
//
// An argument is an option when it begins with "-" or "/"; the rest is
// compared, ignoring case, with the option table. A value is always the next
// argument, taken literally. The driver creates the Options first of all,
// pre-scans them for the mode (which decides the front end) and parses them
// fully at the start of its run.
#pragma once

#include <vector>

#include "kernel/installprofile.h"
#include "util/xstring.h"

namespace corv {

class UserInterface;

// Identity of an option: its index in the option table.
enum OptionIndex : int {
  kOptionUnknown = -1,
  kOptionGui = 0,
  kOptionBatch = 1,
  kOptionPersonal = 2,
  kOptionCommon = 3,
  kOptionDest = 4,
  kOptionJre = 5,
  kOptionFolder = 6,
  kOptionPrimary = 7,
  kOptionUser = 8,
  kOptionPassword = 9,
  kOptionHelp = 10,
  kOptionH = 11,
  kOptionQuestionMark = 12,
  kOptionNoAftrun = 13,
  kOptionForce = 14,
  kOptionNoReg = 15,
};

// The option an argument names, or kOptionUnknown: not beginning with "-" or
// "/", or no name of the table after that one character.
OptionIndex LookupOption(const XString& argument);

class Options {
public:
  enum Mode : int { kModeNone = 0, kModeGui = 1, kModeBatch = 2 };

  // Converts the arguments from the ANSI code page and keeps them; no
  // parsing. An argument that cannot be converted throws FatalError 1055.
  Options(int argc, const char* const* argv);
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;

  // Decides the mode and notices a help request. A second mode option (both,
  // or one of them twice) is an assertion failure.
  void PreScan();
  // Parses every argument after the program name. Unknown options and stray
  // words throw FatalError 1302 with the argument; a value option given as
  // the last argument throws FatalError 1304 with that option. Parsing twice
  // is an assertion failure.
  void Parse();
  // Shows the usage text (1305) with the program name as information. Asking
  // before Parse is an assertion failure.
  void PrintUsage(UserInterface& ui) const;

  const OptString& programName() const { return programName_; }
  int mode() const { return mode_; }
  int profile() const { return profile_; }
  const OptString& destination() const { return destination_; }
  const OptString& jreFolder() const { return jreFolder_; }
  const OptString& programFolder() const { return programFolder_; }
  const OptString& primaryLocation() const { return primaryLocation_; }
  const OptString& userName() const { return userName_; }
  const OptString& password() const { return password_; }
  bool noAfterRun() const { return noAfterRun_; }
  bool force() const { return force_; }
  bool noRegistration() const { return noRegistration_; }
  bool help() const { return help_; }

  int argumentCount() const { return static_cast<int>(arguments_.size()); }
  const XString& argument(int index) const { return arguments_.at(static_cast<size_t>(index)); }

private:
  OptString* valueField(OptionIndex option);

  std::vector<XString> arguments_;
  OptString programName_;
  int mode_ = kModeNone;
  int profile_ = kProfileNone;
  OptString destination_;
  OptString jreFolder_;
  OptString programFolder_;
  OptString primaryLocation_;
  OptString userName_;
  OptString password_;
  bool noAfterRun_ = false;
  bool force_ = false;
  bool noRegistration_ = false;
  bool help_ = false;
};

}  // namespace corv

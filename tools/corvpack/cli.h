// The corvpack command line:
//   corvpack build DESCRIPTION.toml -o OUTPUT.exe [options]
//   corvpack list INSTALLER
//   corvpack verify INSTALLER
//   corvpack extract INSTALLER -o FOLDER [--auxiliary]
// Exit codes: 0 done, 1 failed, 2 bad command line.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace corv::pack {

enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct CliEnvironment {
  // Where the tool itself lies: the stub and the default auxiliary files
  // are looked for beside it, in ../share/corvantis, and in the Windows
  // build tree next to its own build tree.
  std::filesystem::path toolFolder;
  // Show a progress display on `err` (a terminal).
  bool interactive = false;
  // SOURCE_DATE_EPOCH, when set.
  std::string sourceDateEpoch;
};

// Runs one command. `args` excludes the program name.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& env);

}  // namespace corv::pack

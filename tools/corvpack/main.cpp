// corvpack: builds, lists, verifies and extracts installers (see cli.h).
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "cli.h"
#include "util/messages.h"

int main(int argc, char** argv) {
  corv::SelectLanguage(corv::kLanguageEnglish);
  corv::pack::CliEnvironment env;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  env.toolFolder = ec ? std::filesystem::path(argv[0]).parent_path() : self.parent_path();
  env.interactive = isatty(STDERR_FILENO) != 0;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) env.sourceDateEpoch = epoch;
  std::vector<std::string> args(argv + 1, argv + argc);
  return corv::pack::RunCli(args, std::cout, std::cerr, env);
}

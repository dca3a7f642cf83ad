#include "test_support.h"

#include "util/exceptions.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace corv {

struct CapturedStdout::State {
  std::string path;
  int savedFd = -1;
  std::FILE* file = nullptr;
#ifdef _WIN32
  HANDLE savedHandle = nullptr;
#endif
  size_t consumed = 0;
};

CapturedStdout::CapturedStdout() : state_(new State) {
  std::fflush(stdout);
  char name[] = "corv_stdout_XXXXXX";
#ifdef _WIN32
  _mktemp(name);
  state_->path = name;
  state_->file = std::fopen(name, "w+b");
  state_->savedFd = _dup(_fileno(stdout));
  _dup2(_fileno(state_->file), _fileno(stdout));
  state_->savedHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(state_->file))));
#else
  int fd = mkstemp(name);
  state_->path = name;
  state_->file = fdopen(fd, "w+b");
  state_->savedFd = dup(fileno(stdout));
  dup2(fileno(state_->file), fileno(stdout));
#endif
}

CapturedStdout::~CapturedStdout() {
  std::fflush(stdout);
#ifdef _WIN32
  SetStdHandle(STD_OUTPUT_HANDLE, state_->savedHandle);
  _dup2(state_->savedFd, _fileno(stdout));
  _close(state_->savedFd);
#else
  dup2(state_->savedFd, fileno(stdout));
  close(state_->savedFd);
#endif
  std::fclose(state_->file);
  std::remove(state_->path.c_str());
  delete state_;
}

std::string CapturedStdout::take() {
  std::fflush(stdout);
  std::ifstream in(state_->path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str().substr(state_->consumed);
  state_->consumed += text.size();
  return text;
}

std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return ToUtf8(e.message());
  }
  return "no failure";
}

}  // namespace corv

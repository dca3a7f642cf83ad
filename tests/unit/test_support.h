// Helpers shared by the unit tests.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace corv {

// Captures what the code under test writes to standard output (the C
// runtime's stdout and, on Windows, the STD_OUTPUT_HANDLE).
class CapturedStdout {
public:
  CapturedStdout();
  ~CapturedStdout();
  // Everything written since construction (or the last take).
  std::string take();

private:
  struct State;
  State* state_;
};

// The UTF-8 message of the Exception that `action` throws, or "no failure".
std::string FailureOf(const std::function<void()>& action);

}  // namespace corv

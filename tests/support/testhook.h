// What the test hook libraries do when an entry is called with the
// destination folder D: they write D into "D\<entry>.called" and return the
// decimal number in "D\<entry>.result", or 0 when that file is missing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace corv::testhook {

inline int Run(const char* entry, const char* destination) {
  std::string base = std::string(destination) + "\\" + entry;
  if (FILE* called = std::fopen((base + ".called").c_str(), "wb")) {
    std::fputs(destination, called);
    std::fclose(called);
  }
  int result = 0;
  if (FILE* wanted = std::fopen((base + ".result").c_str(), "rb")) {
    char text[32] = {};
    if (std::fgets(text, sizeof text, wanted)) result = static_cast<int>(std::strtol(text, nullptr, 10));
    std::fclose(wanted);
  }
  return result;
}

}  // namespace corv::testhook

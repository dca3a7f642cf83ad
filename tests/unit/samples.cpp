#include "samples.h"

#include <cstdio>

#ifdef _WIN32
#include "util/win32/corvwindows.h"
#else
#include <unistd.h>
#endif

namespace corv {
namespace test {

std::vector<std::string> ExecutableSamples() {
  std::vector<std::string> out;
#ifdef _WIN32
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n > 0 && n < MAX_PATH) out.push_back(self);
  const char* wine = "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows\\";
#else
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) out.push_back(std::string(self, static_cast<size_t>(n)));
  const char* wine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
#endif
  for (const char* name : {"kernel32.dll"}) {
    std::string path = std::string(wine) + name;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      out.push_back(path);
    }
  }
  return out;
}

std::vector<unsigned char> ReadSample(const std::string& path, size_t limit) {
  std::vector<unsigned char> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  out.resize(limit);
  size_t n = std::fread(out.data(), 1, limit, f);
  std::fclose(f);
  out.resize(n);
  return out;
}

}  // namespace test
}  // namespace corv

// The host has no registry and no "autoexec.bat" of its own: every PATH
// operation over the running system fails there.
#include "util/environment.h"

namespace corv {

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

class HostEnvironment : public EnvironmentSystem {
public:
  bool isWindowsNT() override { return true; }
  std::unique_ptr<EnvironmentKey> openKey(bool) override { return nullptr; }
  void broadcastChange() override {}
  OptString autoexecPath() override { return std::nullopt; }
};

}  // namespace

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b, CodePage) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

EnvironmentSystem& SystemEnvironment() {
  static HostEnvironment host;
  return host;
}

}  // namespace corv

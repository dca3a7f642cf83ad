// PATH on the running Windows system: the environment keys of the registry,
// the change broadcast, and "autoexec.bat" on Windows 95/98/Me.
#include "util/environment.h"

#include "util/win32/corvwindows.h"

#include <vector>

#include "util/win32/registry.h"
#include "util/win32/system.h"

namespace corv {

namespace {

const char kPathValue[] = "PATH";

// The text in `codePage` as UTF-16, upper-cased by the system; none when it
// cannot be converted.
OptString UpperWide(const AnsiString& text, UINT codePage) {
  if (text.empty()) return XString();
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  XString wide(static_cast<size_t>(size), u'\0');
  wchar_t* buffer = reinterpret_cast<wchar_t*>(&wide[0]);
  if (MultiByteToWideChar(codePage, 0, text.data(), length, buffer, size) != size) return std::nullopt;
  CharUpperBuffW(buffer, static_cast<DWORD>(wide.size()));
  return wide;
}

class RegistryEnvironmentKey : public EnvironmentKey {
public:
  explicit RegistryEnvironmentKey(win32::RegistryKey key) : key_(std::move(key)) {}

  std::optional<PathValue> readPath() override {
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key_.get(), kPathValue, nullptr, &type, nullptr, &size);
    std::vector<char> data;
    // The value may grow between asking its size and reading it.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      data.assign(size + 1, '\0');
      DWORD got = size;
      status = RegQueryValueExA(key_.get(), kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
      if (status == ERROR_SUCCESS) {
        size = got;
        break;
      }
      if (status == ERROR_MORE_DATA) size = got;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    PathValue value;
    value.text.assign(data.data(), size);
    size_t end = value.text.find('\0');
    if (end != AnsiString::npos) value.text.resize(end);
    value.expandable = type == REG_EXPAND_SZ;
    return value;
  }

  bool writePath(const PathValue& value) override {
    return key_.setValue(kPathValue, value.expandable ? REG_EXPAND_SZ : REG_SZ, value.text.c_str(),
                         static_cast<DWORD>(value.text.size() + 1)) == ERROR_SUCCESS;
  }

  bool deletePath() override { return key_.deleteValue(kPathValue) == ERROR_SUCCESS; }

private:
  win32::RegistryKey key_;
};

class WindowsEnvironment : public EnvironmentSystem {
public:
  bool isWindowsNT() override { return win32::IsWindowsNT(); }

  std::unique_ptr<EnvironmentKey> openKey(bool personal) override {
    HKEY root = personal ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const char* path = personal ? "Environment" : "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    win32::RegistryKey key;
    if (key.open(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryEnvironmentKey>(std::move(key));
  }

  void broadcastChange() override {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                        SMTO_ABORTIFHUNG, 1000, &result);
  }

  OptString autoexecPath() override { return DefaultAutoexecPath(); }
};

}  // namespace

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b, CodePage page) {
  UINT codePage = page == CodePage::kOem ? CP_OEMCP : CP_ACP;
  OptString wideA = UpperWide(a, codePage);
  OptString wideB = UpperWide(b, codePage);
  if (!wideA || !wideB) return a == b;
  return *wideA == *wideB;
}

EnvironmentSystem& SystemEnvironment() {
  static WindowsEnvironment system;
  return system;
}

}  // namespace corv

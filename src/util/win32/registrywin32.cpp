#include "util/win32/registry.h"

namespace corv::win32 {

LONG RegistryKey::open(HKEY parent, const char* path, REGSAM access) {
  return RegOpenKeyExA(parent, path, 0, access, key_.out());
}

LONG RegistryKey::create(HKEY parent, const char* path, REGSAM access, DWORD* disposition) {
  DWORD unused = 0;
  return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key_.out(),
                         disposition ? disposition : &unused);
}

LONG RegistryKey::setString(const char* name, const AnsiString& value) const {
  return setValue(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

LONG RegistryKey::setDword(const char* name, DWORD value) const {
  return setValue(name, REG_DWORD, &value, sizeof value);
}

LONG RegistryKey::setValue(const char* name, DWORD type, const void* data, DWORD size) const {
  return RegSetValueExA(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG RegistryKey::deleteValue(const char* name) const { return RegDeleteValueA(key_.get(), name); }

LONG RegistryKey::countSubkeys(DWORD* count) const {
  return RegQueryInfoKeyA(key_.get(), nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
}

}  // namespace corv::win32

// An open registry key: move-only, closed when it goes. Its operations
// return the system's own result (ERROR_SUCCESS or the error code).
#pragma once

#include "util/win32/corvwindows.h"

#include "util/win32/handles.h"
#include "util/xstring.h"

namespace corv::win32 {

class RegistryKey {
public:
  RegistryKey() = default;
  // Takes over an open key.
  explicit RegistryKey(HKEY key) : key_(key) {}

  HKEY get() const { return key_.get(); }
  explicit operator bool() const { return static_cast<bool>(key_); }

  // Opens `path` below `parent` in place of the key held (RegOpenKeyExA).
  LONG open(HKEY parent, const char* path, REGSAM access);
  // Creates or opens `path` below `parent` (RegCreateKeyExA); `disposition`
  // (may be null) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
  LONG create(HKEY parent, const char* path, REGSAM access, DWORD* disposition = nullptr);

  // A string value (REG_SZ); the stored size includes the terminating zero.
  // A null name is the key's default value.
  LONG setString(const char* name, const AnsiString& value) const;
  LONG setDword(const char* name, DWORD value) const;
  LONG setValue(const char* name, DWORD type, const void* data, DWORD size) const;
  LONG deleteValue(const char* name) const;
  // The number of subkeys.
  LONG countSubkeys(DWORD* count) const;

private:
  UniqueKey key_;
};

}  // namespace corv::win32

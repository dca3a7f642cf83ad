#include "infrastructure/registrykeys.h"

#include "util/exceptions.h"

namespace corv {

namespace {

HKEY RootKey(int root) {
  switch (root) {
    case kRootLocalMachine: return HKEY_LOCAL_MACHINE;
    case kRootCurrentUser: return HKEY_CURRENT_USER;
    case kRootClassesRoot: return HKEY_CLASSES_ROOT;
  }
  CORV_ASSERT(false);
  return nullptr;
}

// One value of an open key, by name.
std::optional<SavedValue> ReadValue(HKEY key, const AnsiString& name) {
  SavedValue value;
  value.name = name;
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return value;  // kept as missing
  // The value may grow between asking its size and reading it.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    value.data.assign(size, 0);
    DWORD got = size;
    status = RegQueryValueExA(key, name.c_str(), nullptr, &type, value.data.empty() ? nullptr : value.data.data(), &got);
    if (status == ERROR_SUCCESS) {
      value.data.resize(got);
      value.existed = true;
      value.type = type;
      return value;
    }
    size = got;
  }
  return std::nullopt;
}

}  // namespace

const XChar* RegistryRootPrefix(int root) {
  switch (root) {
    case kRootLocalMachine: return u"HKEY_LOCAL_MACHINE\\";
    case kRootCurrentUser: return u"HKEY_CURRENT_USER\\";
    case kRootClassesRoot: return u"HKEY_CLASSES_ROOT\\";
  }
  CORV_ASSERT(false);
  return nullptr;
}

win32::RegistryKey CreateRegistryKeyPath(int root, const XString& path, Logger& log, bool alwaysLogLast,
                                         bool* existed) {
  HKEY base = RootKey(root);
  XString prefix = RegistryRootPrefix(root);
  win32::RegistryKey current;
  size_t at = 0;
  bool last = false;
  bool lastExisted = false;
  while (!last) {
    size_t sep = path.find(u'\\', at);
    last = sep == XString::npos;
    XString sub = last ? path : path.substr(0, sep);
    at = last ? path.size() : sep + 1;
    DWORD disposition = 0;
    {
      // A key about to be made is journaled before it exists.
      win32::RegistryKey existing;
      if (existing.open(base, ToAnsi(sub).c_str(), KEY_READ) != ERROR_SUCCESS) {
        log.Announce(kLogRegistryKey, prefix + sub);
      }
    }
    if (current.create(base, ToAnsi(sub).c_str(), KEY_WRITE, &disposition) != ERROR_SUCCESS) {
      return win32::RegistryKey();
    }
    lastExisted = disposition == REG_OPENED_EXISTING_KEY;
    XString fullName = prefix + sub;
    if (last && lastExisted && alwaysLogLast && !log.contains(kLogRegistryKey, fullName)) {
      // A key that was there before is logged too: keep what it holds, or a
      // rollback could only delete it.
      if (log.journal() && !log.KeepsKey(fullName)) {
        std::optional<KeySnapshot> snapshot = SnapshotRegistryKey(fullName, std::nullopt);
        if (!snapshot) return win32::RegistryKey();
        log.KeepKey(std::move(*snapshot));
      }
    }
    if (!lastExisted || (last && alwaysLogLast)) log.LogRegistryKey(fullName);
  }
  if (existed) *existed = lastExisted;
  return current;
}

bool SplitRegistryKeyName(const XString& fullName, HKEY* root, AnsiString* sub) {
  for (int r : {kRootLocalMachine, kRootCurrentUser, kRootClassesRoot}) {
    XString prefix = RegistryRootPrefix(r);
    if (fullName.compare(0, prefix.size(), prefix) == 0) {
      *root = RootKey(r);
      *sub = ToAnsi(fullName.substr(prefix.size()));
      return true;
    }
  }
  return false;
}

KeyState RegistryKeyState(const XString& fullName) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitRegistryKeyName(fullName, &root, &sub)) return KeyState::kMissing;
  } catch (const FatalError&) {
    return KeyState::kMissing;
  }
  win32::RegistryKey key;
  if (key.open(root, sub.c_str(), KEY_READ) != ERROR_SUCCESS) return KeyState::kMissing;
  DWORD subkeys = 0;
  if (key.countSubkeys(&subkeys) != ERROR_SUCCESS) {
    return KeyState::kWithSubkeys;  // what it holds is unknown: never a candidate for deletion
  }
  return subkeys == 0 ? KeyState::kWithoutSubkeys : KeyState::kWithSubkeys;
}

std::optional<KeySnapshot> SnapshotRegistryKey(const XString& fullName, const std::optional<AnsiString>& valueName) {
  HKEY root;
  AnsiString sub;
  if (!SplitRegistryKeyName(fullName, &root, &sub)) return std::nullopt;
  win32::RegistryKey key;
  if (key.open(root, sub.c_str(), KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  KeySnapshot snapshot;
  snapshot.fullName = fullName;
  snapshot.wholeKey = !valueName;
  if (valueName) {
    std::optional<SavedValue> value = ReadValue(key.get(), *valueName);
    if (!value) return std::nullopt;
    snapshot.values.push_back(std::move(*value));
    return snapshot;
  }
  DWORD count = 0, longestName = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<char> name(longestName + 2);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG status = RegEnumValueA(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return std::nullopt;
    std::optional<SavedValue> value = ReadValue(key.get(), AnsiString(name.data(), length));
    if (!value) return std::nullopt;
    snapshot.values.push_back(std::move(*value));
  }
  return snapshot;
}

std::optional<KeySnapshot> ChangedValues(const KeySnapshot& before) {
  std::optional<KeySnapshot> now = SnapshotRegistryKey(before.fullName, std::nullopt);
  if (!now) return std::nullopt;
  auto find = [](const KeySnapshot& key, const AnsiString& name) -> const SavedValue* {
    for (const SavedValue& v : key.values) {
      if (v.name == name) return &v;
    }
    return nullptr;
  };
  auto same = [](const SavedValue* a, const SavedValue* b) {
    const bool aThere = a && a->existed, bThere = b && b->existed;
    return aThere == bThere && (!aThere || (a->type == b->type && a->data == b->data));
  };
  KeySnapshot changed;
  changed.fullName = before.fullName;
  changed.wholeKey = false;
  for (const SavedValue& was : before.values) {
    if (!same(&was, find(*now, was.name))) changed.values.push_back(was);
  }
  if (before.wholeKey) {
    for (const SavedValue& v : now->values) {
      if (!find(before, v.name)) changed.values.push_back(SavedValue{v.name, false, 0, {}});
    }
  }
  return changed;
}

bool RestoreRegistryKey(const KeySnapshot& snapshot) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitRegistryKeyName(snapshot.fullName, &root, &sub)) return false;
  } catch (const FatalError&) {
    return false;
  }
  win32::RegistryKey key;
  if (key.create(root, sub.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return false;
  bool ok = true;
  if (snapshot.wholeKey) {
    // Values the installation added go; names are gathered first, as
    // deleting while enumerating would skip some.
    std::optional<KeySnapshot> now = SnapshotRegistryKey(snapshot.fullName, std::nullopt);
    if (!now) return false;
    for (const SavedValue& v : now->values) {
      bool earlier = false;
      for (const SavedValue& w : snapshot.values) earlier = earlier || (w.existed && w.name == v.name);
      if (!earlier) ok = key.deleteValue(v.name.c_str()) == ERROR_SUCCESS && ok;
    }
  }
  for (const SavedValue& v : snapshot.values) {
    if (v.existed) {
      ok = key.setValue(v.name.c_str(), v.type, v.data.empty() ? nullptr : v.data.data(),
                        static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS && ok;
    } else {
      LONG status = key.deleteValue(v.name.c_str());
      ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
    }
  }
  return ok;
}

bool DeleteRegistryKey(const XString& fullName) {
  HKEY root;
  AnsiString sub;
  try {
    if (!SplitRegistryKeyName(fullName, &root, &sub)) return false;
  } catch (const FatalError&) {
    return false;
  }
  {
    win32::RegistryKey key;
    if (key.open(root, sub.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    if (key.countSubkeys(&subkeys) != ERROR_SUCCESS || subkeys != 0) {
      return false;  // Windows 95/98/Me would delete the subkeys with it
    }
  }
  return RegDeleteKeyA(root, sub.c_str()) == ERROR_SUCCESS;
}

OptString ReadRegistryString(int root, const XString& key, const XString& value) {
  win32::RegistryKey open;
  if (open.open(RootKey(root), ToAnsi(key).c_str(), KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  AnsiString name = ToAnsi(value);
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(open.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::vector<char> buffer(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(open.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  try {
    return ToWide(AnsiString(buffer.data()));
  } catch (const Exception&) {
    return std::nullopt;
  }
}

}  // namespace corv

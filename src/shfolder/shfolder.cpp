// shfolder.dll: the installer's own folder-path library. It exports
// SHGetFolderPathA and forwards to the system shell; where the shell has no
// such entry (old systems), it answers from the special-folder functions.
// The shell's entries are looked up at run time, so the library loads on any
// system that has a shell32.dll.
#include <windows.h>

namespace {

using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using GetLocationFn = HRESULT(WINAPI*)(HWND, int, void**);
using PathFromListFn = BOOL(WINAPI*)(const void*, LPSTR);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HRESULT FromSpecialFolder(HMODULE shell, HWND owner, int csidl, LPSTR path) {
  auto location = Lookup<GetLocationFn>(shell, "SHGetSpecialFolderLocation");
  auto toPath = Lookup<PathFromListFn>(shell, "SHGetPathFromIDListA");
  if (!location || !toPath) return E_NOTIMPL;
  void* list = nullptr;
  HRESULT hr = location(owner, csidl & 0xFF, &list);
  if (FAILED(hr)) return hr;
  BOOL ok = toPath(list, path);
  CoTaskMemFree(list);
  return ok ? S_OK : E_FAIL;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI SHGetFolderPathA(HWND owner, int csidl, HANDLE token,
                                                                  DWORD flags, LPSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = '\0';
  HMODULE shell = GetModuleHandleA("shell32.dll");
  if (!shell) shell = LoadLibraryA("shell32.dll");
  if (!shell) return E_FAIL;
  if (auto forward = Lookup<GetFolderPathFn>(shell, "SHGetFolderPathA")) {
    return forward(owner, csidl, token, flags, path);
  }
  return FromSpecialFolder(shell, owner, csidl, path);
}

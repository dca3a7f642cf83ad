#include "util/win32/dllsearch.h"

#include "util/exceptions.h"
#include "util/win32/system.h"

namespace corv::win32 {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);

// Not in every SDK's headers: the values of the system's.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

template <typename Fn>
Fn KernelFunction(const char* name) {
  return GetProcedure<Fn>(GetModuleHandleA("kernel32.dll"), name);
}

}  // namespace

void RestrictLibrarySearch() {
  if (auto setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
      setDefault && setDefault(kSearchSystem32)) {
    return;
  }
  if (auto setDirectory = KernelFunction<SetDllDirectoryFn>("SetDllDirectoryA")) setDirectory("");
}

UniqueModule LoadLibraryAt(const XString& path) {
  // X:\... or \\server\share\...: a path the loader takes as it is.
  const bool absolute = (path.size() > 2 && path[1] == u':' && path[2] == u'\\') ||
                        (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\');
  CORV_ASSERT(absolute);
  const AnsiString ansi = ToAnsi(path);
  // The search flags come with SetDefaultDllDirectories; without them the
  // altered search starts in the library's own folder.
  const DWORD flags = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")
                          ? kSearchDllLoadDir | kSearchSystem32
                          : LOAD_WITH_ALTERED_SEARCH_PATH;
  return UniqueModule(LoadLibraryExA(ansi.c_str(), nullptr, flags));
}

}  // namespace corv::win32

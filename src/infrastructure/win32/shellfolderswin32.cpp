#include "infrastructure/shellfolders.h"

#include "util/win32/corvwindows.h"

#include <shlobj.h>

#include "kernel/installrecord.h"
#include "util/exceptions.h"
#include "util/win32/dllsearch.h"
#include "util/win32/system.h"

namespace corv {

bool GetShellFolder(bool common, int location, const XString& library, XString* folder) {
  static const int kCommon[4] = {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY,
                                 CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP};
  static const int kUser[4] = {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_STARTUP};
  CORV_ASSERT(location >= 0 && location <= 3);
  int csidl = (win32::IsWindowsNT() && common) ? kCommon[location] : kUser[location];

  using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  win32::UniqueModule module = win32::LoadLibraryAt(library);
  if (!module) return false;
  auto getFolderPath = win32::GetProcedure<GetFolderPathFn>(module.get(), "SHGetFolderPathA");
  if (!getFolderPath) return false;
  char path[MAX_PATH + 1] = {};
  if (getFolderPath(nullptr, csidl, nullptr, 0, path) < 0) return false;
  *folder = ToWide(path);
  return true;
}

std::vector<XString> ListProgramGroups(bool commonProfile, const XString& shfolderLibrary) {
  std::vector<XString> groups;
  XString folder;
  if (!GetShellFolder(commonProfile, kLocationProgramFolder, shfolderLibrary, &folder)) return groups;
  win32::ForEachFolderEntry(ToAnsi(folder), [&](const char* name, bool isFolder) {
    if (isFolder) groups.push_back(ToWide(AnsiString(name)));
    return true;
  });
  return groups;
}

}  // namespace corv

// Program entry of the uninstaller.
#include "util/win32/corvwindows.h"

#include <cstdlib>

#include "uninstaller/uninstaller.h"
#include "util/win32/dllsearch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  corv::win32::RestrictLibrarySearch();
  return corv::RunUninstaller(__argc, __argv);
}

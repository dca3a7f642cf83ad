// Program entry of the installer: the runner gets the C runtime's arguments.
#include "util/win32/corvwindows.h"

#include <cstdlib>

#include "app/runner.h"
#include "util/win32/dllsearch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  corv::win32::RestrictLibrarySearch();
  return corv::RunInstaller(__argc, __argv);
}

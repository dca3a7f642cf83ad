// A hook library that exports nothing but "_PostInstall@4", the decorated
// name (see testhookdecorated.def).
#include <windows.h>

#include "testhook.h"

extern "C" int WINAPI PostInstall(const char* destination) {
  return corv::testhook::Run("PostInstall", destination);
}

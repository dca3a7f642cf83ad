// A hook library that exports "PreInstall" and "PostInstall" by their plain
// names (linked with --kill-at).
#include <windows.h>

#include "testhook.h"

extern "C" __declspec(dllexport) int WINAPI PreInstall(const char* destination) {
  return corv::testhook::Run("PreInstall", destination);
}

extern "C" __declspec(dllexport) int WINAPI PostInstall(const char* destination) {
  return corv::testhook::Run("PostInstall", destination);
}

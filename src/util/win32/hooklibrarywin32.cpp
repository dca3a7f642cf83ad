// Hook library entries, through the library loaded by its full path and
// GetProcAddress.
#include "util/hooklibrary.h"

#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/win32/dllsearch.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv {

namespace {

using HookEntry = int32_t(WINAPI*)(const char* destination);

struct Hook {
  const char* name;
  const char* decorated;
  int notFound;  // message when neither name is exported
  int failed;    // message when the entry returns non-zero
};

constexpr Hook kPreInstall = {"PreInstall", "_PreInstall@4", msg::kNoPreInstallEntry, msg::kPreInstallFailed};
constexpr Hook kPostInstall = {"PostInstall", "_PostInstall@4", msg::kNoPostInstallEntry, msg::kPostInstallFailed};

void Call(const XString& path, const Hook& hook, const XString& destination) {
  AnsiString destinationText = ToAnsi(destination);
  win32::UniqueModule library = win32::LoadLibraryAt(path);
  if (!library) throw FatalError(msg::kCannotLoadLibrary, path);
  HookEntry entry = win32::GetProcedure<HookEntry>(library.get(), hook.name);
  if (!entry) entry = win32::GetProcedure<HookEntry>(library.get(), hook.decorated);
  if (!entry) throw FatalError(hook.notFound, path);
  int32_t result = entry(destinationText.c_str());
  if (result != 0) throw FatalError(hook.failed, path, static_cast<uint32_t>(result));
}

}  // namespace

void HookLibrary::CallPreInstall(const XString& destination) const { Call(path_, kPreInstall, destination); }

void HookLibrary::CallPostInstall(const XString& destination) const { Call(path_, kPostInstall, destination); }

}  // namespace corv

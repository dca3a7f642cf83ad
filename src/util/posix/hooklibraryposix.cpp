// The host loads no Windows libraries: a hook library cannot be loaded.
#include "util/hooklibrary.h"

#include "util/exceptions.h"

namespace corv {

void HookLibrary::CallPreInstall(const XString&) const { throw FatalError(msg::kCannotLoadLibrary, path_); }

void HookLibrary::CallPostInstall(const XString&) const { throw FatalError(msg::kCannotLoadLibrary, path_); }

}  // namespace corv

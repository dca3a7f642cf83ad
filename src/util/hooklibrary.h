// The package's hook library: its entry "PreInstall" is called before any
// file is written, "PostInstall" after the product is integrated with the
// system.
//
// Each entry takes the destination folder's absolute path as a
// zero-terminated string in the ANSI code page, uses the standard Windows
// calling convention (the callee removes its argument) and returns a 32-bit
// integer: 0 for success, any other value is a failure code. An entry is
// looked up by its plain name ("PreInstall") first, then by its decorated
// name ("_PreInstall@4"). Each call loads the library from its path and
// unloads it afterwards; nothing is kept between the two calls.
//
// On the host no library can be loaded: every call fails with 1086.
#pragma once

#include "util/xstring.h"

namespace corv {

class HookLibrary {
public:
  // `path`: the library's absolute path.
  explicit HookLibrary(XString path) : path_(std::move(path)) {}

  const XString& path() const { return path_; }

  // Calls "PreInstall" with `destination`. FatalError 1086 "Cannot load
  // library '%s'", 1087 "Cannot find 'PreInstall' dll entry in '%s'", or
  // 1089 "'PreInstall' call from '%s' failed - exit code %u", each with the
  // library's path.
  void CallPreInstall(const XString& destination) const;
  // Calls "PostInstall" with `destination`. FatalError 1086, 1088 or 1090
  // as above.
  void CallPostInstall(const XString& destination) const;

private:
  XString path_;
};

}  // namespace corv

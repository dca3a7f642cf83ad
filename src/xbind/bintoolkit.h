// The binding toolkit: the rewrite of a product file's property block for
// one component of the bind script, the binding step that rewrites every
// component, and the two readers of single properties in installed
// executables (the runtime home and the service name).
#pragma once

#include "util/xstring.h"

namespace corv {

class BindComponent;
class BindScript;

// The component rewrite and the readers of bound properties.
namespace BinToolkit {

// Rewrites the property block of the component's file at `path`: keeps the
// file's modification time; opens the file for reading and writing
// (FatalError 1101), reads its PE headers (1242 for a file that is not a PE
// image) and its ".config" block (1243 without one or for an invalid
// block); without "APPEND" replaces the block by its rebuild; appends one
// string entry per item of the component, its text resolved against the
// script's roots (1244, 1245, 1246 from the resolution); writes the block
// back (1102, 1103, 1243, see PEToolkit::writeBlock). The file is closed on
// every path; its time is restored only after success.
void Rewrite(const BindScript& script, const BindComponent& component, const XString& path);

// The runtime home ("JREHome") bound into the executable at `path`, or none
// when its block holds none. The file is opened as for a rewrite (1101,
// 1242, 1243) and left unchanged.
OptString BoundRuntimeHome(const XString& path);
// The service name ("NTService") bound into the executable at `path`, or
// none; failures as BoundRuntimeHome.
OptString BoundServiceName(const XString& path);

}  // namespace BinToolkit

// The binding step: reads the script at `scriptPath`, locates "Root" at
// `destination` (not defined: only its own components refer to it) and
// "JRE" at `runtimeFolder` (defined), and rewrites, root by root and
// component by component in script order, the file of every component of a
// located root. FatalError 1244 with an empty first argument when the
// script lacks "Root" or "JRE"; otherwise what reading the script and each
// rewrite throw. Files rewritten before a failure stay rewritten.
void Bind(const XString& scriptPath, const XString& destination, const OptString& runtimeFolder);

}  // namespace corv

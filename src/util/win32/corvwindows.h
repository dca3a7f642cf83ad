// <windows.h> for the installer's Win32 code. Include this instead of
// <windows.h>: it removes the system's AnsiToOem macro, which would rename
// the string conversion of the same name.
#pragma once

#include <windows.h>

#ifdef AnsiToOem
#undef AnsiToOem
#endif

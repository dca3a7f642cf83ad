// "wininit.ini", through which Windows 95/98/Me deletes files at the next
// start: each line "NUL=<short path>" of its [rename] section deletes that
// file. Portable: the text is edited here, read and written by the caller.
#pragma once

#include "util/xstring.h"

namespace corv {

// `text` (the file's bytes, empty when there is none) with the line
// "NUL=<shortPath>" added at the head of its [rename] section (the section
// name in any case); a text without the section gets it at its end. Other
// lines stay as they are, and so do lines that name the same file: the key
// "NUL" may stand many times, which the system's profile calls would not
// keep.
AnsiString AddWininitDeletion(const AnsiString& text, const AnsiString& shortPath);

}  // namespace corv

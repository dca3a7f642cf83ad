// Text files of the packaging machine, read for the package's texts.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/xstring.h"

namespace corv::pack {

// The text of a file in UTF-8 (with or without a byte-order mark) or in
// UTF-16LE with its byte-order mark. None, with `problem` saying why, when
// the file cannot be read or is not valid text in those encodings.
std::optional<XString> ReadTextFile(const std::filesystem::path& path, std::string& problem);

// The text with every line end (CR LF, LF or CR) written as CR LF.
XString ToCrLf(const XString& text);

// UTF-16LE bytes without a byte-order mark.
std::vector<uint8_t> ToUtf16Le(const XString& text);

}  // namespace corv::pack

// Wide strings and formatting.
//
// Inside the installer every text is UTF-16 (`XString`); the ANSI and OEM
// code pages are used only at the edges: Win32 "A" calls, console output and
// the C runtime's narrow file functions. A missing string ("none") is an empty
// std::optional, distinct from the empty string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corv {

using XChar = char16_t;
using XString = std::u16string;
using OptString = std::optional<XString>;

// Narrow text in the ANSI or OEM code page.
using AnsiString = std::string;

// Removes leading and trailing blanks (U+0020) and tabs (U+0009), in place.
void TrimBlanks(XString& s);

// The first string followed by the second.
XString Concat(const XString& a, const XString& b);

// Decimal digits, a leading '-' for negative values, "0" for zero.
XString Int64ToDecimal(int64_t value);

// One argument of Format: a wide string or a 32-bit integer.
class FormatArg {
public:
  FormatArg(const XString& s) : str_(&s) {}
  FormatArg(const XChar* s) : owned_(s), str_(&*owned_) {}
  FormatArg(int32_t v) : num_(static_cast<uint32_t>(v)) {}
  FormatArg(uint32_t v) : num_(v) {}
  FormatArg(const FormatArg& o) : owned_(o.owned_), str_(o.owned_ ? &*owned_ : o.str_), num_(o.num_) {}
  FormatArg& operator=(const FormatArg&) = delete;

  bool isString() const { return str_ != nullptr; }
  const XString& str() const { return *str_; }
  uint32_t num() const { return num_; }

private:
  std::optional<XString> owned_;
  const XString* str_ = nullptr;
  uint32_t num_ = 0;
};

// Formats with the placeholders "%s", "%d", "%u", "%x", "%X" and "%%" only.
// Any other character after '%' writes a diagnostic line to standard output
// and fails with an assertion; so does a missing or mistyped argument.
XString FormatArgs(const XString& format, const std::vector<FormatArg>& args);

template <typename... Args>
XString Format(const XString& format, const Args&... args) {
  return FormatArgs(format, std::vector<FormatArg>{FormatArg(args)...});
}

// Code-page conversions. On Windows they use the system's ANSI (CP_ACP) and
// OEM (CP_OEMCP) code pages; on the host both are UTF-8. An unconvertible text
// throws FatalError 1055. A character the code page lacks becomes its default
// character ("?"), never a look-alike: fullwidth "．", "＼", "：" and "¥"
// (U+FF0E, U+FF3C, U+FF1A, U+00A5 where the code page has no yen sign) never
// turn into ".", "\" or ":".
AnsiString ToAnsi(const XString& s);
AnsiString ToOem(const XString& s);
XString ToWide(const AnsiString& s);
AnsiString AnsiToOem(const AnsiString& s);

// True for none or the empty string; false when the ANSI code page cannot
// represent the text: a character it lacks (which ToAnsi would replace by
// the default character) or a text the system refuses to convert. When true,
// ToWide(ToAnsi(s)) gives s back.
bool IsAnsiConvertible(const OptString& s);

// UTF-8 <-> UTF-16, independent of any code page (for the host, the packaging
// tool and tests). Invalid input is replaced by U+FFFD / '?'.
XString FromUtf8(const std::string& s);
std::string ToUtf8(const XString& s);

// UTF-16LE bytes as text, one character for each two bytes; an odd last
// byte is ignored.
XString FromUtf16Le(const uint8_t* bytes, size_t size);

// Case-insensitive comparison of ASCII letters; other characters compare
// exactly.
bool EqualsIgnoreCaseAscii(const XString& a, const XString& b);

}  // namespace corv

// Code-page conversions on the host: UTF-8 stands for both the ANSI and the
// OEM code page. Unpaired surrogates are what the host cannot convert.
#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

namespace {

bool HasUnpairedSurrogate(const XString& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    XChar c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

bool IsValidUtf8(const std::string& s) { return ToUtf8(FromUtf8(s)) == s; }

}  // namespace

AnsiString ToAnsi(const XString& s) {
  if (HasUnpairedSurrogate(s)) throw FatalError(msg::kInvalidLocalizedString);
  return ToUtf8(s);
}

AnsiString ToOem(const XString& s) { return ToAnsi(s); }

XString ToWide(const AnsiString& s) {
  if (!IsValidUtf8(s)) throw FatalError(msg::kInvalidLocalizedString);
  return FromUtf8(s);
}

AnsiString AnsiToOem(const AnsiString& s) { return s; }

bool IsAnsiConvertible(const OptString& s) { return !s || !HasUnpairedSurrogate(*s); }

}  // namespace corv

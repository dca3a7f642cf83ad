// Code-page conversions over the system's ANSI and OEM code pages.
#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

namespace {

const wchar_t* W(const XString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Converts `s` to `codePage` without best-fit mapping: a character the code
// page lacks becomes the default character, never a look-alike (fullwidth
// "．" or "＼" never turns into a path's "." or "\"). `usedDefault`, when
// given, tells whether that happened. Code pages that take no flags (UTF-8,
// UTF-7, the ISO-2022 family) and systems that do not know the flag
// (Windows 95) convert without it; there is no best fit to avoid then.
// 0 when the system refuses the conversion.
int Convert(UINT codePage, const XString& s, char* out, int size, bool* usedDefault) {
  const int len = static_cast<int>(s.size());
  BOOL defaulted = FALSE;
  int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, W(s), len, out, size, nullptr,
                              usedDefault ? &defaulted : nullptr);
  if (n == 0) {
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_FLAGS && error != ERROR_INVALID_PARAMETER) return 0;
    defaulted = FALSE;
    n = WideCharToMultiByte(codePage, 0, W(s), len, out, size, nullptr, nullptr);
  }
  if (usedDefault) *usedDefault = defaulted != FALSE;
  return n;
}

AnsiString FromWide(UINT codePage, const XString& s) {
  if (s.empty()) return AnsiString();
  int size = Convert(codePage, s, nullptr, 0, nullptr);
  if (size == 0) throw FatalError(msg::kInvalidLocalizedString);
  AnsiString out(static_cast<size_t>(size), '\0');
  int done = Convert(codePage, s, &out[0], size, nullptr);
  if (done == 0) throw FatalError(msg::kInvalidLocalizedString);
  out.resize(static_cast<size_t>(done));
  return out;
}

}  // namespace

AnsiString ToAnsi(const XString& s) { return FromWide(CP_ACP, s); }
AnsiString ToOem(const XString& s) { return FromWide(CP_OEMCP, s); }

XString ToWide(const AnsiString& s) {
  if (s.empty()) return XString();
  int len = static_cast<int>(s.size());
  int size = MultiByteToWideChar(CP_ACP, 0, s.data(), len, nullptr, 0);
  if (size == 0) throw FatalError(msg::kInvalidLocalizedString);
  XString out(static_cast<size_t>(size), u'\0');
  int done = MultiByteToWideChar(CP_ACP, 0, s.data(), len, reinterpret_cast<wchar_t*>(&out[0]), size);
  if (done == 0 || done != size) throw FatalError(msg::kInvalidLocalizedString);
  return out;
}

AnsiString AnsiToOem(const AnsiString& s) {
  AnsiString out(s.size() + 1, '\0');
  if (!CharToOemA(s.c_str(), &out[0])) throw FatalError(msg::kInvalidLocalizedString);
  out.resize(s.size());
  return out;
}

bool IsAnsiConvertible(const OptString& s) {
  if (!s || s->empty()) return true;
  bool usedDefault = false;
  int size = Convert(CP_ACP, *s, nullptr, 0, &usedDefault);
  if (size == 0 || usedDefault) return false;
  std::string buf(static_cast<size_t>(size), '\0');
  return Convert(CP_ACP, *s, &buf[0], size, &usedDefault) == size && !usedDefault;
}

}  // namespace corv

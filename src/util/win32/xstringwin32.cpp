// Code-page conversions over the system's ANSI and OEM code pages.
#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

namespace {

const wchar_t* W(const XString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

AnsiString FromWide(UINT codePage, const XString& s) {
  if (s.empty()) return AnsiString();
  int len = static_cast<int>(s.size());
  int size = WideCharToMultiByte(codePage, 0, W(s), len, nullptr, 0, nullptr, nullptr);
  if (size == 0) throw FatalError(1055);
  AnsiString out(static_cast<size_t>(size), '\0');
  int done = WideCharToMultiByte(codePage, 0, W(s), len, &out[0], size, nullptr, nullptr);
  if (done == 0) throw FatalError(1055);
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
  if (size == 0) throw FatalError(1055);
  XString out(static_cast<size_t>(size), u'\0');
  int done = MultiByteToWideChar(CP_ACP, 0, s.data(), len, reinterpret_cast<wchar_t*>(&out[0]), size);
  if (done == 0 || done != size) throw FatalError(1055);
  return out;
}

AnsiString AnsiToOem(const AnsiString& s) {
  AnsiString out(s.size() + 1, '\0');
  if (!CharToOemA(s.c_str(), &out[0])) throw FatalError(1055);
  out.resize(s.size());
  return out;
}

bool IsAnsiConvertible(const OptString& s) {
  if (!s || s->empty()) return true;
  int len = static_cast<int>(s->size());
  int size = WideCharToMultiByte(CP_ACP, 0, W(*s), len, nullptr, 0, nullptr, nullptr);
  if (size == 0) return false;
  std::string buf(static_cast<size_t>(size), '\0');
  return WideCharToMultiByte(CP_ACP, 0, W(*s), len, &buf[0], size, nullptr, nullptr) == size;
}

}  // namespace corv

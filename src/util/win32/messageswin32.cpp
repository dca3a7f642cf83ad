// Message lookup, locale and the fatal-error report over the Win32 API.
#include "util/win32/corvwindows.h"

#include <cstdlib>

#include "util/messages.h"
#include "util/messagesplatform.h"

namespace corv {

namespace platform {

std::optional<XString> LoadMessageString(void* module, int id) {
  HINSTANCE instance = module ? static_cast<HINSTANCE>(module) : GetModuleHandleA(nullptr);
  char buffer[2048];
  SetLastError(0);
  int n = LoadStringA(instance, static_cast<UINT>(id), buffer, sizeof buffer);
  if (n <= 0) return std::nullopt;
  return ToWide(AnsiString(buffer, static_cast<size_t>(n)));
}

uint32_t LastError() { return GetLastError(); }

uint32_t ThreadLocale() { return GetThreadLocale(); }

void SetThreadLocale(uint32_t lcid) { ::SetThreadLocale(lcid); }

uint32_t DesktopFontCodePages() {
  HWND desktop = GetDesktopWindow();
  HDC dc = GetDC(desktop);
  if (!dc) return 0;
  int charset = GetTextCharsetInfo(dc, nullptr, 0);
  ReleaseDC(desktop, dc);
  CHARSETINFO info = {};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<INT_PTR>(charset)), &info, TCI_SRCCHARSET)) {
    return 0;
  }
  return info.fs.fsCsb[0];
}

bool IsLocaleInstalled(uint32_t lcid) { return IsValidLocale(lcid, LCID_INSTALLED) != 0; }

}  // namespace platform

void WriteStdout(const AnsiString& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void ReportFatalError(const Exception& e) {
  AnsiString text;
  try {
    text = ToAnsi(e.message());
  } catch (const Exception&) {
    WriteStdout(ToUtf8(e.message()) + "\n");
    return;  // no box for a text the code page cannot hold
  }
  WriteStdout(text + "\n");
  MessageBoxA(nullptr, text.c_str(), "Fatal Error", MB_ICONERROR);
}

}  // namespace corv

// Every failure is reported through RunReportingFailures; a program that
// terminates all the same has no console to describe the exception on.
// Defined here, the C++ runtime's own handler, which prints the exception's
// demangled type, and the demangler with it stay out of the programs.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

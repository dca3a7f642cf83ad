// Message lookup on the host: the generated table of every language, and a
// settable thread locale standing in for the user's.
#include <cstdio>

#include "util/messages.h"
#include "util/messagesplatform.h"
#include "util/messagetable.h"

namespace corv {

namespace platform {

namespace {
uint32_t g_locale = 0x409;
}

std::optional<XString> LoadMessageString(void*, int id) {
  const XChar* text = FindMessage(id);
  if (!text) return std::nullopt;
  return XString(text);
}

uint32_t LastError() { return 1814; }  // the resource is not in the table

uint32_t ThreadLocale() { return g_locale; }

void SetThreadLocale(uint32_t lcid) { g_locale = lcid; }

uint32_t DesktopFontCodePages() { return 0x1 | 0x4 | 0x20000; }

bool IsLocaleInstalled(uint32_t lcid) {
  return lcid == 1033 || lcid == 1031 || lcid == 1049 || lcid == 1036 || lcid == 1041;
}

}  // namespace platform

void WriteStdout(const AnsiString& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void ReportFatalError(const Exception& e) { WriteStdout(ToUtf8(e.message()) + "\n"); }

}  // namespace corv

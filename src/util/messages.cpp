// The language state, the registry of message ranges and message formatting.
// Loading a string and choosing a language from the user's locale are the
// platform's (messageswin32 / messagesposix).
#include "util/messages.h"

#include <exception>
#include <list>

#include "util/messagesplatform.h"

namespace corv {

namespace {

LanguageState g_language;

struct MessageRange {
  int first;
  int last;
  void* module;
};
// Newest first.
std::list<MessageRange> g_ranges;

struct LanguageRow {
  int code;
  int base;
  uint32_t lcid;
};
const LanguageRow kLanguages[] = {
    {kLanguageEnglish, 1000, 1033},
    {kLanguageRussian, 3000, 1049},
    {kLanguageFrench, 4000, 1036},
    {kLanguageGerman, 2000, 1031},
    {kLanguageJapanese, 5000, 1041},
};

void SetLanguage(int code) {
  for (const LanguageRow& row : kLanguages) {
    if (row.code == code) {
      g_language = {row.code, row.base, row.lcid};
      return;
    }
  }
  CORV_ASSERT_AT(false, 130);
}

}  // namespace

LanguageState CurrentLanguage() { return g_language; }

bool SelectLanguage(int code) {
  CORV_ASSERT(code >= kLanguageAuto && code <= kLanguageJapanese);
  SetLanguage(code == kLanguageAuto ? AutomaticLanguage() : code);
  if (platform::IsLocaleInstalled(g_language.lcid)) return true;
  SetLanguage(kLanguageEnglish);
  return false;
}

void EnsureLanguage() {
  if (g_language.base == 0) SelectLanguage(kLanguageAuto);
}

void ResetLanguage() { g_language = LanguageState(); }

int AutomaticLanguage() {
  // Each language only where the desktop font's character set carries its
  // code page: Latin 1 (bit 0), Cyrillic (bit 2), Shift-JIS (bit 17).
  uint32_t primary = platform::ThreadLocale() & 0x3FF;
  uint32_t pages = platform::DesktopFontCodePages();
  switch (primary) {
    case 0x07: return (pages & 0x1) ? kLanguageGerman : kLanguageEnglish;
    case 0x0C: return (pages & 0x1) ? kLanguageFrench : kLanguageEnglish;
    case 0x11: return (pages & 0x20000) ? kLanguageJapanese : kLanguageEnglish;
    case 0x19: return (pages & 0x4) ? kLanguageRussian : kLanguageEnglish;
    default: return kLanguageEnglish;
  }
}

XString LoadMessage(int id) {
  EnsureLanguage();
  int number = id - 1000;
  void* module = nullptr;
  for (const MessageRange& r : g_ranges) {
    if (r.first <= number && number < r.last) {
      module = r.module;
      break;
    }
  }
  std::optional<XString> text = platform::LoadMessageString(module, g_language.base + number);
  if (!text) {
    throw FatalError(Format(u"Message %d not found (error %d)", static_cast<int32_t>(number),
                            static_cast<int32_t>(platform::LastError())));
  }
  return *text;
}

XString FormatMessageTextWideArgs(int id, const std::vector<FormatArg>& args) {
  return FormatArgs(LoadMessage(id), args);
}

void RegisterMessageRange(int first, int last, void* module) {
  CORV_ASSERT_AT(first >= 0 && first < last, 256);
  for (const MessageRange& r : g_ranges) {
    bool inside = r.first <= first && last <= r.last;
    bool around = first <= r.first && r.last <= last;
    CORV_ASSERT_AT(!inside && !around, 265);
  }
  g_ranges.push_front({first, last, module});
}

void UnregisterMessageRanges(void* module) {
  g_ranges.remove_if([module](const MessageRange& r) { return r.module == module; });
}

void ClearMessageRanges() { g_ranges.clear(); }

void SetThreadLanguage() {
  EnsureLanguage();
  platform::SetThreadLocale(g_language.lcid);
}

int RunReportingFailures(const std::function<int()>& body) {
  try {
    return body();
  } catch (const Exception& e) {
    ReportFatalError(e);
    return 1;
  } catch (...) {
    try {
      std::rethrow_exception(CurrentFailure(__FILE__, __LINE__));
    } catch (const Exception& e) {
      ReportFatalError(e);
    } catch (...) {
    }
    return 1;
  }
}

}  // namespace corv

// Localized messages.
//
// Code names a message by its English identifier (1000 + number, e.g. 1102).
// The string loaded is number + the base of the selected language: English
// 1000, German 2000, Russian 3000, French 4000, Japanese 5000. Numbers 51-411
// live in the installer's own string table; the UI resource library
// registers 412-699 for its module when it is loaded.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

// Language codes of the install-info record.
enum LanguageCode : int {
  kLanguageAuto = 1,
  kLanguageEnglish = 2,
  kLanguageRussian = 3,
  kLanguageFrench = 4,
  kLanguageGerman = 5,
  kLanguageJapanese = 6,
};

struct LanguageState {
  int code = 0;      // 2..6 once chosen
  int base = 0;      // 0 until chosen
  uint32_t lcid = 0;
};

// The process-wide language state.
LanguageState CurrentLanguage();

// Selects language `code` (1 = automatic from the user's locale): sets the
// base and the LCID. A code outside 1..6 (or 2..6 after the automatic
// choice) is an assertion failure. Returns false, and selects English, when
// the chosen language's locale is not installed.
bool SelectLanguage(int code);

// Automatic choice: the thread locale's primary language, where the desktop
// font's character set supports it; English otherwise.
int AutomaticLanguage();

// Chooses the base on demand (automatic, English if the locale is missing)
// when none is chosen yet.
void EnsureLanguage();

// Forgets the selection (tests).
void ResetLanguage();

// Message `id`, named by its English identifier (1000 + its number, e.g.
// 1102), in the selected language. A missing string throws FatalError
// "Message %d not found (error %d)" with the number (id - 1000).
XString LoadMessage(int id);

XString FormatMessageTextWideArgs(int number, const std::vector<FormatArg>& args);
template <typename... Args>
XString FormatMessageTextWide(int number, const Args&... args) {
  return FormatMessageTextWideArgs(number, std::vector<FormatArg>{FormatArg(args)...});
}
// A named message, its arguments counted when it compiles.
template <int ArgCount, typename... Args>
XString FormatMessageTextWide(Message<ArgCount> message, const Args&... args) {
  return FormatMessageTextWide(CheckedMessage(message, args...), args...);
}
// The same, converted to the ANSI code page.
template <typename... Args>
AnsiString FormatMessageText(int number, const Args&... args) {
  return ToAnsi(FormatMessageTextWide(number, args...));
}
template <int ArgCount, typename... Args>
AnsiString FormatMessageText(Message<ArgCount> message, const Args&... args) {
  return ToAnsi(FormatMessageTextWide(message, args...));
}

// Registers [first, last) of message numbers (without base, e.g. 412..699)
// for a resource module. first < 0, first >= last, or a range inside or
// around a registered one is an assertion failure.
void RegisterMessageRange(int first, int last, void* module);
// Forgets every range registered for `module` (the module is being freed).
void UnregisterMessageRanges(void* module);
void ClearMessageRanges();

// Sets the calling thread's locale to the selected LCID.
void SetThreadLanguage();

// Last-resort report: the text and a line feed on standard output, then a
// message box "Fatal Error" with the error icon (Windows).
void ReportFatalError(const Exception& e);

// Runs a program's body and returns its exit code. A failure that escapes
// it is reported by ReportFatalError and gives 1; nothing escapes, so the
// program never terminates unreported.
int RunReportingFailures(const std::function<int()>& body);

// Writes ANSI text to standard output, unconverted, and flushes.
void WriteStdout(const AnsiString& text);

}  // namespace corv

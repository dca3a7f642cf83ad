#include "infrastructure/wininit.h"

#include <cctype>

namespace corv {

namespace {

// The line's text without blanks, tabs and its line end.
AnsiString Trimmed(const AnsiString& line) {
  size_t first = line.find_first_not_of(" \t\r\n");
  if (first == AnsiString::npos) return AnsiString();
  size_t last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

bool IsRenameSection(const AnsiString& line) {
  AnsiString text = Trimmed(line);
  if (text.size() != 8) return false;
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text == "[rename]";
}

}  // namespace

AnsiString AddWininitDeletion(const AnsiString& text, const AnsiString& shortPath) {
  const AnsiString entry = "NUL=" + shortPath + "\r\n";
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == AnsiString::npos ? text.size() : end + 1;
    if (IsRenameSection(text.substr(start, end - start))) {
      AnsiString head = text.substr(0, end);
      // A header on the last line without its line end gets one.
      if (head.empty() || head.back() != '\n') head += "\r\n";
      return head + entry + text.substr(end);
    }
    start = end;
  }
  AnsiString result = text;
  if (!result.empty() && result.back() != '\n') result += "\r\n";
  return result + "[rename]\r\n" + entry;
}

}  // namespace corv

// Fuzz target of the PATH text algorithms: "autoexec.bat" read as text and
// edited, and whole entries found in a PATH value.
//
// Input: one byte n, then n bytes of folder (n taken modulo 64), then the
// bytes of an "autoexec.bat". The folder is also looked for in the text as
// a PATH value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/environment.h"
#include "util/messages.h"

namespace {

using namespace corv;

void Check(bool ok) {
  if (!ok) std::abort();
}

// The range lies inside `value` and cuts `entry` as a whole entry: the
// whole value, or the entry with the ';' after it (at the start or inside),
// or with the ';' before it (at the end).
void CheckRange(const AnsiString& entry, const AnsiString& value, const TextRange& range) {
  const size_t n = entry.size();
  const size_t m = value.size();
  Check(range.offset <= m && range.length <= m - range.offset);
  auto entryAt = [&](size_t at) {
    return at + n <= m && SameTextIgnoringCase(value.substr(at, n), entry, CodePage::kAnsi);
  };
  if (range.length == n) {
    Check(range.offset == 0 && m == n && entryAt(0));
    return;
  }
  Check(range.length == n + 1);
  size_t at = range.offset;
  bool withNext = entryAt(at) && value[at + n] == ';' && (at == 0 || value[at - 1] == ';');
  bool withPrevious = value[at] == ';' && at + n + 1 == m && entryAt(at + 1);
  Check(withNext || withPrevious);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (SelectLanguage(kLanguageEnglish), true);
  (void)ready;
  if (size == 0) return 0;
  size_t n = data[0] % 64;
  if (n == 0 || 1 + n > size) return 0;
  AnsiString folder(reinterpret_cast<const char*>(data + 1), n);
  AnsiString text(reinterpret_cast<const char*>(data + 1 + n), size - 1 - n);

  if (std::optional<TextRange> range = Environment::FindPathEntry(folder, text, CodePage::kAnsi)) {
    CheckRange(folder, text, *range);
  }

  AutoexecFile file = AutoexecFile::FromText(text);
  Check(AutoexecFile::FromText(file.text()).lines() == file.lines());
  for (const AnsiString& line : file.lines()) {
    if (std::optional<size_t> start = AutoexecFile::PathValueStart(line)) Check(*start <= line.size());
  }

  AutoexecFile edited = file;
  edited.addPathLine(folder);
  Check(edited.lines().size() == file.lines().size() + 1);
  std::optional<size_t> last = edited.lastPathLine();
  Check(last.has_value() && edited.lines()[*last] == "SET PATH=\"" + folder + "\";\"%PATH%\"");
  edited.removeFolder(folder);
  Check(edited.lines().size() <= file.lines().size());
  return 0;
}

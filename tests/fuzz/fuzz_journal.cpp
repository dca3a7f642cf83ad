// Fuzz target of the journal reader: arbitrary bytes as the journal of an
// interrupted installation, and as the found state kept beside install.log. Whatever it rejects leaves its output as it
// was; whatever it accepts names only copies inside the journal's folder,
// known record kinds and texts without NUL characters.
#include <cstdint>
#include <string>

#include "fuzzsupport.h"
#include "kernel/changejournal.h"

using namespace corv;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A found state that is accepted is one the installer could have written.
  std::vector<KeySnapshot> keys;
  if (ParseFoundState(std::string(reinterpret_cast<const char*>(data), size), &keys)) {
    std::vector<KeySnapshot> again;
    Check(ParseFoundState(FoundStateText(keys), &again) && again.size() == keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      Check(again[i].fullName == keys[i].fullName && again[i].values.size() == keys[i].values.size());
    }
  } else {
    Check(keys.empty());
  }
  JournalEntries entries;
  entries.files.push_back({u"C:\\Before", std::nullopt});
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!ParseJournal(bytes, &entries)) {
    Check(entries.files.size() == 1 && entries.files[0].original == u"C:\\Before");
    Check(entries.records.empty() && entries.keys.empty() && entries.pathEntries.empty());
    return 0;
  }
  for (const JournalEntries::Record& r : entries.records) {
    Check(r.record.kind >= 0 && r.record.kind <= 4);
    Check(r.record.text.find(u'\0') == XString::npos);
  }
  for (const JournalEntries::Kept& kept : entries.files) {
    Check(kept.original.find(u'\0') == XString::npos);
    if (!kept.copy) continue;
    Check(kept.copy->compare(0, 5, u"saved") == 0 && kept.copy->size() > 5);
    Check(kept.copy->find_first_not_of(u"0123456789", 5) == XString::npos);
  }
  return 0;
}

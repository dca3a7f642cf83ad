// Fuzz target of the install-info record reader: arbitrary bytes as the
// decoded record. What the reader refuses is refused as a corrupted package;
// what it accepts builds a whole InstallInfo, and written again by the
// packager reads back to the same values.
#include <cstdint>
#include <vector>

#include "fuzzsupport.h"
#include "kernel/installinfo.h"
#include "kernel/installrecord.h"
#include "recordwriter.h"
#include "util/exceptions.h"
#include "util/messages.h"

using namespace corv;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const XString kCorrupt = (SelectLanguage(kLanguageEnglish), LoadMessage(1181));

  InstallRecord record;
  try {
    record = ReadInstallRecord(data, size);
  } catch (const FatalError& e) {
    Check(e.message() == kCorrupt);
    return 0;
  }

  // Everything the reader let through names only places inside its folders.
  for (const RecordBlock* block : {&record.mainBlock, &record.auxiliaryBlock}) {
    for (const RecordFileEntry& e : block->entries) Check(IsContainedRelativePath(e.name));
  }

  std::vector<uint8_t> again = pack::WriteInstallRecord(record);
  try {
    Check(ReadInstallRecord(again.data(), again.size()) == record);
  } catch (const FatalError&) {
    // Only a record whose strings were shared beyond the reader's budget may
    // fail to come back, and only when writing it made it smaller.
    Check(again.size() < size);
  }

  try {
    InstallInfo info(record);
    info.representableInCodePage();
    if (info.destination()) {
      info.expandRoot(u"$(Root)\\bin;$(Root)");
      info.summaryText();
    }
  } catch (const Exception&) {
    // Assertions of the record's own rules (kind 3, an unknown destination
    // base, a program without arguments, a JRE folder without requirement).
  }
  return 0;
}

// Fuzz target of the install-info record reader: arbitrary bytes as the
// decoded record. What the reader refuses is refused as a corrupted package;
// what it accepts names only places inside their folders once made paths,
// builds a whole InstallInfo, and written again by the packager reads back
// to the same values.
#include <cstdint>
#include <vector>

#include "fuzzsupport.h"
#include "kernel/installinfo.h"
#include "kernel/installrecord.h"
#include "recordwriter.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

using namespace corv;
using fuzz::Check;

namespace {

// Every name of the record that becomes a path below some folder.
std::vector<XString> PathNames(const InstallRecord& r) {
  std::vector<XString> names;
  for (const RecordBlock* block : {&r.mainBlock, &r.auxiliaryBlock}) {
    for (const RecordFileEntry& e : block->entries) names.push_back(e.name);
  }
  for (const OptString* s : {&r.wizardBitmap, &r.uninstallerName, &r.hookLibrary, &r.recordedFile,
                             &r.installRunProgram, &r.afterRunProgram, &r.defaultProgramFolder, &r.primaryJreFile,
                             &r.pathEntry}) {
    if (*s) names.push_back(**s);
  }
  for (const ShortcutEntry& s : r.shortcuts) {
    names.insert(names.end(), {s.name + u".lnk", s.workingFolder, s.target, s.iconFile.value_or(XString())});
  }
  for (const AssociationEntry& a : r.associations) names.push_back(a.program);
  for (const ServiceEntry& s : r.services) names.push_back(s.program);
  names.insert(names.end(), r.primaryMarkerFiles.begin(), r.primaryMarkerFiles.end());
  for (const RecordJreGroup& g : r.jre.groups) {
    for (const RecordJreCheck& c : g.checks) names.push_back(c.path);
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const XString kCorrupt = (SelectLanguage(kLanguageEnglish), LoadMessage(1181));

  InstallRecord record;
  try {
    record = ReadInstallRecord(data, size);
  } catch (const FatalError& e) {
    Check(e.message() == kCorrupt);
    return 0;
  }

  // Everything the reader let through names only places inside its folders,
  // as the file layer makes the paths.
  static const Directory kBase(XString(u"C:\\base"));
  static const XString kUnconvertible = LoadMessage(1055);
  for (const XString& name : PathNames(record)) {
    XString path;
    try {
      path = File(kBase, name).widePath();
    } catch (const FatalError& e) {
      Check(e.message() == kUnconvertible);  // the code page cannot hold it
      continue;
    }
    Check(path == kBase.widePath() || path.rfind(kBase.widePath() + u"\\", 0) == 0);
    Check(path.find(u':', 2) == XString::npos);
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
    if (info.choices().destination) info.summaryText();
  } catch (const Exception&) {
    // Assertions of the record's own rules (kind 3, an unknown destination
    // base, a program without arguments, a JRE folder without requirement).
  }
  return 0;
}

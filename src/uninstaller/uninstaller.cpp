#include "uninstaller/uninstaller.h"

#include "util/win32/corvwindows.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "infrastructure/integrator.h"
#include "infrastructure/servicecontrol.h"
#include "kernel/changejournal.h"
#include "kernel/logger.h"
#include "ui/textinterface.h"
#include "kernel/userinterface.h"
#include "uninstaller/selfremoval.h"
#include "util/environment.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/win32/system.h"

namespace corv {

namespace {

constexpr char kBatchOption[] = "/batch";

// Where the uninstaller talks to the user: standard output in batch mode
// (when there is one), message boxes otherwise.
class Reporter {
public:
  explicit Reporter(bool batch) : batch_(batch), console_(batch && HasStandardOutput()) {}

  void show(Severity severity, const AnsiString& text) const {
    if (console_) {
      PrintConsoleMessage(severity, text);
      return;
    }
    static const UINT kIcons[] = {MB_ICONINFORMATION, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONERROR};
    const Message<0> caption = SeverityCaption(severity);
    MessageBoxA(nullptr, text.c_str(), FormatMessageText(caption).c_str(),
                MB_OK | kIcons[static_cast<int>(severity) - 1]);
  }

  // Batch mode does not ask; a box that cannot be shown counts as No.
  bool confirm(const AnsiString& text) const {
    if (batch_) return true;
    return MessageBoxA(nullptr, text.c_str(), FormatMessageText(SeverityCaption(Severity::Question)).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
  }

private:
  bool batch_;
  bool console_;
};

// What a record left behind after its undo.
enum class Remains { kNothing, kUserData, kChange };

Remains WhatRemains(const LogRecord& record) {
  try {
    switch (record.kind) {
      case kLogFile:
        return File(record.text).exists() ? Remains::kChange : Remains::kNothing;
      case kLogDirectory: {
        Directory folder(record.text);
        if (!folder.exists()) return Remains::kNothing;
        return FileSys::IsFolderEmpty(folder.widePath()) ? Remains::kChange : Remains::kUserData;
      }
      case kLogRegistryKey:
        switch (RegistryKeyState(record.text)) {
          case KeyState::kMissing: return Remains::kNothing;
          case KeyState::kWithSubkeys: return Remains::kUserData;
          case KeyState::kWithoutSubkeys: return Remains::kChange;
        }
        break;
      case kLogService:
        return ServiceExists(record.text) ? Remains::kChange : Remains::kNothing;
      case kLogPathEntry:
        return Environment().HoldsPathEntry(record.text) ? Remains::kChange : Remains::kNothing;
    }
  } catch (const FatalError&) {
    // a text the system cannot take as a path: nothing could be done with it
  }
  return Remains::kChange;
}

// `path` is `folder` or lies below it (ignoring case).
bool IsWithin(const XString& path, const XString& folder) {
  if (path.size() < folder.size() || !FileSys::SameText(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == u'\\' || (!folder.empty() && folder.back() == u'\\');
}

// The names in a folder, "." and ".." left out; none when it cannot be read.
std::vector<XString> FolderEntries(const XString& folder) {
  std::vector<XString> names;
  win32::ForEachFolderEntry(ToAnsi(folder), [&](const char* name, bool) {
    names.push_back(Directory(Directory(folder), ToWide(AnsiString(name))).widePath());
    return true;
  });
  return names;
}

XString Joined(const std::vector<XString>& texts) {
  XString out;
  for (const XString& t : texts) out += (out.empty() ? u"" : u"; ") + t;
  return out;
}

// A record's identity: its kind and text.
XString RecordKey(const LogRecord& r) { return XString(1, static_cast<XChar>(u'0' + r.kind)) + r.text; }

// Writes into `file` the log with those of its records whose keys are in
// `keep` (in the log's order), under the log's names, and seals it anew in
// the entries that are left.
void WriteRemainder(const Logger& log, const std::set<XString>& keep, File& file, const XString& folder) {
  Logger rest(log.productName());
  rest.setRecordedFilePath(log.recordedFilePath());
  rest.setLogInteger(log.logInteger());
  for (auto it = log.records().rbegin(); it != log.records().rend(); ++it) {
    if (keep.count(RecordKey(*it)) != 0) rest.Log(it->kind, it->text);
  }
  std::string seal;
  rest.Write(file, &seal);
  WriteSeal(folder, SealedFile::kInstallLog, seal, nullptr);
}

// A file or folder that is reached through a link or junction now lies
// elsewhere than the one the installation made: it is left alone.
bool ReachedThroughLink(const LogRecord& record) {
  if (record.kind != kLogFile && record.kind != kLogDirectory) return false;
  try {
    const std::optional<AnsiString> root = FileSys::DriveRoot(record.text);
    return FileSys::LinkInPath(record.text, root ? ToWide(*root) : XString()).has_value();
  } catch (const FatalError&) {
    return false;  // a text the system cannot take as a path: nothing is done with it
  }
}

// The records of the uninstaller itself: its file, its log and the folders
// that hold them, which go last.
struct OwnRecords {
  std::set<XString> keys;
  bool programLogged = false;
  std::vector<XString> folders;  // innermost first
};

OwnRecords FindOwnRecords(const Logger& log, const XString& program, const File& logFile, const File& stateFile,
                          const XString& folder) {
  OwnRecords own;
  for (const LogRecord& r : log.records()) {
    const bool isProgram = r.kind == kLogFile && FileSys::SameText(r.text, program);
    const bool isLog = r.kind == kLogFile && (FileSys::SameText(r.text, logFile.widePath()) ||
                                              FileSys::SameText(r.text, stateFile.widePath()));
    const bool holdsIt = r.kind == kLogDirectory && IsWithin(folder, r.text);
    if (!isProgram && !isLog && !holdsIt) continue;
    own.keys.insert(RecordKey(r));
    own.programLogged = own.programLogged || isProgram;
    if (holdsIt) own.folders.push_back(Directory(r.text).widePath());
  }
  std::sort(own.folders.begin(), own.folders.end(),
            [](const XString& a, const XString& b) { return a.size() > b.size(); });
  return own;
}

// What the undo left of the other records.
struct Outcome {
  std::set<XString> left;       // keys of the records still standing
  std::vector<XString> kept;    // folders holding the user's files
  std::vector<XString> failed;  // changes that are still there
};

Outcome Assess(const Logger& work) {
  Outcome outcome;
  for (const LogRecord& r : work.records()) {
    switch (WhatRemains(r)) {
      case Remains::kNothing: break;
      case Remains::kUserData:
        outcome.left.insert(RecordKey(r));
        if (r.kind == kLogDirectory) outcome.kept.push_back(r.text);
        break;
      case Remains::kChange:
        outcome.left.insert(RecordKey(r));
        outcome.failed.push_back(r.text);
        break;
    }
  }
  return outcome;
}

// Of the uninstaller's folders (innermost first), those that hold nothing
// but the program and each other go once it is gone; the others stay with
// what the user put there and are added to `kept`.
std::vector<XString> FoldersThatGo(const OwnRecords& own, const XString& program, std::vector<XString>& kept) {
  std::vector<XString> goes;
  if (own.programLogged) goes.push_back(program);
  std::vector<XString> folders;
  for (const XString& f : own.folders) {
    if (!Directory(f).exists()) continue;
    std::vector<XString> entries = FolderEntries(f);
    bool empty = std::all_of(entries.begin(), entries.end(), [&](const XString& e) {
      return std::any_of(goes.begin(), goes.end(), [&](const XString& g) { return FileSys::SameText(e, g); });
    });
    (empty ? folders : kept).push_back(f);
    if (empty) goes.push_back(f);
  }
  return folders;
}

int Uninstall(const Reporter& reporter) {
  std::unique_ptr<File> self = FileSys::InstallerModuleFile();
  std::optional<Directory> folder = self->parentDirectory();
  CORV_ASSERT(folder.has_value());
  File logFile(*folder, XString(u"install.log"));
  File stateFile(*folder, XString(kFoundStateName));
  Logger log;
  std::vector<KeySnapshot> found;
  try {
    log.Read(logFile, SealsOf(folder->widePath(), SealedFile::kInstallLog));
    found = ReadFoundState(stateFile, SealsOf(folder->widePath(), SealedFile::kFoundState));
  } catch (const FatalError& e) {
    reporter.show(Severity::SevereError, FormatMessageText(msg::kCannotRemove, e.message()));
    return 1;
  }
  if (log.logInteger() >= kLanguageEnglish && log.logInteger() <= kLanguageJapanese) {
    SelectLanguage(log.logInteger());
  }
  const XString product = log.productName();
  if (!reporter.confirm(FormatMessageText(msg::kConfirmRemoval, product))) return 1;

  // Everything but the uninstaller's own records is undone now, in the
  // log's order; the log goes when everything else is gone, the program and
  // its folders once it has exited.
  const XString& program = self->widePath();
  const OwnRecords own = FindOwnRecords(log, program, logFile, stateFile, folder->widePath());
  // Its uninstall entries go once everything else is gone: while something
  // is left, they stay to start another attempt and to keep the log sealed.
  const std::vector<XString> entries = UninstallEntriesOf(program);
  std::set<XString> entryKeys;
  for (const XString& entry : entries) entryKeys.insert(RecordKey(LogRecord{kLogRegistryKey, entry}));
  Logger work(product);
  // A key is never deleted while it has subkeys: those the log names are
  // gone by then (children come first), so any left are not the
  // installation's. A key the installation found gets back the values it
  // changed, and stays.
  Win32SystemUndo undo;
  for (const KeySnapshot& key : found) log.AddFound(kLogRegistryKey, key.fullName, FoundState{std::nullopt, key});
  std::vector<LogRecord> throughLinks;
  for (auto it = log.records().rbegin(); it != log.records().rend(); ++it) {
    if (own.keys.count(RecordKey(*it)) != 0 || entryKeys.count(RecordKey(*it)) != 0) continue;
    if (ReachedThroughLink(*it)) {
      throughLinks.push_back(*it);
    } else {
      work.Log(it->kind, it->text);
      if (it->found) work.AddFound(it->kind, it->text, *it->found);
    }
  }
  work.Undo(undo);
  Outcome outcome = Assess(work);
  std::reverse(throughLinks.begin(), throughLinks.end());  // the log's order
  for (const LogRecord& r : throughLinks) {
    outcome.left.insert(RecordKey(r));
    outcome.failed.push_back(r.text);
  }
  if (outcome.failed.empty()) {
    for (const XString& entry : entries) {
      if (!undo.undoRegistryKey(entry) && RegistryKeyState(entry) != KeyState::kMissing) {
        outcome.failed.push_back(entry);
        outcome.left.insert(RecordKey(LogRecord{kLogRegistryKey, entry}));
      }
    }
  } else {
    outcome.left.insert(entryKeys.begin(), entryKeys.end());
  }
  for (File* file : {&logFile, &stateFile}) {
    if (outcome.failed.empty() && file->remove() != 0 && file->exists()) outcome.failed.push_back(file->widePath());
  }
  if (!outcome.failed.empty()) {
    // "install.log" keeps what is left, for another attempt.
    std::set<XString> keep = outcome.left;
    keep.insert(own.keys.begin(), own.keys.end());
    try {
      WriteRemainder(log, keep, logFile, folder->widePath());
    } catch (const FatalError&) {
      // the log as it was stays
    }
    reporter.show(Severity::SevereError, FormatMessageText(msg::kRemovalIncomplete, product, Joined(outcome.failed)));
    return 1;
  }

  std::vector<XString>& kept = outcome.kept;
  std::vector<XString> folders = FoldersThatGo(own, program, kept);
  if (own.programLogged) RemoveAfterExit(program, folders);
  if (kept.empty()) {
    reporter.show(Severity::Information, FormatMessageText(msg::kRemoved, product));
  } else {
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    reporter.show(Severity::Information, FormatMessageText(msg::kRemovedWithFilesLeft, product, Joined(kept)));
  }
  return 0;
}

int Run(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], kFinishRemovalOption) == 0) return FinishRemoval(argc - 2, argv + 2);
  bool batch = false;
  for (int i = 1; i < argc; ++i) batch = batch || std::strcmp(argv[i], kBatchOption) == 0;
  Reporter reporter(batch);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], kBatchOption) == 0) continue;
    XString text = FormatMessageTextWide(msg::kUnknownOption, ToWide(AnsiString(argv[i])));
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
    reporter.show(Severity::SevereError, ToAnsi(text));
    return 1;
  }
  return Uninstall(reporter);
}

}  // namespace

int RunUninstaller(int argc, char** argv) {
  return RunReportingFailures([&] { return Run(argc, argv); });
}

}  // namespace corv

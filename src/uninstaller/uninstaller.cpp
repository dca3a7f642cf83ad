#include "uninstaller/uninstaller.h"

#include "util/win32/corvwindows.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "infrastructure/integrator.h"
#include "infrastructure/ntservices.h"
#include "kernel/logger.h"
#include "ui/textinterface.h"
#include "ui/userinterface.h"
#include "uninstaller/selfremoval.h"
#include "util/environment.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {

namespace {

constexpr char kBatchOption[] = "/batch";

// Messages of the uninstaller.
enum : int {
  kConfirmRemoval = 1331,
  kRemoved = 1332,
  kRemovedKeepingFolders = 1333,
  kRemovalIncomplete = 1334,
  kCannotRemove = 1335,
  kUnknownOption = 1302,
};

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
    const int caption = SeverityCaption(severity);
    MessageBoxA(nullptr, text.c_str(), FormatMessageText(caption).c_str(), MB_OK | kIcons[caption - 1401]);
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

// The installer's undo, except that a key is never deleted while it has
// subkeys: those the log names are gone by then (children come first), so
// any left are not the installation's, and on Windows 95/98/Me the system's
// call would take them along.
class UninstallUndo : public Win32SystemUndo {
public:
  bool undoRegistryKey(const XString& fullKeyName) override { return registry_.deleteCreatedKey(fullKeyName); }

private:
  Win32RegistryRestore registry_;
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
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(ToAnsi(folder + u"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
      names.push_back(Directory(Directory(folder), ToWide(AnsiString(data.cFileName))).widePath());
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

XString Joined(const std::vector<XString>& texts) {
  XString out;
  for (const XString& t : texts) out += (out.empty() ? u"" : u"; ") + t;
  return out;
}

// The log with only `records` (in the log's order), under the log's names.
void WriteRemainder(const Logger& log, const std::vector<LogRecord>& records, File& file) {
  Logger rest(log.productName());
  rest.setRecordedFilePath(log.recordedFilePath());
  rest.setLogInteger(log.logInteger());
  for (auto it = records.rbegin(); it != records.rend(); ++it) rest.Log(it->kind, it->text);
  rest.Write(file);
}

int Uninstall(const Reporter& reporter) {
  std::unique_ptr<File> self = FileSys::InstallerModuleFile();
  std::optional<Directory> folder = self->parentDirectory();
  CORV_ASSERT(folder.has_value());
  File logFile(*folder, XString(u"install.log"));
  Logger log;
  try {
    log.Read(logFile);
  } catch (const FatalError& e) {
    reporter.show(Severity::SevereError, FormatMessageText(kCannotRemove, e.message()));
    return 1;
  }
  if (log.logInteger() >= kLanguageEnglish && log.logInteger() <= kLanguageJapanese) {
    SelectLanguage(log.logInteger());
  }
  const XString product = log.productName();
  if (!reporter.confirm(FormatMessageText(kConfirmRemoval, product))) return 1;

  // The uninstaller, its log and the folders that hold them go last: the
  // log until everything else is gone, the rest once this program has
  // exited. Everything else is undone now, in the log's order.
  const XString& selfPath = self->widePath();
  const XString& folderPath = folder->widePath();
  bool selfLogged = false;
  std::vector<XString> ownFolders;  // innermost first
  Logger work(product);
  UninstallUndo undo;
  work.setSystemUndo(&undo);
  std::vector<LogRecord> later;
  for (const LogRecord& r : log.records()) {
    const bool own = (r.kind == kLogFile && (FileSys::SameText(r.text, selfPath) ||
                                             FileSys::SameText(r.text, logFile.widePath()))) ||
                     (r.kind == kLogDirectory && IsWithin(folderPath, r.text));
    if (!own) continue;
    later.push_back(r);
    if (r.kind == kLogFile && FileSys::SameText(r.text, selfPath)) selfLogged = true;
    if (r.kind == kLogDirectory) ownFolders.push_back(Directory(r.text).widePath());
  }
  for (auto it = log.records().rbegin(); it != log.records().rend(); ++it) {
    if (std::find(later.begin(), later.end(), *it) == later.end()) work.Log(it->kind, it->text);
  }
  work.Undo();

  std::vector<LogRecord> left;
  std::vector<XString> kept, failed;
  for (const LogRecord& r : work.records()) {
    switch (WhatRemains(r)) {
      case Remains::kNothing: break;
      case Remains::kUserData:
        left.push_back(r);
        if (r.kind == kLogDirectory) kept.push_back(r.text);
        break;
      case Remains::kChange:
        left.push_back(r);
        failed.push_back(r.text);
        break;
    }
  }
  // Its own uninstall entry, wherever the log did not name it.
  for (const XString& entry : UninstallEntriesOf(selfPath)) {
    if (!undo.undoRegistryKey(entry) && RegistryKeyState(entry) != KeyState::kMissing) failed.push_back(entry);
  }
  if (failed.empty() && logFile.remove() != 0) failed.push_back(logFile.widePath());
  if (!failed.empty()) {
    // "install.log" keeps what is left, for another attempt.
    std::vector<LogRecord> remainder;
    for (const LogRecord& r : log.records()) {
      if (std::find(left.begin(), left.end(), r) != left.end() ||
          std::find(later.begin(), later.end(), r) != later.end()) {
        remainder.push_back(r);
      }
    }
    try {
      WriteRemainder(log, remainder, logFile);
    } catch (const FatalError&) {
      // the log as it was stays
    }
    reporter.show(Severity::SevereError, FormatMessageText(kRemovalIncomplete, product, Joined(failed)));
    return 1;
  }

  // The uninstaller's folders go once it is gone, those that hold nothing
  // else; the others stay with what the user put there.
  std::sort(ownFolders.begin(), ownFolders.end(),
            [](const XString& a, const XString& b) { return a.size() > b.size(); });
  std::set<XString> goes;
  if (selfLogged) goes.insert(selfPath);
  std::vector<XString> removable;
  for (const XString& f : ownFolders) {
    std::vector<XString> entries = FolderEntries(f);
    bool empty = std::all_of(entries.begin(), entries.end(), [&](const XString& e) {
      return std::any_of(goes.begin(), goes.end(), [&](const XString& g) { return FileSys::SameText(e, g); });
    });
    if (empty && Directory(f).exists()) {
      removable.push_back(f);
      goes.insert(f);
    } else if (Directory(f).exists()) {
      kept.push_back(f);
    }
  }
  if (selfLogged) RemoveAfterExit(selfPath, removable);

  if (kept.empty()) {
    reporter.show(Severity::Information, FormatMessageText(kRemoved, product));
  } else {
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    reporter.show(Severity::Information, FormatMessageText(kRemovedKeepingFolders, product, Joined(kept)));
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
    XString text = FormatMessageTextWide(kUnknownOption, ToWide(AnsiString(argv[i])));
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

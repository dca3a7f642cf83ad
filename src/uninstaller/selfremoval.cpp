#include "uninstaller/selfremoval.h"

#include "util/win32/corvwindows.h"

#include <cstdlib>
#include <string>

#include "kernel/logger.h"
#include "kernel/tempfolder.h"
#include "infrastructure/wininit.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"
#include "util/win32/handles.h"
#include "util/win32/system.h"

namespace corv {

namespace {

// How long the copy waits for the original to exit, and then for its file
// to be free.
constexpr DWORD kOriginalExitWaitMs = 5 * 60 * 1000;
constexpr int kDeleteAttempts = 50;
constexpr DWORD kDeleteRetryMs = 100;

AnsiString Quoted(const AnsiString& text) { return "\"" + text + "\""; }

bool AddToWininit(const XString& path) {
  char windows[MAX_PATH + 1];
  UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  if (length == 0 || length > MAX_PATH) return false;
  AnsiString ansi = ToAnsi(path);
  char shortPath[MAX_PATH + 1];
  DWORD shortLength = GetShortPathNameA(ansi.c_str(), shortPath, sizeof shortPath);
  // The system reads short names only when it starts.
  if (shortLength == 0 || shortLength > MAX_PATH) return false;
  File wininit(Directory(AnsiString(windows)), XString(u"wininit.ini"));
  AnsiString text;
  if (wininit.exists()) {
    int64_t size = wininit.size();
    if (size < 0 || size > 1 << 20 || wininit.open(kFileRead) != 0) return false;
    text.resize(static_cast<size_t>(size));
    int32_t got = text.empty() ? 0 : wininit.read(&text[0], static_cast<uint32_t>(text.size()));
    wininit.close();
    if (got != static_cast<int32_t>(text.size())) return false;
  }
  AnsiString updated = AddWininitDeletion(text, AnsiString(shortPath, shortLength));
  if (wininit.open(kFileWrite) != 0) return false;
  bool written = wininit.write(updated.data(), static_cast<uint32_t>(updated.size())) == 0;
  return wininit.close() == 0 && written;
}

// The copy of `program` in a new private folder of the temporary folder,
// started with the handle of this process; false when any step fails
// (nothing is left behind then).
bool StartCopy(const XString& program, const std::vector<XString>& folders) {
  Logger made;
  std::optional<Directory> folder;
  try {
    folder = FileSys::CreateTempFolder(made, [] { return FileSys::RandomFolderName(u"CorvUninst"); });
  } catch (const FatalError&) {
    made.Undo();
    return false;
  }
  File self(program);
  XString name = program.substr(program.find_last_of(u"\\/") + 1);
  File copy(*folder, name);
  if (!CopyFileA(self.ansiPath().c_str(), copy.ansiPath().c_str(), TRUE)) {
    made.Undo();
    return false;
  }
  HANDLE original = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &original, SYNCHRONIZE, TRUE,
                       0)) {
    copy.remove();
    made.Undo();
    return false;
  }
  win32::UniqueHandle originalHandle(original);
  AnsiString command = Quoted(copy.ansiPath()) + " " + kFinishRemovalOption + " " +
                       std::to_string(reinterpret_cast<uintptr_t>(original)) + " " + Quoted(self.ansiPath());
  for (const XString& f : folders) command += " " + Quoted(ToAnsi(f));
  // The copy starts in its own folder: the product's folder must not be
  // its current folder, or it could not be removed. It inherits the handle.
  const AnsiString copyPath = copy.ansiPath();
  win32::ProcessStart how;
  how.program = copyPath.c_str();
  how.command = command;
  how.folder = folder->ansiPath();
  how.inheritHandles = true;
  if (!win32::StartProcess(how)) {
    copy.remove();
    made.Undo();
    return false;
  }
  return true;
}

}  // namespace

bool DeleteAtRestart(const XString& path, bool folder) {
  try {
    if (win32::IsWindowsNT()) return MoveFileExA(ToAnsi(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    return !folder && AddToWininit(path);
  } catch (const FatalError&) {
    return false;  // a path the code page cannot take
  }
}

void RemoveAfterExit(const XString& program, const std::vector<XString>& folders) {
  if (StartCopy(program, folders)) return;
  DeleteAtRestart(program, false);
  for (const XString& f : folders) DeleteAtRestart(f, true);
}

int FinishRemoval(int argc, char** argv) {
  if (argc < 2) return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(argv[0], &end, 10);
  if (*end == '\0') {
    win32::UniqueHandle original(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)));
    WaitForSingleObject(original.get(), kOriginalExitWaitMs);
  }
  const char* program = argv[1];
  std::unique_ptr<File> self = FileSys::InstallerModuleFile();
  // Only a file of the copy's own name: the copy deletes nothing else.
  const XString& selfPath = self->widePath();
  const XString programPath = File(AnsiString(program)).widePath();
  if (!FileSys::SameText(selfPath.substr(selfPath.find_last_of(u'\\') + 1),
                         programPath.substr(programPath.find_last_of(u'\\') + 1))) {
    return 0;
  }
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    if (DeleteFileA(program) || GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES) break;
    Sleep(kDeleteRetryMs);
  }
  for (int i = 2; i < argc; ++i) RemoveDirectoryA(argv[i]);
  // The copy itself goes at the next restart, and its folder after it.
  DeleteAtRestart(self->widePath(), false);
  if (std::optional<Directory> folder = self->parentDirectory()) DeleteAtRestart(folder->widePath(), true);
  return 0;
}

}  // namespace corv

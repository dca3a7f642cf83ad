#include "kernel/tempfolder.h"

#include "util/exceptions.h"
#include "util/filesys.h"

namespace corv::FileSys {

Directory CreateTempFolder(Logger& tempLog) {
  std::optional<Directory> temp = TempFolder();
  Directory base = temp ? *temp : CurrentFolder();
  for (int32_t n = 0;; ++n) {
    Directory folder(base, Format(u"InstTemp%d", n));
    if (folder.exists()) continue;
    if (folder.createDirectories(&tempLog.DirectoryListener()) != 0) {
      throw FatalError(1104, folder.widePath());
    }
    return folder;
  }
}

bool CanCreateFolder(const AnsiString& path) {
  XString wide;
  try {
    wide = ToWide(path);
  } catch (const FatalError&) {
    return false;  // not a text of the ANSI code page
  }
  TrimBlanks(wide);
  if (wide.empty()) return false;
  try {
    Directory folder(wide);
    File probe(folder.widePath());
    if (probe.exists()) return probe.isDirectory();
    Logger created;
    bool ok = folder.createDirectories(&created.DirectoryListener()) == 0;
    created.Undo();
    return ok;
  } catch (const FatalError&) {
    return false;  // a path the system cannot take
  }
}

}  // namespace corv::FileSys

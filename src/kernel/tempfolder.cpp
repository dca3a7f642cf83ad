#include "kernel/tempfolder.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "util/exceptions.h"
#include "util/fileplatform.h"
#include "util/filesys.h"

namespace corv::FileSys {

namespace {

// Names drawn before giving up: with 64 random bits a second clash means
// that someone plants every name, or that the folder cannot be made.
constexpr int kTempFolderAttempts = 16;

}  // namespace

// 64 bits from the system's random source. Without one, the clock, the
// process and a counter still make a name that differs from run to run; the
// folder is made anew and private all the same.
XString RandomFolderName(const XString& prefix) {
  uint32_t bits[2] = {};
  if (!platform::RandomBytes(bits, sizeof bits)) {
    static uint32_t counter = 0;
    const uint64_t now = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    const uint64_t mixed = (now ^ (reinterpret_cast<uintptr_t>(&counter) << 16)) * 0x9E3779B97F4A7C15ull + ++counter;
    bits[0] = static_cast<uint32_t>(mixed >> 32);
    bits[1] = static_cast<uint32_t>(mixed);
  }
  XString name = prefix;
  for (uint32_t word : bits) {
    for (int shift = 28; shift >= 0; shift -= 4) name += u"0123456789ABCDEF"[(word >> shift) & 0xF];
  }
  return name;
}

Directory CreateTempFolder(Logger& tempLog) {
  return CreateTempFolder(tempLog, [] { return RandomFolderName(u"InstTemp"); });
}

Directory CreateTempFolder(Logger& tempLog, const std::function<XString()>& nextName) {
  std::optional<Directory> temp = TempFolder();
  Directory base = temp ? *temp : CurrentFolder();
  for (int attempt = 0;; ++attempt) {
    Directory folder(base, nextName());
    if (attempt == 0 && !base.exists() && base.createDirectories(&tempLog.DirectoryListener()) != 0) {
      throw FatalError(msg::kUnableToCreateTempFolder, folder.widePath());
    }
    int result = folder.createPrivate(&tempLog.DirectoryListener());
    if (result == 0) return folder;
    if (result != EEXIST || attempt + 1 == kTempFolderAttempts) {
      throw FatalError(msg::kUnableToCreateTempFolder, folder.widePath());
    }
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

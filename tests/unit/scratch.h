// A scratch folder for tests of files and folders: a new, empty folder under
// the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "util/xstring.h"

namespace corv {

class ScratchFolder {
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder in the installer's form (`\` separated, absolute).
  const XString& path() const { return path_; }
  // The installer's form of `relative` (written with `\`) inside the folder.
  XString path(const XString& relative) const { return path_ + u"\\" + relative; }
  // The same as a native path, for checking effects with std::filesystem.
  std::filesystem::path native(const std::string& relative = std::string()) const;

  // Writes `bytes` into the file `relative` (written with `/`), creating it.
  void writeFile(const std::string& relative, const std::string& bytes) const;
  std::string readFile(const std::string& relative) const;
  bool exists(const std::string& relative) const;

private:
  std::filesystem::path root_;
  XString path_;
};

// Bytes of a UTF-16LE text.
std::string Utf16le(const XString& text);

}  // namespace corv

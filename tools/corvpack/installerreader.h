// Reading an existing installer the way the installer itself does: the
// trailer, the install-info record and the files blocks, decoded by the
// installer's own decompressor and record reader, with every check the
// packager can make on top.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel/installrecord.h"
#include "packagewriter.h"
#include "util/exceptions.h"

namespace corv::pack {

// An installer that the installer would refuse, or that breaks a rule of
// the packager. `message` is the installer's own text for it ("Invalid or
// corrupted installation package"); `detail` says what is wrong.
class BadInstaller : public std::runtime_error {
public:
  BadInstaller(std::string message, std::string detail);
  const std::string& message() const { return message_; }
  const std::string& detail() const { return detail_; }

private:
  std::string message_;
  std::string detail_;
};

// The text of a failure of the installer's own code as corvpack shows it.
// The installer's file layer names every file in the Windows form
// ("\tmp\out\a.txt"), and the files it names for corvpack are all of this
// host, which writes them with "/" ("/tmp/out/a.txt").
std::string HostMessage(const Exception& e);

struct OpenedInstaller {
  std::filesystem::path path;
  uint64_t fileSize = 0;
  uint64_t packageEnd = 0;    // where the trailer ends: the file's end, or a signature's start
  bool signedFile = false;    // the file carries a certificate table
  uint64_t recordOffset = 0;  // the install-info block
  uint32_t recordLength = 0;
  uint64_t recordSize = 0;    // decoded
  InstallRecord record;
};

// Finds the package at the end of `path` and reads its record. Throws
// BadInstaller: no trailer, a record block outside the file, a block that
// does not decode (the installer's 1202), a record shorter than the trailer
// says or refused by the installer's reader (1181); the file that cannot
// be read (1102).
OpenedInstaller OpenInstaller(const std::filesystem::path& path);

// Receives the decoded files of a block, in entry order.
class BlockVisitor {
public:
  virtual ~BlockVisitor() = default;
  virtual void beginEntry(const RecordFileEntry& entry) = 0;
  // Bytes of the current file; never called for folders or empty files.
  virtual void data(const uint8_t* bytes, size_t size) = 0;
  virtual void endEntry(const RecordFileEntry& entry) = 0;
};

// Decodes one files block of an opened installer and checks it: the block
// lies inside the file before the record block, its header announces the
// descriptor's decoded size, which is the sum of its file sizes, the
// data holds exactly that many bytes, and their CRC-32 is the recorded one
// (where one is). Throws BadInstaller.
void DecodeFilesBlock(const OpenedInstaller& installer, const RecordBlock& block, BlockVisitor& visitor,
                      Progress* progress = nullptr, const std::string& what = "files");

// What verification found.
struct VerifyReport {
  size_t mainFiles = 0, mainFolders = 0, auxiliaryFiles = 0;
  uint64_t mainBytes = 0, auxiliaryBytes = 0;
};

// Decodes every block and checks it, and that the auxiliary block holds the
// files the record names (bind script, hook library, wizard bitmap).
// Throws BadInstaller.
VerifyReport VerifyInstaller(const std::filesystem::path& path, Progress* progress = nullptr);

// Writes the main files (or the auxiliary files) of the installer below
// `folder`, with their times. Throws BadInstaller for a bad installer and
// std::runtime_error when a file cannot be written.
void ExtractInstaller(const std::filesystem::path& path, const std::filesystem::path& folder, bool auxiliary,
                      Progress* progress = nullptr);

}  // namespace corv::pack

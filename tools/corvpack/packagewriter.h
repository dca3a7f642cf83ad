// A complete installer: the stub, the main files block, the auxiliary files
// block, the install-info block and the 24-byte trailer, in that order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "identity.h"
#include "kernel/installrecord.h"

namespace corv::pack {

constexpr size_t kTrailerSize = 24;

// One entry of a files block and where its bytes come from: a file on disk,
// or bytes made by the packager (the bind script). Folders have neither.
struct PackageFile {
  RecordFileEntry entry;
  std::filesystem::path source;
  std::vector<uint8_t> content;
};

// Told how far a long piece of work has come.
class Progress {
public:
  virtual ~Progress() = default;
  // `what` names the work ("main files"); `done` of `total` bytes.
  virtual void update(const std::string& what, uint64_t done, uint64_t total) = 0;
  virtual void done(const std::string& what) = 0;
};

struct PackagePlan {
  std::filesystem::path stub;
  // Everything but the two block descriptors, which the writer fills in.
  InstallRecord record;
  std::vector<PackageFile> mainFiles;
  std::vector<PackageFile> auxiliaryFiles;
  int level = 6;  // encoder preset
  // The version resource and icon put into the stub's resources; an empty
  // identity leaves the stub's bytes as they are.
  Identity identity;
};

// Writes the installer to `output` (through a temporary file beside it that
// replaces `output` only when everything was written). Every file is read
// as its entry's size says; a file that cannot be read or whose size
// changed since the plan was made fails, and so does a stub whose resources
// cannot take the plan's identity. Throws std::runtime_error with a
// message naming the file. Returns the record as written.
InstallRecord WriteInstaller(const PackagePlan& plan, const std::filesystem::path& output,
                             Progress* progress = nullptr);

// The 24 trailer bytes for an install-info block at `offset` of `length`
// bytes that decodes to `recordSize` bytes.
std::vector<uint8_t> MakeTrailer(uint64_t offset, uint32_t length, uint64_t recordSize);

}  // namespace corv::pack

// Fuzz target: arbitrary bytes as the installer's own file, read through
// the trailer to the install-info record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/packagecontainer.h"
#include "util/exceptions.h"

namespace {

// The installer's file in memory.
class MemoryFile : public corv::AbstractFile {
public:
  explicit MemoryFile(std::vector<uint8_t> bytes) : AbstractFile(u"Z:\\setup.exe"), bytes_(std::move(bytes)) {}
  int open(int) override { return 0; }
  int32_t read(void* buffer, uint32_t count) override {
    if (position_ >= static_cast<int64_t>(bytes_.size())) return 0;
    size_t n = count;
    if (n > bytes_.size() - static_cast<size_t>(position_)) n = bytes_.size() - static_cast<size_t>(position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return static_cast<int32_t>(n);
  }
  int write(const void*, uint32_t) override { return 1; }
  int close() override { return 0; }
  int remove() override { return 1; }
  int64_t tell() override { return position_; }
  int seek(int origin, int64_t offset) override {
    int64_t base = origin == corv::kSeekStart ? 0
                   : origin == corv::kSeekCurrent ? position_
                   : origin == corv::kSeekEnd ? static_cast<int64_t>(bytes_.size())
                                              : -1;
    if (base < 0) return 1;
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base)) return 1;
    position_ = base + offset;
    return 0;
  }
  int64_t size() override { return static_cast<int64_t>(bytes_.size()); }

private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Keep a run within what a fuzzing process may allocate: inputs whose
  // record would exceed 16 MiB, or whose block asks for a dictionary above
  // 16 MiB that the decoder would really allocate, are left out (changing
  // them instead could move the very header that was looked at).
  if (size >= corv::kPackageTrailerSize) {
    const uint8_t* trailer = data + size - corv::kPackageTrailerSize;
    uint32_t recordSize;
    std::memcpy(&recordSize, trailer + 16, 4);
    if (recordSize > (16u << 20)) return 0;
    uint64_t offset;
    std::memcpy(&offset, trailer + 8, 8);
    if (offset < size && size - offset >= 13) {
      int64_t decoded;
      uint32_t dictionary;
      std::memcpy(&decoded, data + offset, 8);
      std::memcpy(&dictionary, data + offset + 9, 4);
      // The decoder takes no more dictionary than the block decodes to.
      uint64_t effective = dictionary;
      if (decoded >= 0 && static_cast<uint64_t>(decoded) < effective) effective = static_cast<uint64_t>(decoded);
      if (effective > (16u << 20)) return 0;
    }
  }
  std::vector<uint8_t> bytes(data, data + size);
  MemoryFile file(std::move(bytes));
  try {
    std::vector<uint8_t> record = corv::ReadInstallInfoRecord(file);
    if (record.size() < 4 || std::memcmp(record.data(), "5II1", 4) != 0) std::abort();
  } catch (const corv::Exception&) {
  }
  return 0;
}

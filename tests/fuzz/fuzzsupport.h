// What the fuzz targets share: the check that ends a run, the English
// message table, and a file held in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/file.h"
#include "util/messages.h"

namespace corv::fuzz {

// Ends the run as a crash when a property of the target does not hold.
inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Selects English once per process, so that messages can be compared.
inline void UseEnglish() {
  static const bool selected = (SelectLanguage(kLanguageEnglish), true);
  (void)selected;
}

// Reads, writes and seeks like a file on disk opened in one of the FileMode
// modes; never fails unless asked to (`readOnly`: every write fails).

class MemoryFile : public AbstractFile {
public:
  MemoryFile(const XString& path, std::vector<uint8_t> bytes, bool readOnly = false)
      : AbstractFile(path), bytes_(std::move(bytes)), readOnly_(readOnly) {}

  int open(int mode) override {
    if (mode == kFileWrite) bytes_.clear();
    position_ = mode == kFileAppend ? bytes_.size() : 0;
    open_ = true;
    return 0;
  }
  int32_t read(void* buffer, uint32_t count) override {
    if (!open_) return -1;
    if (position_ >= bytes_.size()) return 0;
    const size_t n = std::min<size_t>(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int write(const void* buffer, uint32_t count) override {
    if (!open_ || readOnly_) return 1;
    // Writing beyond the end fills the gap with zeros, as a file does.
    if (bytes_.size() < position_ + count) bytes_.resize(position_ + count, 0);
    if (count > 0) std::memcpy(bytes_.data() + position_, buffer, count);
    position_ += count;
    return 0;
  }
  int close() override {
    if (!open_) return 1;
    open_ = false;
    return 0;
  }
  int remove() override { return 1; }
  int64_t tell() override { return static_cast<int64_t>(position_); }
  int seek(int origin, int64_t offset) override {
    const int64_t base = origin == kSeekStart     ? 0
                         : origin == kSeekCurrent ? static_cast<int64_t>(position_)
                         : origin == kSeekEnd     ? static_cast<int64_t>(bytes_.size())
                                                  : -1;
    if (base < 0) return 1;
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base)) return 1;
    // Positions a 32-bit program could not reach fail like the C runtime.
    if (base + offset > (int64_t(1) << 32)) return 1;
    position_ = static_cast<size_t>(base + offset);
    return 0;
  }
  int64_t size() override { return static_cast<int64_t>(bytes_.size()); }

  bool isOpen() const { return open_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  bool readOnly_;
  bool open_ = false;
};

}  // namespace corv::fuzz

// Test helpers: streams over memory, and bytes and times of files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "util/xstream.h"
#include "util/xstring.h"

namespace corv {
namespace test {

// Delivers `bytes`, at most `maxPerRead` at a time; counts opens and keeps
// the largest count asked for.
class BytesInputStream : public InputStream {
public:
  explicit BytesInputStream(std::vector<uint8_t> bytes, uint32_t maxPerRead = UINT32_MAX)
      : bytes_(std::move(bytes)), maxPerRead_(maxPerRead) {}
  void open() override { ++opens; }
  uint32_t read(void* buffer, uint32_t count) override;

  int opens = 0;
  uint32_t largestRequest = 0;
  size_t position = 0;

private:
  std::vector<uint8_t> bytes_;
  uint32_t maxPerRead_;
};

// Keeps everything written and the size of each write; `onWrite`, if set,
// runs before a write is taken (and may throw).
class CollectingOutputStream : public OutputStream {
public:
  void open() override { ++opens; }
  void write(const void* buffer, uint32_t count) override;

  int opens = 0;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> writes;
  std::function<void(uint32_t)> onWrite;
};

// Writes `bytes` to `path`, creating its parents.
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
// The modification time as seconds since 1970 (the C runtime's stat).
int64_t ModificationTime(const std::filesystem::path& path);
void SetModificationTime(const std::filesystem::path& path, int64_t time);

}  // namespace test
}  // namespace corv

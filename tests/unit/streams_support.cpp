#include "streams_support.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace corv {
namespace test {

uint32_t BytesInputStream::read(void* buffer, uint32_t count) {
  largestRequest = std::max(largestRequest, count);
  size_t n = std::min<size_t>({count, maxPerRead_, bytes_.size() - position});
  if (n > 0) std::memcpy(buffer, bytes_.data() + position, n);
  position += n;
  return static_cast<uint32_t>(n);
}

void CollectingOutputStream::write(const void* buffer, uint32_t count) {
  if (onWrite) onWrite(count);
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  bytes.insert(bytes.end(), p, p + count);
  writes.push_back(count);
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#ifdef _WIN32
int64_t ModificationTime(const std::filesystem::path& path) {
  struct _stat st;
  if (_wstat(path.wstring().c_str(), &st) != 0) return -1;
  return st.st_mtime;
}
void SetModificationTime(const std::filesystem::path& path, int64_t time) {
  struct _utimbuf t;
  t.actime = static_cast<time_t>(time);
  t.modtime = static_cast<time_t>(time);
  if (_wutime(path.wstring().c_str(), &t) != 0) throw std::runtime_error("utime failed");
}
#else
int64_t ModificationTime(const std::filesystem::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}
void SetModificationTime(const std::filesystem::path& path, int64_t time) {
  struct utimbuf t;
  t.actime = static_cast<time_t>(time);
  t.modtime = static_cast<time_t>(time);
  if (utime(path.c_str(), &t) != 0) throw std::runtime_error("utime failed");
}
#endif

}  // namespace test
}  // namespace corv

#include "streams_support.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
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

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  namespace fs = std::filesystem;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path p = fs::temp_directory_path() /
                 ("corv-test-" + std::to_string(static_cast<long long>(std::time(nullptr)) % 100000) + "-" +
                  std::to_string(counter++) + "-" + std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = fs::canonical(p);
      return;
    }
  }
  throw std::runtime_error("no scratch folder");
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  // Files left read-only would stop the removal on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path ScratchFolder::at(const std::string& relative) const {
  std::string r = relative;
  std::replace(r.begin(), r.end(), '\\', '/');
  return r.empty() ? path_ : path_ / std::filesystem::path(r).make_preferred();
}

XString ScratchFolder::wide(const std::string& relative) const {
  XString w = at(relative).u16string();
  std::replace(w.begin(), w.end(), u'/', u'\\');
  return w;
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

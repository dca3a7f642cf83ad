#include "scratch.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace corv {

namespace {

XString InstallerForm(const std::filesystem::path& p) {
  XString s = FromUtf8(p.u8string());
  for (XChar& c : s) {
    if (c == u'/') c = u'\\';
  }
  return s;
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate =
        base / ("corv_test_" + std::to_string(stamp % 1000000007) + "_" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      root_ = candidate;
      path_ = InstallerForm(root_);
      return;
    }
  }
  throw std::runtime_error("no scratch folder");
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  // Read-only files left by a test would stop the removal on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(root_, ec);
}

std::filesystem::path ScratchFolder::native(const std::string& relative) const {
  return relative.empty() ? root_ : root_ / std::filesystem::u8path(relative);
}

void ScratchFolder::writeFile(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path p = native(relative);
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ScratchFolder::readFile(const std::string& relative) const {
  std::ifstream in(native(relative), std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

bool ScratchFolder::exists(const std::string& relative) const {
  std::error_code ec;
  return std::filesystem::exists(native(relative), ec);
}

std::string Utf16le(const XString& text) {
  std::string bytes;
  for (XChar c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace corv

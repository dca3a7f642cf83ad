#include "textfile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corv::pack {

std::optional<XString> ReadTextFile(const std::filesystem::path& path, std::string& problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = path.string() + ": cannot read the file: " + std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    problem = path.string() + ": cannot read the file: " + std::strerror(errno);
    return std::nullopt;
  }
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      problem = path.string() + ": UTF-16 text with an odd number of bytes";
      return std::nullopt;
    }
    XString text = FromUtf16Le(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
    if (text.find(u'\0') != XString::npos) {
      problem = path.string() + ": the text contains a NUL character";
      return std::nullopt;
    }
    return text;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  XString text = FromUtf8(bytes);
  if (ToUtf8(text) != bytes) {
    problem = path.string() + ": not UTF-8 text (save it as UTF-8, or as UTF-16 with a byte-order mark)";
    return std::nullopt;
  }
  if (text.find(u'\0') != XString::npos) {
    problem = path.string() + ": the text contains a NUL character";
    return std::nullopt;
  }
  return text;
}

XString ToCrLf(const XString& text) {
  XString out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      out += u"\r\n";
    } else if (text[i] == u'\n') {
      out += u"\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<uint8_t> ToUtf16Le(const XString& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  for (XChar c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

}  // namespace corv::pack

#include "identity.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "resourcesection.h"
#include "xbind/littleendian.h"

namespace corv::pack {

namespace {

constexpr uint64_t kMaxIconFile = 16u << 20;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kUnicodeCodePage = 1200;
constexpr size_t kIconDirectorySize = 6;
constexpr size_t kIconEntrySize = 16;

void Append16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
  Append16(out, v & 0xFFFF);
  Append16(out, v >> 16);
}

void Pad32(std::vector<uint8_t>& out) { out.resize((out.size() + 3) & ~size_t(3), 0); }

// A NUL-terminated UTF-16LE text.
std::vector<uint8_t> Utf16z(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) Append16(out, c);
  Append16(out, 0);
  return out;
}

// One block of a version resource: its length, the length of its value
// (in characters for a text, in bytes otherwise), its type (1 for a text),
// its key, then the value and the children, each at a multiple of 4 bytes
// from the resource's start (every block starts at one).
std::vector<uint8_t> VersionBlock(const std::u16string& key, const std::vector<uint8_t>& value, uint16_t valueLength,
                                  bool text, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> out(6, 0);
  const std::vector<uint8_t> name = Utf16z(key);
  out.insert(out.end(), name.begin(), name.end());
  Pad32(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const std::vector<uint8_t>& child : children) {
    Pad32(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  if (out.size() > 0xFFFF) throw std::length_error("the version information is longer than 64 KiB");
  le::Put16(&out[0], static_cast<uint32_t>(out.size()));
  le::Put16(&out[2], valueLength);
  le::Put16(&out[4], text ? 1 : 0);
  return out;
}

std::vector<uint8_t> StringBlock(const std::u16string& key, const XString& value) {
  if (value.size() >= 0xFFFF) throw std::length_error("the version information is longer than 64 KiB");
  return VersionBlock(key, Utf16z(value), static_cast<uint16_t>(value.size() + 1), true, {});
}

// VS_FIXEDFILEINFO of a program for 32-bit Windows.
std::vector<uint8_t> FixedFileInfo(const std::array<uint16_t, 4>& v) {
  std::vector<uint8_t> out;
  Append32(out, 0xFEEF04BD);            // signature
  Append32(out, 0x00010000);            // structure version
  for (int twice = 0; twice < 2; ++twice) {  // file version, product version
    Append32(out, uint32_t(v[0]) << 16 | v[1]);
    Append32(out, uint32_t(v[2]) << 16 | v[3]);
  }
  Append32(out, 0x3F);                  // flags mask: every VS_FF_ flag
  Append32(out, 0);                     // flags: none
  Append32(out, 0x00000004);            // VOS__WINDOWS32: Windows 95 as well as NT
  Append32(out, 1);                     // VFT_APP
  Append32(out, 0);                     // subtype
  Append32(out, 0);                     // date, high and low
  Append32(out, 0);
  return out;
}

Resource MakeResource(uint16_t type, uint16_t name, uint16_t language, std::vector<uint8_t> data) {
  Resource r;
  r.type.id = type;
  r.name.id = name;
  r.language = language;
  r.data = std::move(data);
  return r;
}

}  // namespace

std::vector<IconImage> ParseIconFile(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kIconDirectorySize || le::Get16(&bytes[0]) != 0) {
    throw IconError("not an icon file (no .ico header)");
  }
  const uint32_t type = le::Get16(&bytes[2]);
  if (type == 2) throw IconError("a cursor file, not an icon file");
  if (type != 1) throw IconError("not an icon file (no .ico header)");
  const uint32_t count = le::Get16(&bytes[4]);
  if (count == 0 || count > 255) throw IconError("holds " + std::to_string(count) + " images; an icon has 1 to 255");
  const uint64_t directoryEnd = kIconDirectorySize + kIconEntrySize * uint64_t(count);
  if (directoryEnd > bytes.size()) throw IconError("the file ends inside its directory of images");
  std::vector<IconImage> images;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = &bytes[kIconDirectorySize + kIconEntrySize * i];
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
    const uint64_t size = le::Get32(e + 8);
    const uint64_t offset = le::Get32(e + 12);
    if (size == 0) throw IconError(which + " is empty");
    if (offset < directoryEnd || offset > bytes.size() || size > bytes.size() - offset) {
      throw IconError(which + " lies outside the file's images (" + std::to_string(size) + " bytes at " +
                      std::to_string(offset) + " of " + std::to_string(bytes.size()) + ")");
    }
    const uint8_t* data = &bytes[offset];
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool png = size >= sizeof kPng && std::memcmp(data, kPng, sizeof kPng) == 0;
    // A DIB starts with its BITMAPINFOHEADER (or a later version of it).
    const uint32_t header = size >= 4 ? le::Get32(data) : 0;
    const bool dib = (header == 40 || header == 108 || header == 124) && size >= header;
    if (!png && !dib) throw IconError(which + " is neither a bitmap nor a PNG image");
    IconImage image;
    image.width = e[0];
    image.height = e[1];
    image.colorCount = e[2];
    image.planes = static_cast<uint16_t>(le::Get16(e + 4));
    image.bitCount = static_cast<uint16_t>(le::Get16(e + 6));
    image.data.assign(data, data + size);
    images.push_back(std::move(image));
  }
  return images;
}

std::vector<IconImage> ReadIconFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw IconError(std::string("cannot read the file: ") + std::strerror(errno));
  const std::streamoff size = in.tellg();
  if (size < 0) throw IconError("cannot read the file");
  if (static_cast<uint64_t>(size) > kMaxIconFile) throw IconError("larger than 16 MiB, too large for an icon file");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) throw IconError("cannot read the file");
  return ParseIconFile(bytes);
}

std::optional<std::array<uint16_t, 4>> ParseVersionNumbers(const std::string& text) {
  std::array<uint16_t, 4> numbers{};
  size_t part = 0, digits = 0;
  uint32_t value = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || part == numbers.size()) return std::nullopt;
      numbers[part++] = static_cast<uint16_t>(value);
      digits = 0;
      value = 0;
    } else if (text[i] >= '0' && text[i] <= '9' && digits < 5) {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      ++digits;
      if (value > 0xFFFF) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return numbers;
}

std::vector<uint8_t> VersionResource(const Identity& identity) {
  std::vector<std::vector<uint8_t>> strings;
  auto add = [&strings](const std::u16string& key, const OptString& value) {
    if (value) strings.push_back(StringBlock(key, *value));
  };
  add(u"CompanyName", identity.publisher);
  add(u"FileDescription", identity.description);
  add(u"FileVersion", identity.version);
  add(u"LegalCopyright", identity.copyright);
  add(u"OriginalFilename", identity.originalFilename);
  add(u"ProductName", identity.productName);
  add(u"ProductVersion", identity.version);
  // The table's key: language and code page in hexadecimal.
  const std::vector<uint8_t> table = VersionBlock(u"040904B0", {}, 0, true, strings);
  const std::vector<uint8_t> stringInfo = VersionBlock(u"StringFileInfo", {}, 0, true, {table});
  std::vector<uint8_t> translation;
  Append16(translation, kEnglishUs);
  Append16(translation, kUnicodeCodePage);
  const std::vector<uint8_t> var = VersionBlock(u"Translation", translation, 4, false, {});
  const std::vector<uint8_t> varInfo = VersionBlock(u"VarFileInfo", {}, 0, true, {var});
  const std::vector<uint8_t> fixed = FixedFileInfo(identity.versionNumbers);
  return VersionBlock(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false, {stringInfo, varInfo});
}

std::vector<uint8_t> ApplyIdentity(const std::vector<uint8_t>& stub, const Identity& identity) {
  std::vector<Resource> resources = ReadResources(stub);
  auto drop = [&resources](uint16_t type) {
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [type](const Resource& r) { return !r.type.isString() && r.type.id == type; }),
                    resources.end());
  };
  if (identity.hasVersionResource()) {
    drop(kResourceVersion);
    resources.push_back(MakeResource(kResourceVersion, 1, kEnglishUs, VersionResource(identity)));
  }
  if (!identity.icon.empty()) {
    // Explorer shows the first icon group of the directory: ours is the
    // only one.
    drop(kResourceIcon);
    drop(kResourceGroupIcon);
    std::vector<uint8_t> group;
    Append16(group, 0);  // reserved
    Append16(group, 1);  // an icon, not a cursor
    Append16(group, static_cast<uint32_t>(identity.icon.size()));
    uint16_t id = 0;
    for (const IconImage& image : identity.icon) {
      resources.push_back(MakeResource(kResourceIcon, ++id, 0, image.data));
      group.insert(group.end(), {image.width, image.height, image.colorCount, 0});
      Append16(group, image.planes);
      Append16(group, image.bitCount);
      Append32(group, static_cast<uint32_t>(image.data.size()));
      Append16(group, id);
    }
    resources.push_back(MakeResource(kResourceGroupIcon, 1, 0, std::move(group)));
  }
  return ReplaceResources(stub, resources);
}

}  // namespace corv::pack

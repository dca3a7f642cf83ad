// The vendor's identity in the installer's own resources: the version
// information and the icon that Explorer shows for the file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/xstring.h"

namespace corv::pack {

// An icon file that cannot be used; the message says why.
class IconError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One image of an icon file: its directory entry and its bytes (a DIB or a
// PNG image).
struct IconImage {
  uint8_t width = 0, height = 0, colorCount = 0;
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;
};

// The images of an icon file's bytes, in file order. Throws IconError when
// the bytes are no icon file (header, 1 to 255 images), an image lies
// outside the file or is empty, or an image is neither a DIB nor a PNG.
std::vector<IconImage> ParseIconFile(const std::vector<uint8_t>& bytes);

// The same from the file `path` (at most 16 MiB); IconError also when it
// cannot be read, saying why.
std::vector<IconImage> ReadIconFile(const std::filesystem::path& path);

// "1.2.3" as the four numbers of a version (missing ones 0): one to four
// numbers from 0 to 65535 separated by dots, nothing else. None otherwise.
std::optional<std::array<uint16_t, 4>> ParseVersionNumbers(const std::string& text);

struct Identity {
  // The package's version as written and as numbers; none without one.
  OptString version;
  std::array<uint16_t, 4> versionNumbers{};
  OptString publisher;
  OptString description;
  OptString copyright;
  // Names that every version resource holds: the product's, and the
  // installer's file name.
  XString productName;
  XString originalFilename;
  std::vector<IconImage> icon;

  // The description gives a version, publisher, description or copyright.
  bool hasVersionResource() const { return version || publisher || description || copyright; }
  bool empty() const { return !hasVersionResource() && icon.empty(); }
};

// The VS_VERSIONINFO resource of `identity`: the fixed part with the
// version as file and product version, and strings for language 0x0409,
// code page 1200, with a matching translation. Throws std::length_error
// when the strings exceed the 64 KiB that the block's length can measure.
std::vector<uint8_t> VersionResource(const Identity& identity);

// `stub`, an installer program, with the version resource and the icon of
// `identity` in its resources: the stub's own resources stay (its version
// resources, and its icons when `identity` has one, give way). The icon
// group is the program's first, the one Explorer shows. Throws ImageError
// (resourcesection.h) when the stub's resources cannot be rebuilt.
std::vector<uint8_t> ApplyIdentity(const std::vector<uint8_t>& stub, const Identity& identity);

}  // namespace corv::pack

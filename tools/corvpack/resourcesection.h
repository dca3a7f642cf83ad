// The resources of a PE32 image (the installer stub): read from its
// resource section, and written back as a new resource section.
//
// The stub is linked with its resource section last (src/app/rsrclast.ld),
// so that a rebuilt section of any size replaces it in place: no other
// section moves, and nothing that points into the image changes but the
// resource data directory, the section's sizes and SizeOfImage.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace corv::pack {

// An image whose headers or resources corvpack cannot use; the message says
// why ("the resource section is not the last section").
class ImageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A resource type or name: a number, or a string (`text`, non-empty).
struct ResourceName {
  uint16_t id = 0;
  std::u16string text;

  bool isString() const { return !text.empty(); }
  // The order of a resource directory: strings before numbers, strings by
  // their UTF-16 units, numbers ascending.
  bool operator<(const ResourceName& other) const;
  bool operator==(const ResourceName& other) const { return id == other.id && text == other.text; }
};

struct Resource {
  ResourceName type;
  ResourceName name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Resource types of the window system.
constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// Every resource of `image`, a PE32 file, in directory order. Throws
// ImageError when the headers are not those of a PE32 image, when the
// image has no resources, or when the resource directory is not the
// three-level tree of types, names and languages, points outside the
// resource section's bytes, or holds more than a stub can (65535
// resources, 64 MiB of data).
std::vector<Resource> ReadResources(const std::vector<uint8_t>& image);

// `image` with its resource section replaced by one holding `resources`
// (the first of several with the same type, name and language). Throws
// ImageError, leaving `image` as it was, when the resource section is not
// the image's last section (in the section table, the image and the file)
// or overlaps the headers, when more than the padding to the file
// alignment follows it in the file (a signature or other data that would
// be cut off), or when another data directory points into it. A checksum
// in the headers is computed again.
std::vector<uint8_t> ReplaceResources(const std::vector<uint8_t>& image, const std::vector<Resource>& resources);

}  // namespace corv::pack

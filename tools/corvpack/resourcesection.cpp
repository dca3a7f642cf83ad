#include "resourcesection.h"

#include <algorithm>
#include <map>

#include "xbind/littleendian.h"

namespace corv::pack {

namespace {

constexpr uint64_t kLfanewOffset = 0x3C;
constexpr uint32_t kPe32Magic = 0x10B;
// Offsets in the PE32 optional header.
constexpr uint64_t kInitializedDataSize = 8;
constexpr uint64_t kSectionAlignment = 32;
constexpr uint64_t kFileAlignment = 36;
constexpr uint64_t kImageSize = 56;
constexpr uint64_t kChecksum = 64;
constexpr uint64_t kDirectoryCount = 92;
constexpr uint64_t kDirectories = 96;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;  // a file offset, not an address in the image
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint32_t kInitializedData = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA

// A directory entry's offset with this bit names a subdirectory, and its
// name with this bit a string.
constexpr uint32_t kHighBit = 0x80000000;
constexpr size_t kMaxResources = 65535;
constexpr uint64_t kMaxResourceData = 64u << 20;

uint64_t DirectorySize(size_t entries) { return 16 + 8 * static_cast<uint64_t>(entries); }

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Little-endian words of the image, every read checked against its end.
class ImageBytes {
public:
  explicit ImageBytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  uint32_t u16(uint64_t at) const { return le::Get16(span(at, 2)); }
  uint32_t u32(uint64_t at) const { return le::Get32(span(at, 4)); }
  const uint8_t* span(uint64_t at, uint64_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) throw ImageError("the file ends inside its headers");
    return bytes_.data() + at;
  }
  uint64_t size() const { return bytes_.size(); }

private:
  const std::vector<uint8_t>& bytes_;
};

struct Section {
  uint32_t index = 0;
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0, characteristics = 0;

  // The bytes of the section that the file holds and the image maps.
  uint32_t mappedRawSize() const { return virtualSize == 0 ? rawSize : std::min(virtualSize, rawSize); }
  bool holds(uint32_t rva) const {
    return rva >= virtualAddress && rva - virtualAddress < std::max(virtualSize, rawSize);
  }
};

struct Headers {
  uint64_t optional = 0;  // the optional header's offset in the file
  uint64_t sectionTable = 0;
  uint32_t directoryCount = 0;
  std::vector<Section> sections;

  uint64_t directoryOffset(uint32_t index) const { return optional + kDirectories + 8 * uint64_t(index); }
};

Headers ReadHeaders(const ImageBytes& image) {
  if (image.size() < 0x40 || image.u16(0) != 0x5A4D) throw ImageError("not a Windows program (no \"MZ\" header)");
  const uint64_t pe = image.u32(kLfanewOffset);
  if (image.u32(pe) != 0x00004550) throw ImageError("not a Windows program (no \"PE\" header)");
  Headers h;
  h.optional = pe + 24;
  const uint32_t optionalSize = image.u16(pe + 20);
  if (optionalSize < kDirectories || image.u16(h.optional) != kPe32Magic) {
    throw ImageError("not a 32-bit Windows program (no PE32 optional header)");
  }
  h.directoryCount = std::min<uint32_t>({image.u32(h.optional + kDirectoryCount),
                                         (optionalSize - static_cast<uint32_t>(kDirectories)) / 8, 16});
  h.sectionTable = h.optional + optionalSize;
  const uint32_t count = image.u16(pe + 6);
  image.span(h.sectionTable, count * kSectionHeaderSize);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = h.sectionTable + i * kSectionHeaderSize;
    Section s;
    s.index = i;
    s.virtualSize = image.u32(at + 8);
    s.virtualAddress = image.u32(at + 12);
    s.rawSize = image.u32(at + 16);
    s.rawPointer = image.u32(at + 20);
    s.characteristics = image.u32(at + 36);
    h.sections.push_back(s);
  }
  return h;
}

// The section that holds the resource directory.
Section ResourceSection(const ImageBytes& image, const Headers& h) {
  const uint32_t rva = h.directoryCount > kResourceDirectory ? image.u32(h.directoryOffset(kResourceDirectory)) : 0;
  if (rva == 0) throw ImageError("the program has no resources");
  for (const Section& s : h.sections) {
    if (!s.holds(rva)) continue;
    if (uint64_t(s.rawPointer) + s.mappedRawSize() > image.size()) {
      throw ImageError("the resource section lies beyond the end of the file");
    }
    return s;
  }
  throw ImageError("the resource directory lies in no section");
}

// Walks the three levels of the resource directory (type, name, language).
class TreeReader {
public:
  TreeReader(const ImageBytes& image, const Section& section, uint32_t rootRva)
      : image_(image), section_(section), root_(rootRva - section.virtualAddress) {}

  std::vector<Resource> read() {
    std::vector<Resource> out;
    Resource partial;
    directory(0, 0, partial, out);
    return out;
  }

private:
  // The file offset of `size` bytes at `offset` from the section's start.
  uint64_t inSection(uint64_t offset, uint64_t size) const {
    if (offset > section_.mappedRawSize() || size > section_.mappedRawSize() - offset) {
      throw ImageError("the resource directory points outside the resource section");
    }
    return section_.rawPointer + offset;
  }
  // The same from the root directory, where the directory's offsets start.
  uint64_t at(uint64_t offset, uint64_t size) const { return inSection(root_ + offset, size); }

  ResourceName name(uint32_t word) const {
    ResourceName n;
    if (!(word & kHighBit)) {
      if (word > 0xFFFF) throw ImageError("a resource number is larger than 65535");
      n.id = static_cast<uint16_t>(word);
      return n;
    }
    const uint64_t offset = word & ~kHighBit;
    const uint32_t length = image_.u16(at(offset, 2));
    const uint8_t* chars = image_.span(at(offset + 2, 2 * uint64_t(length)), 2 * uint64_t(length));
    for (uint32_t i = 0; i < length; ++i) n.text += static_cast<char16_t>(le::Get16(chars + 2 * i));
    if (n.text.empty()) throw ImageError("a resource has an empty name");
    return n;
  }

  void directory(uint32_t offset, int level, Resource& partial, std::vector<Resource>& out) {
    const uint64_t header = at(offset, 16);
    const uint32_t entries = image_.u16(header + 12) + image_.u16(header + 14);
    const uint64_t first = at(offset + 16, 8 * uint64_t(entries));
    for (uint32_t i = 0; i < entries; ++i) {
      // Empty directories can point at each other: every entry counts.
      if (++visited_ > kMaxResources) throw ImageError("the program has more than 65535 resources");
      const uint32_t nameWord = image_.u32(first + 8 * i);
      const uint32_t target = image_.u32(first + 8 * i + 4);
      const bool subdirectory = (target & kHighBit) != 0;
      if (subdirectory != (level < 2)) throw ImageError("the resource directory is not a tree of types, names and languages");
      if (level == 0) {
        partial.type = name(nameWord);
      } else if (level == 1) {
        partial.name = name(nameWord);
      } else {
        if (nameWord > 0xFFFF) throw ImageError("a resource's language is not a number");
        partial.language = static_cast<uint16_t>(nameWord);
      }
      if (subdirectory) {
        directory(target & ~kHighBit, level + 1, partial, out);
        continue;
      }
      const uint64_t entry = at(target, 16);
      const uint32_t dataRva = image_.u32(entry);
      const uint32_t size = image_.u32(entry + 4);
      dataTotal_ += size;
      if (dataTotal_ > kMaxResourceData) throw ImageError("the program has more than 64 MiB of resources");
      if (dataRva < section_.virtualAddress) throw ImageError("a resource's data lies outside the resource section");
      const uint8_t* data = image_.span(inSection(dataRva - section_.virtualAddress, size), size);
      partial.codePage = image_.u32(entry + 8);
      partial.data.assign(data, data + size);
      out.push_back(partial);
    }
  }

  const ImageBytes& image_;
  Section section_;
  uint32_t root_;
  size_t visited_ = 0;
  uint64_t dataTotal_ = 0;
};

// A resource directory for `resources`, for the address `rva`: the
// directories (root, types, names), the strings of the names, the data
// entries, then the data, each resource's at a multiple of 8 bytes.
class TreeWriter {
public:
  explicit TreeWriter(const std::vector<Resource>& resources) {
    for (const Resource& r : resources) tree_[r.type][r.name].emplace(r.language, &r);
  }

  std::vector<uint8_t> write(uint32_t rva) {
    uint64_t end = DirectorySize(tree_.size());
    for (const auto& [type, names] : tree_) end += DirectorySize(names.size());
    const uint64_t nameDirectories = end;
    for (const auto& [type, names] : tree_) {
      for (const auto& [name, languages] : names) end += DirectorySize(languages.size());
    }
    for (const auto& [type, names] : tree_) {
      addString(type, end);
      for (const auto& [name, languages] : names) addString(name, end);
    }
    end = AlignUp(end, 4);
    uint64_t entry = end;
    for (const auto& [type, names] : tree_) {
      for (const auto& [name, languages] : names) end += 16 * uint64_t(languages.size());
    }
    std::vector<uint64_t> dataAt;
    for (const auto& [type, names] : tree_) {
      for (const auto& [name, languages] : names) {
        for (const auto& [language, resource] : languages) {
          end = AlignUp(end, 8);
          dataAt.push_back(end);
          end += resource->data.size();
        }
      }
    }
    if (end > 0xFFFFFFFFull - rva) throw ImageError("the resources do not fit in a 32-bit image");
    out_.assign(end, 0);
    for (const auto& [text, offset] : strings_) {
      le::Put16(&out_[offset], static_cast<uint16_t>(text.size()));
      for (size_t i = 0; i < text.size(); ++i) le::Put16(&out_[offset + 2 + 2 * i], text[i]);
    }

    header(0, tree_);
    uint64_t typeAt = DirectorySize(tree_.size());
    uint64_t nameAt = nameDirectories;
    size_t rootEntry = 0, resourceIndex = 0;
    for (const auto& [type, names] : tree_) {
      link(0, rootEntry++, type, kHighBit | static_cast<uint32_t>(typeAt));
      header(typeAt, names);
      size_t typeEntry = 0;
      for (const auto& [name, languages] : names) {
        link(typeAt, typeEntry++, name, kHighBit | static_cast<uint32_t>(nameAt));
        header(nameAt, languages);
        size_t nameEntry = 0;
        for (const auto& [language, resource] : languages) {
          ResourceName number;
          number.id = language;
          link(nameAt, nameEntry++, number, static_cast<uint32_t>(entry));
          const uint64_t data = dataAt[resourceIndex++];
          le::Put32(&out_[entry], static_cast<uint32_t>(rva + data));
          le::Put32(&out_[entry + 4], static_cast<uint32_t>(resource->data.size()));
          le::Put32(&out_[entry + 8], resource->codePage);
          std::copy(resource->data.begin(), resource->data.end(), out_.begin() + static_cast<ptrdiff_t>(data));
          entry += 16;
        }
        nameAt += DirectorySize(languages.size());
      }
      typeAt += DirectorySize(names.size());
    }
    return std::move(out_);
  }

private:
  void addString(const ResourceName& name, uint64_t& end) {
    if (!name.isString() || strings_.count(name.text)) return;
    if (name.text.size() > 0xFFFF) throw ImageError("a resource name is longer than 65535 characters");
    strings_[name.text] = end;
    end += 2 + 2 * uint64_t(name.text.size());
  }

  template <typename Entries>
  void header(uint64_t at, const Entries& entries) {
    if (entries.size() > 0xFFFF) throw ImageError("a resource directory would hold more than 65535 entries");
    size_t named = 0;
    for (const auto& e : entries) named += IsNamed(e.first);
    le::Put16(&out_[at + 12], static_cast<uint16_t>(named));
    le::Put16(&out_[at + 14], static_cast<uint16_t>(entries.size() - named));
  }
  static bool IsNamed(const ResourceName& name) { return name.isString(); }
  static bool IsNamed(uint16_t) { return false; }

  void link(uint64_t directory, size_t index, const ResourceName& name, uint32_t target) {
    const uint64_t at = directory + 16 + 8 * index;
    le::Put32(&out_[at], name.isString() ? kHighBit | static_cast<uint32_t>(strings_.at(name.text)) : name.id);
    le::Put32(&out_[at + 4], target);
  }

  std::map<ResourceName, std::map<ResourceName, std::map<uint16_t, const Resource*>>> tree_;
  std::map<std::u16string, uint64_t> strings_;
  std::vector<uint8_t> out_;
};

// The PE checksum: the file's 16-bit words (the checksum's own two as
// zero) added with end-around carry, plus the file's length.
uint32_t PeChecksum(const std::vector<uint8_t>& image, uint64_t checksumAt) {
  uint64_t sum = 0;
  for (uint64_t i = 0; i < image.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    const uint32_t word = image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(((sum & 0xFFFF) + (sum >> 16)) + image.size());
}

}  // namespace

bool ResourceName::operator<(const ResourceName& other) const {
  if (isString() != other.isString()) return isString();
  return isString() ? text < other.text : id < other.id;
}

std::vector<Resource> ReadResources(const std::vector<uint8_t>& bytes) {
  const ImageBytes image(bytes);
  const Headers h = ReadHeaders(image);
  const Section section = ResourceSection(image, h);
  return TreeReader(image, section, image.u32(h.directoryOffset(kResourceDirectory))).read();
}

std::vector<uint8_t> ReplaceResources(const std::vector<uint8_t>& bytes, const std::vector<Resource>& resources) {
  const ImageBytes image(bytes);
  const Headers h = ReadHeaders(image);
  const Section s = ResourceSection(image, h);
  const uint32_t fileAlignment = image.u32(h.optional + kFileAlignment);
  const uint32_t sectionAlignment = image.u32(h.optional + kSectionAlignment);
  if (!IsPowerOfTwo(fileAlignment) || !IsPowerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment) {
    throw ImageError("the image's section and file alignments are not powers of two");
  }
  // Everything but the section itself stays: the headers and every other
  // section's bytes must lie before it, in the file and in the image.
  if (h.sectionTable + h.sections.size() * kSectionHeaderSize > s.rawPointer) {
    throw ImageError("the resource section overlaps the image's headers");
  }
  for (const Section& other : h.sections) {
    if (other.index == s.index) continue;
    if (other.index > s.index || other.virtualAddress > s.virtualAddress ||
        (other.rawSize != 0 && uint64_t(other.rawPointer) + other.rawSize > s.rawPointer)) {
      throw ImageError("the resource section is not the last section of the image, so a new one cannot take its place");
    }
  }
  // The linker may leave the last section's raw size short of the file
  // alignment, and the file padded to it.
  const uint64_t imageEnd = uint64_t(s.rawPointer) + AlignUp(s.rawSize, fileAlignment);
  if (image.size() > imageEnd) {
    throw ImageError("the file holds " + std::to_string(image.size() - imageEnd) +
                     " bytes behind its last section (a signature or other data), which a new resource section "
                     "would cut off");
  }
  for (uint32_t i = 0; i < h.directoryCount; ++i) {
    const uint32_t rva = image.u32(h.directoryOffset(i));
    const uint32_t size = image.u32(h.directoryOffset(i) + 4);
    if (i == kResourceDirectory || i == kSecurityDirectory || size == 0) continue;
    if (uint64_t(rva) + size > s.virtualAddress && s.holds(std::max(rva, s.virtualAddress))) {
      throw ImageError("data directory " + std::to_string(i) + " points into the resource section");
    }
  }

  const std::vector<uint8_t> tree = TreeWriter(resources).write(s.virtualAddress);
  const uint64_t rawSize = AlignUp(tree.size(), fileAlignment);
  const uint64_t imageSize = AlignUp(uint64_t(s.virtualAddress) + tree.size(), sectionAlignment);
  if (imageSize > 0xFFFFFFFFull) throw ImageError("the resources do not fit in a 32-bit image");

  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + s.rawPointer);
  out.insert(out.end(), tree.begin(), tree.end());
  out.resize(s.rawPointer + rawSize, 0);
  const uint64_t header = h.sectionTable + s.index * kSectionHeaderSize;
  le::Put32(&out[header + 8], static_cast<uint32_t>(tree.size()));
  le::Put32(&out[header + 16], static_cast<uint32_t>(rawSize));
  le::Put32(&out[h.optional + kImageSize], static_cast<uint32_t>(imageSize));
  const uint64_t initialized = image.u32(h.optional + kInitializedDataSize);
  if ((s.characteristics & kInitializedData) && initialized >= s.rawSize &&
      initialized - s.rawSize + rawSize <= 0xFFFFFFFFu) {
    le::Put32(&out[h.optional + kInitializedDataSize], static_cast<uint32_t>(initialized - s.rawSize + rawSize));
  }
  le::Put32(&out[h.directoryOffset(kResourceDirectory)], s.virtualAddress);
  le::Put32(&out[h.directoryOffset(kResourceDirectory) + 4], static_cast<uint32_t>(tree.size()));
  if (image.u32(h.optional + kChecksum) != 0) {
    le::Put32(&out[h.optional + kChecksum], PeChecksum(out, h.optional + kChecksum));
  }
  return out;
}

}  // namespace corv::pack

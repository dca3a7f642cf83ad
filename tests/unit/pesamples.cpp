#include "pesamples.h"

#include <algorithm>
#include <stdexcept>

namespace corv {
namespace test {

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  Put32(b, b.size() - 4, v);
}
uint32_t Align(uint32_t v, uint32_t unit) { return (v + unit - 1) / unit * unit; }

}  // namespace

std::vector<uint8_t> MakePe(const PeImage& image, PeLayout* layout) {
  PeLayout l;
  l.ntOffset = 0x80;
  l.sectionTableOffset = l.ntOffset + 248;
  const uint32_t headersEnd = l.sectionTableOffset + 40 * static_cast<uint32_t>(image.sections.size());
  uint32_t raw = Align(headersEnd, image.fileAlignment);
  uint32_t virt = image.sectionAlignment;
  std::vector<uint8_t> file(raw, 0);
  // DOS header with "MZ" and e_lfanew; a short stub text behind it.
  Put16(file, 0, 0x5A4D);
  Put32(file, 0x3C, l.ntOffset);
  const std::string stub = "This program cannot be run in DOS mode.";
  std::copy(stub.begin(), stub.end(), file.begin() + 0x40);

  const size_t nt = l.ntOffset;
  Put32(file, nt, 0x00004550);
  Put16(file, nt + 4, 0x14C);  // i386
  Put16(file, nt + 6, static_cast<uint32_t>(image.sections.size()));
  Put16(file, nt + 20, 224);
  Put16(file, nt + 22, 0x0102);
  const size_t opt = nt + 24;
  Put16(file, opt, 0x10B);
  Put32(file, opt + 28, 0x400000);  // ImageBase
  Put32(file, opt + 32, image.sectionAlignment);
  Put32(file, opt + 36, image.fileAlignment);
  Put16(file, opt + 40, 4);  // OS version
  Put16(file, opt + 48, 4);  // subsystem version
  Put32(file, opt + 60, raw);  // SizeOfHeaders
  Put32(file, opt + 64, 0x12345678);  // CheckSum, never recomputed
  Put16(file, opt + 68, 3);  // console
  Put32(file, opt + 92, 16);

  for (size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& s = image.sections[i];
    if (s.name.size() > 8) throw std::invalid_argument("section name");
    std::vector<uint8_t> data = s.data;
    if (i == image.debugSection && !image.debug.empty()) {
      // The entries go first; the section must have room for them.
      if (data.size() < 28 * image.debug.size()) throw std::invalid_argument("debug entries");
    }
    const uint32_t rawSize = s.rawSize ? s.rawSize : Align(static_cast<uint32_t>(data.size()), image.fileAlignment);
    const uint32_t virtualSize = s.virtualSize ? s.virtualSize : static_cast<uint32_t>(data.size());
    const size_t h = l.sectionTableOffset + 40 * i;
    std::copy(s.name.begin(), s.name.end(), file.begin() + h);
    Put32(file, h + 8, virtualSize);
    Put32(file, h + 12, virt);
    Put32(file, h + 16, rawSize);
    Put32(file, h + 20, raw);
    Put32(file, h + 36, 0x40000040);
    l.rawPointers.push_back(raw);
    l.virtualAddresses.push_back(virt);
    data.resize(rawSize, 0);
    file.insert(file.end(), data.begin(), data.end());
    raw += rawSize;
    virt += Align(std::max<uint32_t>(virtualSize, 1), image.sectionAlignment);
  }
  l.overlayOffset = raw;
  l.sizeOfImage = virt;
  Put32(file, opt + 56, virt);
  if (!image.debug.empty()) {
    const uint32_t at = l.rawPointers[image.debugSection];
    for (size_t k = 0; k < image.debug.size(); ++k) {
      const size_t e = at + 28 * k;
      Put32(file, e + 12, 2);  // CodeView
      Put32(file, e + 16, image.debug[k].size);
      Put32(file, e + 20, image.debug[k].addressOfRawData);
      Put32(file, e + 24, l.overlayOffset + image.debug[k].overlayOffset);
    }
    Put32(file, opt + 96 + 6 * 8, l.virtualAddresses[image.debugSection]);
    Put32(file, opt + 96 + 6 * 8 + 4, static_cast<uint32_t>(28 * image.debug.size()));
  }
  file.insert(file.end(), image.overlay.begin(), image.overlay.end());
  if (layout) *layout = l;
  return file;
}

std::vector<uint8_t> MakeBlock(const std::vector<BlockEntry>& entries, uint32_t carried) {
  std::vector<uint8_t> b;
  Append32(b, 0x00425043);
  Append32(b, 2);
  for (int i = 0; i < 4; ++i) Append32(b, carried + i);
  Append32(b, static_cast<uint32_t>(entries.size()));
  for (const BlockEntry& e : entries) {
    Append32(b, e.id);
    Append32(b, static_cast<uint32_t>(e.data.size()));
    b.insert(b.end(), e.data.begin(), e.data.end());
  }
  return b;
}

std::vector<uint8_t> StringData(const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.resize(Align(static_cast<uint32_t>(text.size()) + 1, 4), 0);
  return d;
}

std::vector<uint8_t> IntegerData(uint32_t value) {
  std::vector<uint8_t> d;
  Append32(d, value);
  return d;
}

uint32_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t(bytes.at(offset)) | uint32_t(bytes.at(offset + 1)) << 8;
}
uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
  return ReadLe16(bytes, offset) | ReadLe16(bytes, offset + 2) << 16;
}

}  // namespace test
}  // namespace corv

#include "kernel/packagecontainer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/xstream.h"

namespace corv {
namespace {

constexpr uint32_t kCorruptedPackage = 1181;

uint64_t LittleEndian(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// Collects the record up to a fixed capacity, like a memory stream, but
// takes memory only as bytes arrive: a damaged trailer that claims
// gigabytes costs nothing until the block really decodes to that much.
class RecordOutputStream : public OutputStream {
public:
  explicit RecordOutputStream(uint32_t capacity) : capacity_(capacity) {}
  void open() override {}
  void write(const void* buffer, uint32_t count) override {
    CORV_ASSERT(count <= capacity_ - bytes_.size());
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + count);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

private:
  uint32_t capacity_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::optional<PackageTrailer> ParsePackageTrailer(const uint8_t (&bytes)[kPackageTrailerSize]) {
  if (LittleEndian(bytes, 4) != kTrailerMagic) return std::nullopt;
  PackageTrailer t;
  t.recordBlockLength = static_cast<uint32_t>(LittleEndian(bytes + 4, 4));
  t.recordBlockOffset = LittleEndian(bytes + 8, 8);
  t.recordSize = LittleEndian(bytes + 16, 8);
  return t;
}

void OpenPackageFile(AbstractFile& file) {
  if (file.open(kFileRead) != 0) throw FatalError(kUnableToReadFile, file.widePath());
}

std::vector<uint8_t> ReadInstallInfoRecord(AbstractFile& package) {
  if (package.seek(kSeekEnd, -static_cast<int64_t>(kPackageTrailerSize)) != 0) throw FatalError(kCorruptedPackage);
  uint8_t raw[kPackageTrailerSize];
  uint32_t got = 0;
  while (got < kPackageTrailerSize) {
    const int32_t n = package.read(raw + got, static_cast<uint32_t>(kPackageTrailerSize - got));
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  if (got < kPackageTrailerSize) throw FatalError(kCorruptedPackage);
  const std::optional<PackageTrailer> trailer = ParsePackageTrailer(raw);
  if (!trailer) throw FatalError(kCorruptedPackage);

  FileSectionInputStream block(package, trailer->recordBlockOffset, trailer->recordBlockLength);
  RecordOutputStream record(static_cast<uint32_t>(trailer->recordSize));
  DecompressorFactory::current().create()->decompress(block, record);

  std::vector<uint8_t>& bytes = record.bytes();
  if (bytes.size() < 4 || LittleEndian(bytes.data(), 4) != kTrailerMagic) throw FatalError(kCorruptedPackage);
  return std::move(bytes);
}

}  // namespace corv

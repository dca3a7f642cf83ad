#include "kernel/packagecontainer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "kernel/installrecord.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/xstream.h"

namespace corv {
namespace {

constexpr uint32_t kCorruptedPackage = 1181;
constexpr uint32_t kDecompressFailed = 1202;

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

// Reads exactly `count` bytes at `offset`; false when the file cannot give
// them.
bool ReadAt(AbstractFile& file, uint64_t offset, uint8_t* buffer, uint32_t count) {
  if (offset > static_cast<uint64_t>(INT64_MAX) || file.seek(kSeekStart, static_cast<int64_t>(offset)) != 0) {
    return false;
  }
  uint32_t got = 0;
  while (got < count) {
    const int32_t n = file.read(buffer + got, count - got);
    if (n <= 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got == count;
}

// The file offset of the certificate table that the PE security directory
// (data directory 4, whose address is a file offset, not an RVA) names,
// when that table ends the file.
std::optional<uint64_t> CertificateTable(AbstractFile& file, uint64_t fileSize) {
  uint8_t word[4];
  if (!ReadAt(file, 0x3C, word, sizeof word)) return std::nullopt;
  const uint64_t pe = LittleEndian(word, 4);
  // Signature, file header (20 bytes), the optional header's magic.
  uint8_t head[26];
  if (!ReadAt(file, pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) return std::nullopt;
  const uint64_t optionalSize = LittleEndian(head + 20, 2);
  const uint64_t magic = LittleEndian(head + 24, 2);
  const uint64_t directory = magic == 0x10B ? 128 : magic == 0x20B ? 144 : 0;
  if (directory == 0 || optionalSize < directory + 8) return std::nullopt;
  uint8_t entry[8];
  if (!ReadAt(file, pe + 24 + directory, entry, sizeof entry)) return std::nullopt;
  const uint64_t table = LittleEndian(entry, 4);
  const uint64_t size = LittleEndian(entry + 4, 4);
  if (size == 0 || table + size != fileSize) return std::nullopt;
  return table;
}

}  // namespace

std::optional<LocatedTrailer> FindPackageTrailer(AbstractFile& package) {
  // Measured through the open file, which is what is read.
  if (package.seek(kSeekEnd, 0) != 0) return std::nullopt;
  const int64_t size = package.tell();
  if (size < static_cast<int64_t>(kPackageTrailerSize)) return std::nullopt;
  const uint64_t fileSize = static_cast<uint64_t>(size);
  uint8_t raw[kPackageTrailerSize];
  if (!ReadAt(package, fileSize - kPackageTrailerSize, raw, kPackageTrailerSize)) return std::nullopt;
  if (std::optional<PackageTrailer> t = ParsePackageTrailer(raw)) return LocatedTrailer{*t, fileSize};
  const std::optional<uint64_t> table = CertificateTable(package, fileSize);
  if (!table || *table < kPackageTrailerSize) return std::nullopt;
  // The trailer, then up to 7 zero bytes that align the table.
  constexpr uint32_t kMaxPadding = 7;
  const uint32_t span = static_cast<uint32_t>(std::min<uint64_t>(*table, kPackageTrailerSize + kMaxPadding));
  uint8_t tail[kPackageTrailerSize + kMaxPadding];
  if (!ReadAt(package, *table - span, tail, span)) return std::nullopt;
  for (uint32_t padding = 0; padding <= kMaxPadding && padding + kPackageTrailerSize <= span; ++padding) {
    if (padding > 0 && tail[span - padding] != 0) break;
    std::memcpy(raw, tail + span - padding - kPackageTrailerSize, kPackageTrailerSize);
    if (std::optional<PackageTrailer> t = ParsePackageTrailer(raw)) return LocatedTrailer{*t, *table - padding};
  }
  return std::nullopt;
}

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
  const std::optional<LocatedTrailer> located = FindPackageTrailer(package);
  if (!located) throw FatalError(kCorruptedPackage);
  const PackageTrailer* trailer = &located->trailer;

  FileSectionInputStream block(package, trailer->recordBlockOffset, trailer->recordBlockLength);
  RecordOutputStream record(static_cast<uint32_t>(trailer->recordSize));
  DecompressorFactory::current().create()->decompress(block, record);

  std::vector<uint8_t>& bytes = record.bytes();
  if (bytes.size() < 4 || LittleEndian(bytes.data(), 4) != kTrailerMagic) throw FatalError(kCorruptedPackage);
  // LZMA data has no check of its own: damage can decode to other bytes.
  if (bytes.size() >= kRecordHeaderSize && !RecordChecksumMatches(bytes.data(), bytes.size())) {
    throw FatalError(kDecompressFailed);
  }
  return std::move(bytes);
}

}  // namespace corv

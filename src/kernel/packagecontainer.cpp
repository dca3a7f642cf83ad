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

// The certificate table that the PE security directory (data directory 4,
// whose address is a file offset, not an RVA) names: none when the file is
// no PE image or the directory is empty (an unsigned file).
struct CertificateTable {
  uint64_t offset = 0;
  uint64_t size = 0;
};

std::optional<CertificateTable> FindCertificateTable(AbstractFile& file) {
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
  CertificateTable table{LittleEndian(entry, 4), LittleEndian(entry + 4, 4)};
  if (table.offset == 0 && table.size == 0) return std::nullopt;
  return table;
}

// The table holds signatures and nothing else: entries of an 8-byte header
// (length, revision, type) and one DER-encoded signature each, padded with
// fewer than 8 zero bytes to the next 8-byte boundary, the last ending the
// table. Bytes a signature's own encoding does not account for are not
// covered by it (a package hidden there would pass a signature check).
bool TableHoldsOnlySignatures(AbstractFile& file, const CertificateTable& table) {
  const uint64_t end = table.offset + table.size;
  uint64_t at = table.offset;
  while (at < end) {
    // The entry's header, then the signature's tag and up to 4 length bytes.
    uint8_t head[8 + 6] = {};
    const uint64_t left = end - at;
    if (left < 10 || !ReadAt(file, at, head, static_cast<uint32_t>(std::min<uint64_t>(left, sizeof head)))) {
      return false;
    }
    const uint64_t length = LittleEndian(head, 4);
    if (length < 10 || length > left || head[8] != 0x30) return false;
    uint64_t content = head[9];
    uint64_t header = 2;
    if (content >= 0x80) {
      const uint32_t bytes = head[9] & 0x7F;
      if (bytes == 0 || bytes > 4) return false;  // indefinite or absurd lengths are not DER
      content = 0;
      for (uint32_t i = 0; i < bytes; ++i) content = content << 8 | head[10 + i];
      header += bytes;
    }
    const uint64_t used = 8 + header + content;
    if (used > length) return false;
    const uint64_t next = std::min(at + ((length + 7) & ~uint64_t(7)), end);
    const uint64_t gap = next - (at + used);
    if (gap > 7) return false;
    uint8_t padding[7];
    if (gap > 0 && !ReadAt(file, at + used, padding, static_cast<uint32_t>(gap))) return false;
    for (uint64_t i = 0; i < gap; ++i) {
      if (padding[i] != 0) return false;
    }
    at = next;
  }
  return true;
}

}  // namespace

std::optional<LocatedTrailer> FindPackageTrailer(AbstractFile& package, SignatureFault* fault) {
  if (fault) *fault = SignatureFault::kNone;
  auto refuse = [&](SignatureFault why) -> std::optional<LocatedTrailer> {
    if (fault) *fault = why;
    return std::nullopt;
  };
  // Measured through the open file, which is what is read.
  if (package.seek(kSeekEnd, 0) != 0) return std::nullopt;
  const int64_t size = package.tell();
  if (size < static_cast<int64_t>(kPackageTrailerSize)) return std::nullopt;
  const uint64_t fileSize = static_cast<uint64_t>(size);
  uint8_t raw[kPackageTrailerSize];
  const std::optional<CertificateTable> table = FindCertificateTable(package);
  if (!table) {
    if (!ReadAt(package, fileSize - kPackageTrailerSize, raw, kPackageTrailerSize)) return std::nullopt;
    if (std::optional<PackageTrailer> t = ParsePackageTrailer(raw)) return LocatedTrailer{*t, fileSize, false};
    return std::nullopt;
  }
  // The signature covers everything before its table: the package must lie
  // there, and nothing in or behind the table counts.
  if (table->offset > fileSize || table->size != fileSize - table->offset) {
    return refuse(SignatureFault::kTableNotAtEnd);
  }
  if (!TableHoldsOnlySignatures(package, *table)) return refuse(SignatureFault::kBytesBesideSignatures);
  if (table->offset < kPackageTrailerSize) return refuse(SignatureFault::kNoTrailerBeforeTable);
  // The trailer, then up to 7 zero bytes that align the table.
  constexpr uint32_t kMaxPadding = 7;
  const uint32_t span = static_cast<uint32_t>(std::min<uint64_t>(table->offset, kPackageTrailerSize + kMaxPadding));
  uint8_t tail[kPackageTrailerSize + kMaxPadding];
  if (!ReadAt(package, table->offset - span, tail, span)) return std::nullopt;
  for (uint32_t padding = 0; padding <= kMaxPadding && padding + kPackageTrailerSize <= span; ++padding) {
    if (padding > 0 && tail[span - padding] != 0) break;
    std::memcpy(raw, tail + span - padding - kPackageTrailerSize, kPackageTrailerSize);
    if (std::optional<PackageTrailer> t = ParsePackageTrailer(raw)) {
      return LocatedTrailer{*t, table->offset - padding, true};
    }
  }
  return refuse(SignatureFault::kNoTrailerBeforeTable);
}

const char* SignatureFaultText(SignatureFault fault) {
  switch (fault) {
    case SignatureFault::kNone: break;
    case SignatureFault::kTableNotAtEnd: return "the certificate table does not end the file";
    case SignatureFault::kBytesBesideSignatures: return "the certificate table holds bytes that no signature covers";
    case SignatureFault::kNoTrailerBeforeTable: return "no package trailer right before the certificate table";
    case SignatureFault::kBlockInSignature: return "a block lies in or behind the certificate table";
  }
  return "";
}

bool BlockBeforeTrailer(const LocatedTrailer& located, uint64_t offset, uint64_t length) {
  const uint64_t start = located.end - kPackageTrailerSize;
  return offset <= start && length <= start - offset;
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

std::vector<uint8_t> ReadInstallInfoRecord(AbstractFile& package, std::optional<LocatedTrailer>* where) {
  SignatureFault fault;
  const std::optional<LocatedTrailer> located = FindPackageTrailer(package, &fault);
  if (fault != SignatureFault::kNone) throw FatalError(kDecompressFailed);
  if (!located) throw FatalError(kCorruptedPackage);
  const PackageTrailer* trailer = &located->trailer;
  if (located->signedFile && !BlockBeforeTrailer(*located, trailer->recordBlockOffset, trailer->recordBlockLength)) {
    throw FatalError(kDecompressFailed);
  }
  if (where) *where = located;

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

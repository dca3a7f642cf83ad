// The package inside the installer's own file.
//
// The package is appended to the installer's program image: three blocks
// (main files, auxiliary files, install-info record) and, as the last 24
// bytes of the file, a trailer that says where the install-info block is:
//   offset 0, 4 bytes:  magic "5II1" (0x31494935)
//   offset 4, 4 bytes:  length of the install-info block, header included
//   offset 8, 8 bytes:  file offset of the install-info block
//   offset 16, 8 bytes: size of the decoded record (the low 32 bits count)
// All integers little-endian, all offsets absolute. Nothing else about the
// image or the order of the blocks matters. A signed installer carries its
// certificate table behind the trailer (see FindPackageTrailer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "util/file.h"

namespace corv {

constexpr uint32_t kTrailerMagic = 0x31494935;
constexpr size_t kPackageTrailerSize = 24;

struct PackageTrailer {
  uint32_t recordBlockLength = 0;
  uint64_t recordBlockOffset = 0;
  uint64_t recordSize = 0;
};

// The trailer in `bytes`; none when the magic is wrong.
std::optional<PackageTrailer> ParsePackageTrailer(const uint8_t (&bytes)[kPackageTrailerSize]);

// Where the trailer of an installer file lies: its values and the file
// offset where it ends. That is the end of the file, or, in a signed
// installer, where the signature's certificate table begins: Authenticode
// appends the table behind the package (aligned to 8 bytes, with up to 7
// zero bytes in front of it) and names it in the PE security directory.
// The signature covers everything before the table and nothing in it, so a
// signed file's package is looked for only right before the table, and
// every block must lie there.
struct LocatedTrailer {
  PackageTrailer trailer;
  uint64_t end = 0;
  bool signedFile = false;
};

// Why a signed file's layout is refused.
enum class SignatureFault {
  kNone,
  kTableNotAtEnd,          // the table does not end the file exactly
  kBytesBesideSignatures,  // it holds more than its signatures
  kNoTrailerBeforeTable,   // no trailer right before it (after up to 7 zeros)
  kBlockInSignature,       // a block reaches the trailer, the table or beyond
};
const char* SignatureFaultText(SignatureFault fault);

// The trailer of `package` (open for reading). None when there is none
// where it must be or the file cannot be read; `fault` then says whether
// the file is signed with a layout that is refused.
std::optional<LocatedTrailer> FindPackageTrailer(AbstractFile& package, SignatureFault* fault = nullptr);

// The block of `length` bytes at `offset` ends at or before the trailer.
bool BlockBeforeTrailer(const LocatedTrailer& located, uint64_t offset, uint64_t length);

// Opens the installer's own file for reading; FatalError 1102 "Unable to
// read file %s" with its path when it cannot.
void OpenPackageFile(AbstractFile& file);

// Reads the trailer of `package` (open for reading) and decodes the
// install-info block it names; `where`, when given, receives the trailer.
// Returns the decoded record, which begins with the magic. FatalError 1181
// "Invalid or corrupted installation package" for a file too short for a
// trailer, a wrong magic in the trailer or in the record; 1202 for a block
// that cannot be decoded (one that lies beyond the file's end among them)
// or whose bytes differ from the checksum the record carries, and for a
// signed file whose package does not lie wholly before its certificate
// table; 1102 when the file cannot be read. A record that decodes to more
// than the trailer's size is an assertion failure. Memory grows with the
// bytes actually decoded, not with what the trailer claims.
std::vector<uint8_t> ReadInstallInfoRecord(AbstractFile& package, std::optional<LocatedTrailer>* where = nullptr);

}  // namespace corv

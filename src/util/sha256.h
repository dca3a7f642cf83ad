// SHA-256 (FIPS 180-4), for the digests that seal what the installer leaves
// for its uninstaller. Portable; Windows 95/98 have no SHA-2 provider.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace corv {

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest Sha256(const uint8_t* data, size_t size);

// The digest as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace corv

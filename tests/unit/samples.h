// Test helper: real executables to run the x86 conversion over.
#pragma once

#include <string>
#include <vector>

namespace corv {
namespace test {

// The test program's own executable (a mingw-built PE under Wine, an ELF on
// the host) followed by a 32-bit Windows library of the system's Wine when
// it exists. Never empty.
std::vector<std::string> ExecutableSamples();

// The first `limit` bytes of a sample (4 MiB keeps liblzma's reference
// compression quick while still spanning several 1 MiB filter buffers).
std::vector<unsigned char> ReadSample(const std::string& path, size_t limit = 4u << 20);

}  // namespace test
}  // namespace corv

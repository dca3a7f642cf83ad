// Little-endian words in byte buffers, as PE files and property blocks
// store them.
#pragma once

#include <cstdint>

namespace corv::le {

inline uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t Get32(const uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace corv::le

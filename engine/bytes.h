// Little-endian numbers in byte arrays, as the file format and the cipher
// store them, whatever the processor's own order.  The compilers this is
// built with turn each function into one load or store on a little-endian
// processor.
#pragma once

#include <cstdint>

inline uint32_t load_le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint64_t load_le64(const uint8_t* p) {
  return load_le32(p) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}

inline void store_le64(uint8_t* p, uint64_t v) {
  store_le32(p, static_cast<uint32_t>(v));
  store_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

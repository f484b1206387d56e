// Every integer of the archive is little-endian: the loads of the bit readers and the
// stores of the packer.
#pragma once

#include <cstdint>

inline uint32_t load_le16(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void store_le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
  store_le16(p, v);
  store_le16(p + 2, v >> 16);
}

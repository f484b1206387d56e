// The standard reflected CRC-32, for the packer's own use (member CRCs, stamping).
#pragma once

#include <cstddef>
#include <cstdint>

namespace builder {

// Runs the register over the bytes, without inversion.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length);
// The standard CRC-32 of the bytes.
inline uint32_t crc32(const uint8_t* data, size_t length) {
  return ~crc32_update(0xFFFFFFFFu, data, length);
}

}  // namespace builder

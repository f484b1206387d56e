#include "builder/checksum.h"

#include <array>

namespace builder {
namespace {

// Slicing by four bytes: the packer checks whole corpora.
std::array<std::array<uint32_t, 256>, 4> make_tables() {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 4; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  return t;
}
const auto kTables = make_tables();

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length) {
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    crc ^= data[i] | (data[i + 1] << 8) | (data[i + 2] << 16) |
           (static_cast<uint32_t>(data[i + 3]) << 24);
    crc = kTables[3][crc & 0xFF] ^ kTables[2][(crc >> 8) & 0xFF] ^ kTables[1][(crc >> 16) & 0xFF] ^
          kTables[0][crc >> 24];
  }
  for (; i < length; ++i) crc = (crc >> 8) ^ kTables[0][(crc ^ data[i]) & 0xFF];
  return crc;
}

}  // namespace builder

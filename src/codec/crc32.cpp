#include "codec/crc32.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Tables 1 to 7 of the eight-bytes-at-a-time method, derived from crc_table when it is
// built (zero-initialised data: they add nothing to the image).
uint32_t crc_slices[7][256];

}  // namespace

void crc_build_table() {
  uint32_t* const table = archive_reader.crc_table;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    table[n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = table[n];
    for (int s = 0; s < 7; ++s) {
      c = (c >> 8) ^ table[c & 0xFF];
      crc_slices[s][n] = c;
    }
  }
}

uint32_t crc_update(const void* data, uint32_t length, uint32_t crc) {
  const uint32_t* const table = archive_reader.crc_table;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  // Eight bytes per step: the same register as one table lookup per byte.
  while (length >= 8) {
    const uint32_t lo = load_le32(p) ^ crc;
    const uint32_t hi = load_le32(p + 4);
    crc = crc_slices[6][lo & 0xFF] ^ crc_slices[5][(lo >> 8) & 0xFF] ^
          crc_slices[4][(lo >> 16) & 0xFF] ^ crc_slices[3][lo >> 24] ^
          crc_slices[2][hi & 0xFF] ^ crc_slices[1][(hi >> 8) & 0xFF] ^
          crc_slices[0][(hi >> 16) & 0xFF] ^ table[hi >> 24];
    p += 8;
    length -= 8;
  }
  while (length-- != 0) crc = (crc >> 8) ^ table[(crc ^ *p++) & 0xFF];
  return crc;
}

#include "common/crc32.h"

#include "common/byte_order.h"
#include "common/machine_word.h"

#if ZARPEX_HOST_FAST
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Tables 1 to 15 of the sixteen-bytes-at-a-time method (1 to 7 of the eight-bytes one
// where registers are few and code must stay small: 32-bit builds), derived from
// crc_table when it is built (zero-initialised data: they add nothing to the image).
constexpr bool kSixteen = sizeof(MachineWord) == 8;
constexpr int kSlices = kSixteen ? 15 : 7;
uint32_t crc_slices[kSlices][256];

#if ZARPEX_HOST_FAST
// Carry-less multiply folding: four 16-byte lanes are each carried 64 bytes forward at
// a time (multiplied by x^480 and x^544 modulo the polynomial, the two halves apart), then
// folded into one lane, whose 16 bytes have the same remainder as everything before
// them: the table finishes on those. Constants: x^n mod P, bit-reflected into 33 bits.
constexpr uint32_t kFoldMinimum = 64;

__attribute__((target("pclmul,sse2"))) __m128i fold(__m128i lane, __m128i by, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, by, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, by, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) uint32_t crc_fold(const uint8_t*& p, uint32_t& length,
                                                         uint32_t crc) {
  const __m128i by64 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);  // x^480, x^544
  const __m128i by16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);  // x^96, x^160
  auto load = [](const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  __m128i a = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i b = load(p + 16);
  __m128i c = load(p + 32);
  __m128i d = load(p + 48);
  p += 64;
  length -= 64;
  while (length >= 64) {
    a = fold(a, by64, load(p));
    b = fold(b, by64, load(p + 16));
    c = fold(c, by64, load(p + 32));
    d = fold(d, by64, load(p + 48));
    p += 64;
    length -= 64;
  }
  a = fold(fold(fold(a, by16, b), by16, c), by16, d);
  while (length >= 16) {
    a = fold(a, by16, load(p));
    p += 16;
    length -= 16;
  }
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), a);
  const uint32_t* const table = crc_table;
  crc = 0;
  for (uint8_t byte : rest) crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF];
  return crc;
}

const bool kHasCarrylessMultiply = __builtin_cpu_supports("pclmul");
#endif

}  // namespace

uint32_t crc_table[256];

void crc_build_table() {
  uint32_t* const table = crc_table;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    table[n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = table[n];
    for (int s = 0; s < kSlices; ++s) {
      c = (c >> 8) ^ table[c & 0xFF];
      crc_slices[s][n] = c;
    }
  }
}

uint32_t crc_update(const void* data, uint32_t length, uint32_t crc) {
  const uint32_t* const table = crc_table;
  const uint8_t* p = static_cast<const uint8_t*>(data);
#if ZARPEX_HOST_FAST
  if (length >= kFoldMinimum && kHasCarrylessMultiply) crc = crc_fold(p, length, crc);
#endif
  // Sixteen, then eight bytes per step: the same register as one table lookup per byte.
  // Only the first word depends on the register; the other lookups overlap with it.
  if constexpr (kSixteen) {
    while (length >= 16) {
      const uint32_t a = load_le32(p) ^ crc;
      const uint32_t b = load_le32(p + 4);
      const uint32_t c = load_le32(p + 8);
      const uint32_t d = load_le32(p + 12);
      crc = crc_slices[10][b & 0xFF] ^ crc_slices[9][(b >> 8) & 0xFF] ^
            crc_slices[8][(b >> 16) & 0xFF] ^ crc_slices[7][b >> 24] ^ crc_slices[6][c & 0xFF] ^
            crc_slices[5][(c >> 8) & 0xFF] ^ crc_slices[4][(c >> 16) & 0xFF] ^
            crc_slices[3][c >> 24] ^ crc_slices[2][d & 0xFF] ^ crc_slices[1][(d >> 8) & 0xFF] ^
            crc_slices[0][(d >> 16) & 0xFF] ^ table[d >> 24] ^ crc_slices[14][a & 0xFF] ^
            crc_slices[13][(a >> 8) & 0xFF] ^ crc_slices[12][(a >> 16) & 0xFF] ^
            crc_slices[11][a >> 24];
      p += 16;
      length -= 16;
    }
  }
  while (length >= 8) {
    const uint32_t lo = load_le32(p) ^ crc;
    const uint32_t hi = load_le32(p + 4);
    crc = crc_slices[2][hi & 0xFF] ^ crc_slices[1][(hi >> 8) & 0xFF] ^
          crc_slices[0][(hi >> 16) & 0xFF] ^ table[hi >> 24] ^ crc_slices[6][lo & 0xFF] ^
          crc_slices[5][(lo >> 8) & 0xFF] ^ crc_slices[4][(lo >> 16) & 0xFF] ^
          crc_slices[3][lo >> 24];
    p += 8;
    length -= 8;
  }
  while (length-- != 0) crc = (crc >> 8) ^ table[(crc ^ *p++) & 0xFF];
  return crc;
}

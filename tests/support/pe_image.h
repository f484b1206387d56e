// Just enough of a PE image's headers for the tests of what a code signature changes:
// the DOS header's pointer, the "PE" signature, a file header and an optional header of
// either form with sixteen data directories. Header-only, for the core and e2e tests.
#pragma once

#include <cstdint>
#include <vector>

namespace pe_image {

inline constexpr uint32_t kPeAt = 0x80;  // where the headers put the PE signature
inline constexpr uint32_t kOptional = kPeAt + 24;
inline constexpr uint32_t kChecksum = kOptional + 64;
inline constexpr uint32_t kHeadersEnd = 0x200;

// The certificate-table entry: data directory 4, behind the 96 (PE32) or 112 (PE32+)
// bytes of the optional header's fixed part.
inline uint32_t certificate_entry(bool plus) {
  return kOptional + (plus ? 112 : 96) + 4 * 8;
}

inline void put32(std::vector<uint8_t>& image, uint32_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes the headers over the first 512 bytes of image (at least that long); the checksum
// gets a non-zero value, as the linker's finishing step leaves it.
inline void put_headers(std::vector<uint8_t>& image, bool plus) {
  for (uint32_t i = 0; i < kHeadersEnd; ++i) image[i] = 0;
  image[0] = 'M', image[1] = 'Z';
  put32(image, 0x3C, kPeAt);
  image[kPeAt] = 'P', image[kPeAt + 1] = 'E';
  image[kPeAt + 4] = plus ? 0x64 : 0x4C, image[kPeAt + 5] = plus ? 0x86 : 0x01;  // machine
  image[kPeAt + 20] = plus ? 240 : 224;                                          // optional size
  image[kOptional] = 0x0B, image[kOptional + 1] = plus ? 0x02 : 0x01;
  put32(image, kOptional + (plus ? 108 : 92), 16);  // count of data directories
  put32(image, kChecksum, 0x0001A2B3);
  // A data directory in use on either side of the certificate entry (import, debug).
  put32(image, certificate_entry(plus) - 24, 0x5000);
  put32(image, certificate_entry(plus) + 16, 0x6000);
}

// Signs a finished installer as a signing tool does: pads the file to 8 bytes, appends a
// certificate table of `table_size` bytes, points the certificate entry at it and writes
// a new checksum. The table holds one WIN_CERTIFICATE header and filler bytes.
inline void sign(std::vector<uint8_t>& file, bool plus, uint32_t table_size) {
  while (file.size() % 8 != 0) file.push_back(0);
  const uint32_t at = static_cast<uint32_t>(file.size());
  put32(file, certificate_entry(plus), at);
  put32(file, certificate_entry(plus) + 4, table_size);
  for (uint32_t i = 0; i < table_size; ++i) file.push_back(static_cast<uint8_t>(i * 7 + 1));
  // The table starts with a WIN_CERTIFICATE header: its length, revision 2.0, and the
  // type of a PKCS#7 signature.
  if (table_size >= 8) {
    put32(file, at, table_size);
    put32(file, at + 4, 0x00020200);
  }
  put32(file, kChecksum, 0x00C0FFEE + table_size);
}

}  // namespace pe_image

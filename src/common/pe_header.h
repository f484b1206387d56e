// The PE headers as far as the installer's self-check and the packer read them: the DOS
// header's pointer to the PE signature, and the machine the file header names.
#pragma once

#include <cstdint>

#include "common/byte_order.h"

namespace pe {

inline constexpr uint32_t kDosHeaderSize = 0x40;
inline constexpr uint32_t kPeOffsetField = 0x3C;      // in the DOS header
inline constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr uint32_t kMachineField = 4;          // from the PE signature
inline constexpr uint32_t kSignatureAndMachine = 6;
inline constexpr uint32_t kMachineI386 = 0x014C;
inline constexpr uint32_t kMachineAmd64 = 0x8664;

}  // namespace pe

// Where the PE signature lies in an image of `size` bytes, by the DOS header at `image`
// (its first 64 bytes), when `needed` bytes from there fit in the image; 0 when they do
// not or the image has no DOS header.
inline uint32_t pe_header_offset(const uint8_t* image, uint32_t size, uint32_t needed) {
  if (size < pe::kDosHeaderSize || size < needed || image[0] != 'M' || image[1] != 'Z') return 0;
  const uint32_t headers = load_le32(image + pe::kPeOffsetField);
  return headers <= size - needed ? headers : 0;
}

// Whether the 6 bytes at the PE header are the PE signature and an x86 machine (32- or
// 64-bit).
inline bool is_x86_pe_signature(const uint8_t* headers) {
  if (load_le32(headers) != pe::kPeSignature) return false;
  const uint32_t machine = load_le16(headers + pe::kMachineField);
  return machine == pe::kMachineI386 || machine == pe::kMachineAmd64;
}

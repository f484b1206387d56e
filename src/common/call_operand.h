// The operand of the call-address transform. After each x86 call opcode in a file's
// contents the packer stores the 4-byte relative displacement in an absolute form that
// compresses better; the installer restores it (also the 2-byte form of 16-bit code).
// `at` is the operand's offset in the file, `size` the file's length.
#pragma once

#include <cstdint>

// Displacements reaching inside the file, [-at, size - at), become their target, [0, size);
// those reaching past its end by less than `at`, [size - at, size), are mirrored into
// [-at, -1]; everything else is stored as it is.
inline uint32_t stored_call_operand(uint32_t displacement, uint32_t at, uint32_t size) {
  const int64_t v = static_cast<int32_t>(displacement);
  const int64_t o = at, s = size;
  if (v >= -o && v < s - o) return static_cast<uint32_t>(v + o);
  if (v >= s - o && v < s) return static_cast<uint32_t>(s - o - 1 - v);
  return displacement;
}

// The inverse, for an operand of `width` bytes (2 or 4).
inline uint32_t restored_call_operand(uint32_t stored, uint32_t width, uint32_t at, uint32_t size) {
  if (width == 2) return (stored - at) & 0xFFFF;
  const int32_t v = static_cast<int32_t>(stored);
  if (stored < size) return stored - at;
  if (v < 0 && static_cast<int64_t>(v) >= -static_cast<int64_t>(at)) return size - at - 1 - stored;
  return stored;
}

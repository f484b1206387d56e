// Code lengths (the fixed set and the transmitted run-length/delta form), canonical
// Huffman codes, and the DecodeTable: a direct lookup on the first B bits plus an
// overflow tree for longer codes.
#pragma once

#include <cstdint>

#include "codec/result.h"

// Marks a table slot where no code begins; no alphabet has 288 or more symbols.
inline constexpr int32_t kEmptySlot = -288;

// Lookup widths.
inline constexpr uint32_t kLiteralLengthBits = 9;
inline constexpr uint32_t kDistanceBits = 7;
inline constexpr uint32_t kCodeLengthBits = 6;

// Fills a 344-byte table set with the fixed code lengths.
void fixed_code_lengths(uint8_t* lengths);

// Reads set_count sets of set_length code lengths from the bit cursor (set_count 0: the
// fixed set, nothing read). 0, -11 for damaged lengths, or a refill's failure (-50 when
// the chunk runs out).
ResultCode read_code_lengths(uint8_t* dest, uint32_t set_length, uint32_t set_count);

// Stores the bit-reversed canonical code of every symbol with a nonzero length; entries
// of symbols with length 0 (or above 16) stay untouched.
void canonical_codes(uint32_t* codes, const uint8_t* lengths, uint32_t count);

// Fills the 2^width primary entries and (when tree is given) the 2 * count tree entries.
// Returns -11 when the tree runs out of nodes; the codes not entered then read as empty
// slots. Codes that collide with codes already entered (an over-subscribed set) are
// left out the same way.
ResultCode build_decode_table(int32_t* primary, int32_t* tree, const uint32_t* codes,
                              const uint8_t* lengths, uint32_t width, uint32_t count);

// Looks up the symbol whose code begins the bits (first bit least significant; at
// least 16 valid bits). Returns the symbol or kEmptySlot. The caller consumes the
// symbol's code length.
inline int32_t decode_symbol(uint32_t bits, const int32_t* primary, const int32_t* tree,
                             uint32_t width) {
  int32_t entry = primary[bits & ((1u << width) - 1)];
  if (entry >= 0 || entry == kEmptySlot) return entry;
  int32_t node = -entry;
  bits >>= width;
  // Codes are at most 16 bits long, so no walk goes deeper than 16 - width levels.
  for (uint32_t level = width; level < 16; ++level) {
    entry = tree[2 * node + (bits & 1)];
    bits >>= 1;
    if (entry > 0) {
      node = entry;
      continue;
    }
    return entry == kEmptySlot ? kEmptySlot : -entry;
  }
  return kEmptySlot;
}

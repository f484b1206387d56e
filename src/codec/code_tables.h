// Code lengths (the fixed set and the transmitted run-length/delta form), canonical
// Huffman codes, and the DecodeTable: a direct lookup on the first B bits plus an
// overflow tree for longer codes.
#pragma once

#include <cstdint>

#include "codec/result.h"

// A table entry where a code ends packs its symbol and its length, so that one lookup
// gives both: (symbol << kEntryLengthBits) | length. Primary entries below zero lead
// into the tree (-node); tree entries above zero are nodes, those at or below zero end
// a code (-entry).
inline constexpr uint32_t kEntryLengthBits = 5;
inline constexpr uint32_t entry_symbol(int32_t entry) {
  return static_cast<uint32_t>(entry) >> kEntryLengthBits;
}
inline constexpr uint32_t entry_length(int32_t entry) {
  return static_cast<uint32_t>(entry) & ((1u << kEntryLengthBits) - 1);
}

// Marks a table slot where no code begins: no node number reaches 288, and no entry
// where a code ends has length 0.
inline constexpr int32_t kEmptySlot = -288;

// Lookup widths: wide enough that codes longer than them are rare.
inline constexpr uint32_t kLiteralLengthBits = 11;
inline constexpr uint32_t kDistanceBits = 9;
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
// left out the same way. With entries given, a primary entry where a code of length L
// ends is entries[symbol] + L * kEntryPerCodeBit (the block decoder's form, which may be
// below kEmptySlot) instead of (symbol << kEntryLengthBits) | L; tree entries keep their
// form.
// The block decoder's entries count a code's bits in two fields, the bits to consume
// (bits 0-5) and the code's length (from bit kCodeLengthShift): one code bit adds this.
inline constexpr uint32_t kCodeLengthShift = 6;
inline constexpr uint32_t kEntryPerCodeBit = 1 + (1u << kCodeLengthShift);

// With doubled, the primary entries of the codes up to the width are already in place
// (build_entry_table) and only the tree is built.
ResultCode build_decode_table(int32_t* primary, int32_t* tree, const uint32_t* codes,
                              const uint8_t* lengths, uint32_t width, uint32_t count,
                              const int32_t* entries = nullptr, bool doubled = false);

// canonical_codes and build_decode_table with entries in one; with ZARPEX_FAST_DECODE
// the primary table is filled by doubling copies where the code allows it, with the same
// result.
ResultCode build_entry_table(int32_t* primary, int32_t* tree, uint32_t* codes,
                             const uint8_t* lengths, uint32_t width, uint32_t count,
                             const int32_t* entries);

// The rest of a lookup whose primary entry is below zero (a link into the tree or an
// empty slot): bits are those behind the primary width. Returns the entry where the
// code ends, or kEmptySlot.
int32_t walk_tree(uint32_t bits, int32_t link, const int32_t* tree, uint32_t width);

// Looks up the code that begins the bits (first bit least significant; at least 16 valid
// bits). Returns its entry (symbol and length) or kEmptySlot. The caller consumes the
// entry's length.
inline int32_t decode_symbol(uint32_t bits, const int32_t* primary, const int32_t* tree,
                             uint32_t width) {
  const int32_t entry = primary[bits & ((1u << width) - 1)];
  if (entry >= 0) return entry;
  return walk_tree(bits >> width, entry, tree, width);
}

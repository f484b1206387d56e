// Length-limited Huffman code lengths and the canonical, bit-reversed codes that go with
// them.
#pragma once

#include <cstdint>

namespace builder {

// Fills lengths[0..count) with code lengths of at most max_length bits for the given
// frequencies. Symbols of frequency 0 get length 0; a lone used symbol gets length 1.
// The code is complete whenever two or more symbols are used.
void build_code_lengths(const uint32_t* frequencies, uint32_t count, uint32_t max_length,
                        uint8_t* lengths);

// Canonical codes for the lengths, each stored with its bits reversed so that the first
// bit of the code is written first.
void build_canonical_codes(const uint8_t* lengths, uint32_t count, uint16_t* codes);

// Bits needed to code the frequencies with the lengths.
uint64_t coded_bits(const uint32_t* frequencies, const uint8_t* lengths, uint32_t count);

}  // namespace builder

// The parsed form of a block: literals and matches, with the distance already resolved
// to its distance symbol (remembered distances, short distances, coded distances).
#pragma once

#include <cstdint>

#include "codec/format.h"

namespace builder {

struct Token {
  uint32_t length;  // 0 for a literal
  uint32_t value;   // the literal byte, or the distance's extra-bits value
  uint8_t dist_symbol;
};

// Literal/length symbol of a match length (2 .. 33,026).
inline uint32_t length_symbol(uint32_t length) {
  if (length <= format::kLastShortLength) {
    return format::kFirstLengthSymbol + length - format::kMinMatchLength;
  }
  if (length >= format::kLongMatchBase) return format::kSymbolLongMatch;
  uint32_t i = format::kBasedLengthSymbols - 1;
  while (format::kLengthBase[i] > length) --i;
  return format::kFirstBasedLengthSymbol + i;
}
inline uint32_t length_extra_bits(uint32_t symbol) {
  if (symbol < format::kFirstLengthSymbol || symbol > format::kSymbolLongMatch) return 0;
  return format::length_symbol_extra_bits(symbol);
}
inline uint32_t length_extra_value(uint32_t symbol, uint32_t length) {
  return length - format::length_symbol_base(symbol);
}

// Coded distance symbol (6..41) of a distance of 5 or more.
inline uint32_t coded_distance_symbol(uint32_t distance) {
  const uint32_t x = distance - 1;
  const uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(x));  // x >= 4
  const uint32_t k = top - 2;
  const uint32_t odd = (x >= (1u << top) + (1u << (top - 1))) ? 1 : 0;
  return 6 + 2 * k + odd;
}
inline uint32_t distance_symbol_extra_bits(uint32_t symbol) {
  return symbol < format::kFirstCodedDistance ? 0 : format::distance_extra_bits(symbol);
}

// The two remembered distances of the block being parsed, updated as the decoder does.
struct RepeatState {
  uint32_t last = 0;
  uint32_t previous = 0;

  // Resolves a distance to its symbol and extra value, and updates the state.
  Token match(uint32_t length, uint32_t distance) {
    Token t{length, 0, 0};
    if (distance == last) {
      t.dist_symbol = format::kDistanceRepeatLast;
    } else if (distance == previous) {
      t.dist_symbol = format::kDistanceRepeatPrevious;
      previous = last;
      last = distance;
    } else if (distance <= format::kShortDistances) {
      t.dist_symbol = static_cast<uint8_t>(format::short_distance_symbol(distance));
    } else {
      const uint32_t symbol = coded_distance_symbol(distance);
      t.dist_symbol = static_cast<uint8_t>(symbol);
      t.value = distance - format::distance_base(symbol);
      previous = last;
      last = distance;
    }
    return t;
  }
};

// Whether a match of this length can be coded at this distance, given the remembered
// distances and the number of distance tables of the block.
inline bool match_codable(uint32_t length, uint32_t distance, const RepeatState& reps,
                          uint32_t tables) {
  if (distance == 0) return false;
  if (distance == reps.last || distance == reps.previous || distance <= format::kShortDistances) {
    return true;
  }
  const uint32_t table = format::distance_table_for(length, tables);
  const uint32_t symbol = coded_distance_symbol(distance);
  return symbol < format::kDistanceSymbols[table];
}

}  // namespace builder

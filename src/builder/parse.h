// Parsers: turn one block of the stream into tokens.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/hash_chain_finder.h"
#include "builder/lz_token.h"

namespace builder {

struct BlockSpan {
  uint32_t start;    // stream position of the block's first byte
  uint32_t end;      // one past its last byte
  uint32_t history;  // bytes before start that the decoder still holds for this block
  uint32_t tables;   // distance tables of the block (2 or 3)
};

struct LevelParams {
  uint32_t depth;        // chain candidates per search
  uint32_t nice_length;  // stop searching at this length
  uint32_t lazy;         // 0 greedy, 1 one step of lazy evaluation, 2 two steps
  bool optimal;          // price-driven parsing
  uint32_t passes;       // optimal parsing passes
};

LevelParams level_params(int level);

// Earliest stream position a match at pos may start from.
inline uint32_t reach_start(const BlockSpan& span, uint32_t pos) {
  uint32_t lo = span.start - span.history;
  const uint32_t max_back = format::kMaxDistance;
  if (pos > max_back && pos - max_back > lo) lo = pos - max_back;
  return lo;
}

// Rough bit cost of a match, used to compare candidates before any code exists.
inline int32_t match_gain(uint32_t length, uint32_t distance, const RepeatState& reps) {
  int32_t dist_cost;
  if (distance == reps.last || distance == reps.previous) {
    dist_cost = 2;
  } else if (distance <= format::kShortDistances) {
    dist_cost = 4;
  } else {
    dist_cost =
        5 + static_cast<int32_t>(distance_symbol_extra_bits(coded_distance_symbol(distance)));
  }
  const uint32_t symbol = length_symbol(length);
  const int32_t length_cost = 5 + static_cast<int32_t>(length_extra_bits(symbol));
  return static_cast<int32_t>(length) * 8 - length_cost - dist_cost;
}

// Greedy or lazy parse. Returns in *needed the farthest any match reaches before the
// block's start.
void parse_lazy(HashChainFinder& finder, const uint8_t* data, const BlockSpan& span,
                const LevelParams& params, std::vector<Token>& tokens, uint32_t* needed);

}  // namespace builder

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
  const uint32_t max_back = 1u << 20;
  if (pos > max_back && pos - max_back > lo) lo = pos - max_back;
  return lo;
}

// Greedy or lazy parse. Returns in *needed the farthest any match reaches before the
// block's start.
void parse_lazy(HashChainFinder& finder, const uint8_t* data, const BlockSpan& span,
                const LevelParams& params, std::vector<Token>& tokens, uint32_t* needed);

}  // namespace builder

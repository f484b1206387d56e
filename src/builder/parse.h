// Parsers: turn one block of the stream into tokens. Both parsers choose among the same
// candidates (the remembered distances, the match finder's matches, a nearby pair) with
// the same rough price; the optimal parser then prices them with real code lengths.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "builder/incompressible.h"
#include "builder/levels.h"
#include "builder/lz_token.h"
#include "builder/match_finder.h"

namespace builder {

// A block as a parser sees it. Positions are offsets into the parser's data, which holds
// the block and, in front of it, the window the decoder keeps for it.
struct BlockSpan {
  uint32_t start;    // position of the block's first byte
  uint32_t end;      // one past its last byte
  uint32_t history;  // bytes before start that the decoder still holds for this block
  uint32_t tables;   // distance tables of the block (2 or 3)
  // Stretches that get literals only, neither searched nor added to the match finder.
  const std::vector<SkipRange>* skip = nullptr;
};

// Earliest position a match at pos may start from.
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

// The candidates the finder offers at one position: its matches (longer ones later) and
// the distance of a length-2 match within 64 bytes (0 if none).
struct Candidates {
  const MatchCandidate* matches = nullptr;
  size_t count = 0;
  uint32_t pair_distance = 0;
};

struct Choice {
  uint32_t length = 0;
  uint32_t distance = 0;
  int32_t gain = 0;
};

// The candidate search both parsers share: the best match at pos by rough gain, among the
// remembered distances, the finder's matches and, when nothing of length 3 or more was
// found, the pair. A match whose distance the table of its length cannot code is left out.
Choice choose_match(const uint8_t* data, const BlockSpan& span, uint32_t pos,
                    const RepeatState& reps, const Candidates& found);

// Greedy or lazy parse over a candidate source: `candidates_at(pos)` returns the
// Candidates of pos. Returns in *needed the farthest any match reaches before the block's
// start.
template <typename CandidatesAt>
void lazy_parse(const uint8_t* data, const BlockSpan& span, uint32_t lazy_steps,
                uint32_t nice_length, CandidatesAt&& candidates_at, std::vector<Token>& tokens,
                uint32_t* needed) {
  RepeatState reps;
  uint32_t farthest = 0;
  uint32_t pos = span.start;
  while (pos < span.end) {
    Choice current = choose_match(data, span, pos, reps, candidates_at(pos));
    if (current.length < 2 || current.gain <= 0) {
      tokens.push_back({0, data[pos], 0});
      ++pos;
      continue;
    }
    // Lazy evaluation: a better match one byte on is worth a literal now.
    uint32_t steps = 0;
    while (steps < lazy_steps && current.length < nice_length && pos + 1 < span.end) {
      const Choice next = choose_match(data, span, pos + 1, reps, candidates_at(pos + 1));
      if (next.gain <= current.gain + 8) break;
      tokens.push_back({0, data[pos], 0});
      ++pos;
      current = next;
      ++steps;
    }
    const uint32_t offset_in_block = pos - span.start;
    if (current.distance > offset_in_block)
      farthest = std::max(farthest, current.distance - offset_in_block);
    tokens.push_back(reps.match(current.length, current.distance));
    pos += current.length;
  }
  *needed = farthest;
}

// Greedy or lazy parse with the hash-chain finder (levels 1 to 6).
void parse_lazy(MatchFinder& finder, const uint8_t* data, const BlockSpan& span,
                const LevelParams& params, std::vector<Token>& tokens, uint32_t* needed);

}  // namespace builder

#include <algorithm>

#include "builder/parse.h"

namespace builder {
namespace {

struct Candidate {
  uint32_t length = 0;
  uint32_t distance = 0;
  int32_t gain = 0;
};

Candidate best_at(HashChainFinder& finder, const uint8_t* data, const BlockSpan& span, uint32_t pos,
                  const RepeatState& reps) {
  Candidate best;
  const uint32_t max_length = std::min<uint32_t>(span.end - pos, format::kMaxMatchLength);
  if (max_length < 2) return best;
  const uint32_t lo = reach_start(span, pos);
  auto consider = [&](uint32_t length, uint32_t distance) {
    // Lengths 2 and 3 have distance tables of short reach; such a match beyond it is
    // left out rather than coded with a table that cannot hold its distance.
    if (length < 2 || !match_codable(length, distance, reps, span.tables)) return;
    const int32_t gain = match_gain(length, distance, reps);
    if (gain > best.gain) best = {length, distance, gain};
  };
  for (uint32_t rep : {reps.last, reps.previous}) {
    if (rep == 0 || rep > pos || pos - rep < lo) continue;
    consider(common_length(data + pos, data + pos - rep, max_length), rep);
  }
  MatchCandidate found;
  if (finder.find(pos, lo, max_length, &found) >= 3) {
    consider(found.length, found.distance);
  }
  if (best.length < 3) {
    const uint32_t earlier = finder.last_pair(pos);
    if (earlier != 0xFFFFFFFFu && earlier >= lo && pos - earlier <= format::table_reach(1))
      consider(common_length(data + pos, data + earlier, max_length), pos - earlier);
  }
  return best;
}

}  // namespace

LevelParams level_params(int level) {
  switch (level) {
    case 1:
      return {4, 16, 0, false, 0};
    case 2:
      return {8, 32, 0, false, 0};
    case 3:
      return {12, 32, 1, false, 0};
    case 4:
      return {24, 64, 1, false, 0};
    case 5:
      return {48, 128, 1, false, 0};
    case 6:
      return {96, 192, 2, false, 0};
    case 7:
      return {32, 128, 0, true, 1};
    case 8:
      return {96, 258, 0, true, 2};
    default:
      return {256, 1024, 0, true, 2};
  }
}

void parse_lazy(HashChainFinder& finder, const uint8_t* data, const BlockSpan& span,
                const LevelParams& params, std::vector<Token>& tokens, uint32_t* needed) {
  RepeatState reps;
  uint32_t farthest = 0;
  uint32_t pos = span.start;
  auto emit_literal = [&](uint32_t at) { tokens.push_back({0, data[at], 0}); };
  while (pos < span.end) {
    finder.insert_until(pos);
    Candidate current = best_at(finder, data, span, pos, reps);
    if (current.length < 2 || current.gain <= 0) {
      emit_literal(pos);
      ++pos;
      continue;
    }
    // Lazy evaluation: a better match one byte on is worth a literal now.
    uint32_t steps = 0;
    while (steps < params.lazy && current.length < params.nice_length && pos + 1 < span.end) {
      finder.insert_until(pos + 1);
      const Candidate next = best_at(finder, data, span, pos + 1, reps);
      if (next.gain <= current.gain + 8) break;
      emit_literal(pos);
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

}  // namespace builder

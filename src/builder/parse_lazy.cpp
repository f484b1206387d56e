#include <algorithm>

#include "builder/parse.h"

namespace builder {

Choice choose_match(const uint8_t* data, const BlockSpan& span, uint32_t pos,
                    const RepeatState& reps, const Candidates& found) {
  Choice best;
  const uint32_t max_length = std::min<uint32_t>(span.end - pos, format::kMaxMatchLength);
  if (max_length < 2) return best;
  const uint32_t lo = reach_start(span, pos);
  auto consider = [&](uint32_t length, uint32_t distance) {
    length = std::min(length, max_length);
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
  for (size_t k = 0; k < found.count; ++k)
    consider(found.matches[k].length, found.matches[k].distance);
  if (best.length < 3 && found.pair_distance != 0)
    consider(common_length(data + pos, data + pos - found.pair_distance, max_length),
             found.pair_distance);
  return best;
}

void parse_lazy(MatchFinder& finder, const uint8_t* data, const BlockSpan& span,
                const LevelParams& params, std::vector<Token>& tokens, uint32_t* needed) {
  MatchCandidate longest;
  SkipCursor skip(span.skip);
  auto candidates_at = [&](uint32_t pos) {
    Candidates c;
    if (skip.inside(pos)) return c;
    finder.insert_until(pos);
    const uint32_t lo = reach_start(span, pos);
    const uint32_t max_length = std::min<uint32_t>(span.end - pos, format::kMaxMatchLength);
    if (finder.find(pos, lo, max_length, &longest) >= 3) {
      c.matches = &longest;
      c.count = 1;
    }
    const uint32_t earlier = finder.last_pair(pos);
    if (earlier != 0xFFFFFFFFu && earlier >= lo && pos - earlier <= format::table_reach(1))
      c.pair_distance = pos - earlier;
    return c;
  };
  lazy_parse(data, span, params.lazy, params.nice_length, candidates_at, tokens, needed);
}

}  // namespace builder

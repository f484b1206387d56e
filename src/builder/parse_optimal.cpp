#include "builder/parse_optimal.h"

#include <algorithm>

#include "builder/block_encoder.h"

namespace builder {
namespace {

constexpr uint32_t kUnusedLiteralPrice = 14;
constexpr uint32_t kUnusedDistancePrice = 10;
constexpr uint32_t kInfinity = 0xFFFFFFFFu;
constexpr size_t kMaxCandidatesPerPosition = 16;

// The step that reached a node: a literal (length 0), a match, or a match followed by
// `literals` literals and a second match at a remembered distance (second_length, not 0).
struct Node {
  uint32_t cost;
  uint32_t length;
  uint32_t distance;
  uint32_t literals;
  uint32_t second_length;
  uint32_t second_distance;
  RepeatState reps;
};

// Price of a distance symbol and its extra bits in a table, or kInfinity where the table
// cannot code it.
uint32_t distance_price(const SetPrices& prices, uint32_t table, uint32_t symbol) {
  return symbol < format::kDistanceSymbols[table]
             ? prices.distance[table][symbol] + distance_symbol_extra_bits(symbol)
             : kInfinity;
}

// The price of a match at `distance` in each distance table; `reps` becomes the remembered
// distances the match leaves.
void distance_prices_by_table(const SetPrices& prices, RepeatState& reps, uint32_t distance,
                              uint32_t* by_table) {
  const Token t = reps.match(4, distance);
  for (uint32_t table = 0; table < format::kDistanceTables; ++table)
    by_table[table] = distance_price(prices, table, t.dist_symbol);
}

uint32_t step_size(const Node& node) {
  if (node.length == 0) return 1;
  return node.second_length ? node.length + node.literals + node.second_length : node.length;
}

// The steps that leave one node of the shortest-path search: each is priced with the
// prices of the node's stretch and lowers the cost of the node it reaches when cheaper.
struct PathRelaxation {
  std::vector<Node>& nodes;
  const BlockSpan& span;
  const uint8_t* data;
  const LevelParams& params;
  const SetPrices& prices;
  uint32_t i;  // the node, as an offset in the block
  uint32_t pos = span.start + i;

  // A step of length 0 is a literal (it advances by one).
  void relax(uint32_t length, uint32_t distance, uint32_t cost) {
    Node& target = nodes[i + (length ? length : 1)];
    if (cost < target.cost) {
      target.cost = cost;
      target.length = length;
      target.distance = distance;
      target.second_length = 0;
    }
  }

  // Matches at `distance` of every length from from_length to to_length, each priced with
  // the distance table its length selects.
  void relax_lengths(uint32_t from_length, uint32_t to_length, uint32_t distance) {
    uint32_t by_table[format::kDistanceTables];
    RepeatState r = nodes[i].reps;
    distance_prices_by_table(prices, r, distance, by_table);
    if (to_length >= params.nice_length) from_length = to_length;
    const uint32_t cost = nodes[i].cost;
    for (uint32_t l = from_length; l <= to_length; ++l) {
      const uint32_t price = by_table[format::distance_table_for(l, span.tables)];
      if (price != kInfinity) relax(l, distance, cost + prices.match_price(l) + price);
    }
  }

  // A whole match, then a few literals, then a match at one of the distances remembered
  // after the first (its own, or the one before it): the second match is cheap, but the
  // path through the literals alone may have lost that distance, so the steps are priced
  // as one.
  void relax_match_literal_repeat(uint32_t length, uint32_t distance, uint32_t literals,
                                  bool previous) {
    const uint32_t n = span.end - span.start;
    const uint32_t after = i + length + literals;
    if (after + 2 > n) return;
    const uint32_t pos2 = span.start + after;
    const Node& node = nodes[i];
    RepeatState r = node.reps;
    const Token first = r.match(length, distance);
    const uint32_t distance2 = previous ? r.previous : distance;
    if (distance2 == 0 || distance2 > pos2 || pos2 - distance2 < reach_start(span, pos2)) return;
    const uint32_t max2 = std::min<uint32_t>(n - after, format::kMaxMatchLength);
    const uint32_t length2 = common_length(data + pos2, data + pos2 - distance2, max2);
    if (length2 < 2) return;
    const Token second = r.match(length2, distance2);
    const uint32_t price1 =
        distance_price(prices, format::distance_table_for(length, span.tables), first.dist_symbol);
    const uint32_t price2 = distance_price(prices, format::distance_table_for(length2, span.tables),
                                           second.dist_symbol);
    if (price1 == kInfinity || price2 == kInfinity) return;
    uint32_t cost =
        node.cost + prices.match_price(length) + price1 + prices.match_price(length2) + price2;
    for (uint32_t k = 0; k < literals; ++k) cost += prices.literal[data[pos + length + k]];
    Node& target = nodes[after + length2];
    if (cost < target.cost) {
      target.cost = cost;
      target.length = length;
      target.distance = distance;
      target.literals = literals;
      target.second_length = length2;
      target.second_distance = distance2;
    }
  }

  void relax_match_literal_repeats(uint32_t length, uint32_t distance) {
    for (uint32_t literals = 1; literals <= params.literal_repeat; ++literals) {
      relax_match_literal_repeat(length, distance, literals, false);
      relax_match_literal_repeat(length, distance, literals, true);
    }
  }
};

// Several ways of reaching each position are kept, the cheapest first, each with the
// remembered distances it leaves: a way that costs a little more now may keep a distance
// that a later match reuses cheaply. A step is a match (first_length, may be 0), then
// `literals` literals, then a match at a remembered distance (second_length, may be 0);
// a literal alone is a step of one literal.
constexpr uint32_t kMaxWays = 4;

// What the search needs of a way while positions before it are still expanded; kept for
// the positions a step can reach ahead only.
struct Way {
  uint32_t cost;
  uint32_t last, previous;  // remembered distances after the step
};

// How a way was reached, kept for every position until the path is read back.
// `packed`: the first match's distance (21 bits), the literals (2), the way the step left
// from (2) and where the second match's distance comes from (2).
struct Trace {
  uint32_t packed;
  uint16_t first_length;
  uint16_t second_length;
};

enum SecondDistance : uint32_t { kNoSecond = 0, kSameAsFirst = 1, kLast = 2, kPrevious = 3 };

constexpr uint32_t kTraceDistanceBits = 21;
static_assert(format::kMaxDistance < (1u << kTraceDistanceBits));

// A way offered to a position: its Way and Trace together.
struct Step {
  Way way;
  uint32_t first_distance;
  uint32_t first_length;
  uint32_t second_length;
  uint32_t literals;
  uint32_t from;
  uint32_t second;  // SecondDistance

  Trace trace() const {
    return {first_distance | literals << kTraceDistanceBits | from << (kTraceDistanceBits + 2) |
                second << (kTraceDistanceBits + 4),
            static_cast<uint16_t>(first_length), static_cast<uint16_t>(second_length)};
  }
};

uint32_t trace_distance(const Trace& t) {
  return t.packed & ((1u << kTraceDistanceBits) - 1);
}
uint32_t trace_literals(const Trace& t) {
  return (t.packed >> kTraceDistanceBits) & 3;
}
uint32_t trace_from(const Trace& t) {
  return (t.packed >> (kTraceDistanceBits + 2)) & 3;
}
uint32_t trace_second(const Trace& t) {
  return (t.packed >> (kTraceDistanceBits + 4)) & 3;
}
uint32_t step_size(const Trace& t) {
  return t.first_length + trace_literals(t) + t.second_length;
}

// Positions ahead whose ways are kept: beyond the farthest step (two longest matches and
// the literals between them).
constexpr uint32_t kAheadBits = 17;
static_assert((1u << kAheadBits) > 2 * format::kMaxMatchLength + kMaxWays);

class ArrivalSearch {
 public:
  ArrivalSearch(std::vector<Way>& ahead, std::vector<Trace>& traces, uint32_t ways,
                const BlockSpan& span, const uint8_t* data, const LevelParams& params)
      : ahead_(ahead), traces_(traces), ways_(ways), span_(span), data_(data), params_(params) {}

  Way* ways_at(uint32_t i) {
    return &ahead_[static_cast<size_t>(i & ((1u << kAheadBits) - 1)) * ways_];
  }

  // Offers a way of reaching `target`: kept when it is among the `ways_` cheapest there and
  // no cheaper way leaves the same remembered distances.
  void offer(uint32_t target, const Step& step) {
    Way* slots = ways_at(target);
    const Way& a = step.way;
    if (a.cost >= slots[ways_ - 1].cost) return;  // costlier than all of a full list
    uint32_t j = 0;
    for (; j < ways_ && slots[j].cost != kInfinity; ++j) {
      if (slots[j].last == a.last && slots[j].previous == a.previous) {
        if (a.cost >= slots[j].cost) return;
        break;  // replaced below
      }
    }
    if (j == ways_) j = ways_ - 1;
    // Slot j is free or given up; the costlier ones before it move down by one.
    Trace* traces = &traces_[static_cast<size_t>(target) * ways_];
    uint32_t p = j;
    while (p > 0 && slots[p - 1].cost > a.cost) {
      slots[p] = slots[p - 1];
      traces[p] = traces[p - 1];
      --p;
    }
    slots[p] = a;
    traces[p] = step.trace();
  }

  // Matches at `distance` of every length from from_length to to_length.
  void lengths(const SetPrices& prices, uint32_t i, uint32_t k, const Way& from,
               uint32_t from_length, uint32_t to_length, uint32_t distance) {
    RepeatState r{from.last, from.previous};
    uint32_t by_table[format::kDistanceTables];
    distance_prices_by_table(prices, r, distance, by_table);
    if (to_length >= params_.nice_length) from_length = to_length;
    Step step{{0, r.last, r.previous}, distance, 0, 0, 0, k, kNoSecond};
    for (uint32_t l = from_length; l <= to_length; ++l) {
      const uint32_t price = by_table[format::distance_table_for(l, span_.tables)];
      if (price == kInfinity) continue;
      step.way.cost = from.cost + prices.match_price(l) + price;
      step.first_length = l;
      offer(i + l, step);
    }
  }

  // A match (length 0: none), `literals` literals, then a match at a distance remembered
  // after the first: the path through the literals alone may have lost that distance, so
  // the steps are priced as one.
  void match_literal_repeat(const SetPrices& prices, uint32_t i, uint32_t k, const Way& from,
                            uint32_t length, uint32_t distance, uint32_t literals, bool previous) {
    const uint32_t n = span_.end - span_.start;
    const uint32_t after = i + length + literals;
    if (after + 2 > n) return;
    const uint32_t pos = span_.start + i;
    const uint32_t pos2 = span_.start + after;
    RepeatState r{from.last, from.previous};
    Token first{};
    if (length) first = r.match(length, distance);
    const uint32_t second = previous ? kPrevious : length ? kSameAsFirst : kLast;
    const uint32_t distance2 = previous ? r.previous : length ? distance : r.last;
    if (distance2 == 0 || distance2 > pos2 || pos2 - distance2 < reach_start(span_, pos2)) return;
    // Most tries end here: the second match needs two bytes.
    if (data_[pos2] != data_[pos2 - distance2] || data_[pos2 + 1] != data_[pos2 + 1 - distance2])
      return;
    uint32_t cost = from.cost;
    if (length) {
      const uint32_t price1 = distance_price(
          prices, format::distance_table_for(length, span_.tables), first.dist_symbol);
      if (price1 == kInfinity) return;
      cost += prices.match_price(length) + price1;
    }
    const uint32_t max2 = std::min<uint32_t>(n - after, format::kMaxMatchLength);
    const uint32_t length2 = common_length(data_ + pos2, data_ + pos2 - distance2, max2);
    const Token token2 = r.match(length2, distance2);
    const uint32_t price2 = distance_price(
        prices, format::distance_table_for(length2, span_.tables), token2.dist_symbol);
    if (price2 == kInfinity) return;
    cost += prices.match_price(length2) + price2;
    for (uint32_t m = 0; m < literals; ++m) cost += prices.literal[data_[pos + length + m]];
    offer(after + length2,
          {{cost, r.last, r.previous}, distance, length, length2, literals, k, second});
  }

  void match_literal_repeats(const SetPrices& prices, uint32_t i, uint32_t k, const Way& from,
                             uint32_t length, uint32_t distance) {
    for (uint32_t literals = 1; literals <= params_.literal_repeat; ++literals) {
      match_literal_repeat(prices, i, k, from, length, distance, literals, false);
      match_literal_repeat(prices, i, k, from, length, distance, literals, true);
    }
  }

 private:
  std::vector<Way>& ahead_;
  std::vector<Trace>& traces_;
  uint32_t ways_;
  const BlockSpan& span_;
  const uint8_t* data_;
  const LevelParams& params_;
};

// The tokens of the cheapest path, from the steps that reached its nodes. Returns how far
// back before the block its matches reach.
uint32_t replay_path(const uint8_t* data, const BlockSpan& span, const std::vector<Node>& nodes,
                     std::vector<Token>& tokens) {
  // Walk back from the end, then replay forward to resolve the distance symbols.
  std::vector<const Node*> steps;
  for (uint32_t i = span.end - span.start; i > 0;) {
    steps.push_back(&nodes[i]);
    i -= step_size(nodes[i]);
  }
  RepeatState reps;
  uint32_t farthest = 0;
  uint32_t at = 0;
  auto literal = [&]() {
    tokens.push_back({0, data[span.start + at], 0});
    ++at;
  };
  auto match = [&](uint32_t length, uint32_t distance) {
    if (distance > at) farthest = std::max(farthest, distance - at);
    tokens.push_back(reps.match(length, distance));
    at += length;
  };
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const Node& step = **it;
    if (step.length == 0) {
      literal();
      continue;
    }
    match(step.length, step.distance);
    if (step.second_length) {
      for (uint32_t k = 0; k < step.literals; ++k) literal();
      match(step.second_length, step.second_distance);
    }
  }
  return farthest;
}

}  // namespace

OptimalParser::OptimalParser(const LevelParams& params, uint32_t max_sets)
    : params_(params), max_sets_(max_sets) {}

void OptimalParser::collect_matches(const BlockSpan& span) {
  const uint32_t n = span.end - span.start;
  first_.assign(n + 1, 0);
  matches_.clear();
  pair_distance_.assign(n, 0);
  skip_.assign(n, 0);
  std::vector<MatchCandidate> found;
  SkipCursor incompressible(span.skip);
  for (uint32_t i = 0; i < n; ++i) {
    first_[i] = static_cast<uint32_t>(matches_.size());
    if (skip_[i]) continue;
    const uint32_t pos = span.start + i;
    if (incompressible.inside(pos)) {
      skip_[i] = 1;  // literals only
      continue;
    }
    finder_->insert_until(pos);
    const uint32_t lo = reach_start(span, pos);
    const uint32_t max_length = std::min<uint32_t>(span.end - pos, format::kMaxMatchLength);
    found.clear();
    MatchCandidate best;
    finder_->find(pos, lo, max_length, &best, &found);
    // The longest candidates are kept, so that memory stays bounded on any data.
    const size_t keep = std::min(found.size(), kMaxCandidatesPerPosition);
    matches_.insert(matches_.end(), found.end() - static_cast<std::ptrdiff_t>(keep), found.end());
    const uint32_t earlier = finder_->last_pair(pos);
    if (earlier != 0xFFFFFFFFu && earlier >= lo && pos - earlier <= format::table_reach(1) &&
        max_length >= format::kMinMatchLength)
      pair_distance_[i] = pos - earlier;
    // A long match is taken as it is: the positions it covers are neither searched nor
    // expanded, which keeps highly repetitive data linear.
    if (best.length >= params_.nice_length)
      std::fill(skip_.begin() + i + 1, skip_.begin() + i + best.length, 1);
  }
  first_[n] = static_cast<uint32_t>(matches_.size());
  finder_->insert_until(span.end);
}

void OptimalParser::prices_from(const std::vector<Token>& tokens, uint32_t tables,
                                std::vector<SetPrices>* prices) const {
  const std::vector<SetStretch> plan = plan_table_sets(tokens, tables, max_sets_);
  // A symbol a stretch does not use is priced as in the whole block's set: the stretch's
  // own statistics would keep it out of the parse for good.
  const std::vector<SetStretch> whole = plan_table_sets(tokens, tables, 1);
  const uint8_t* block_lengths = whole[0].set.lengths;
  prices->resize(plan.size());
  uint32_t offset = 0;
  size_t token = 0;
  for (size_t k = 0; k < plan.size(); ++k) {
    SetPrices& p = (*prices)[k];
    const uint8_t* lengths = plan[k].set.lengths;
    for (; token < plan[k].begin; ++token)
      offset += tokens[token].length ? tokens[token].length : 1;
    p.from = k == 0 ? 0 : offset;
    for (uint32_t s = 0; s < format::kLiteralLengthSymbols; ++s)
      p.literal[s] = lengths[s]         ? lengths[s]
                     : block_lengths[s] ? block_lengths[s]
                                        : kUnusedLiteralPrice;
    for (uint32_t l = format::kMinMatchLength; l < kPricedLengths; ++l) {
      const uint32_t symbol = length_symbol(l);
      p.match_length[l] = p.literal[symbol] + length_extra_bits(symbol);
    }
    p.long_match = p.literal[format::kSymbolLongMatch] + format::kLongMatchExtraBits;
    for (uint32_t t = 0; t < format::kDistanceTables; ++t)
      for (uint32_t s = 0; s < format::kMaxDistanceSymbols; ++s) {
        const bool coded = t < tables && s < format::kDistanceSymbols[t];
        const uint8_t len = coded ? lengths[format::kDistanceOffset[t] + s] : 0;
        const uint8_t in_block = coded ? block_lengths[format::kDistanceOffset[t] + s] : 0;
        p.distance[t][s] = len ? len : in_block ? in_block : kUnusedDistancePrice;
      }
  }
}

void OptimalParser::shortest_path(const BlockSpan& span, const std::vector<SetPrices>& all_prices,
                                  std::vector<Token>& tokens, uint32_t* needed) {
  const uint32_t n = span.end - span.start;
  // Kept by each thread from block to block: a block's nodes pass 32 MB, which the C
  // library would map afresh and fault in page by page for every block.
  thread_local std::vector<Node> nodes;
  nodes.assign(n + 1, Node{kInfinity, 0, 0, 0, 0, 0, {}});
  nodes[0].cost = 0;
  size_t set = 0;
  for (uint32_t i = 0; i < n; ++i) {
    // Each stretch is priced with the set that will code it.
    while (set + 1 < all_prices.size() && i >= all_prices[set + 1].from) ++set;
    Node& node = nodes[i];
    if (node.cost == kInfinity) continue;
    // The remembered distances along the best path to this node.
    if (i > 0) {
      const Node& from = nodes[i - step_size(node)];
      node.reps = from.reps;
      if (node.length) node.reps.match(node.length, node.distance);
      if (node.second_length) node.reps.match(node.second_length, node.second_distance);
    }
    PathRelaxation step{nodes, span, data_, params_, all_prices[set], i};
    step.relax(0, 0, node.cost + all_prices[set].literal[data_[step.pos]]);
    if (skip_[i]) continue;
    const uint32_t max_length = std::min<uint32_t>(n - i, format::kMaxMatchLength);
    if (max_length < 2) continue;
    const uint32_t lo = reach_start(span, step.pos);
    // Remembered distances, every length.
    for (uint32_t rep : {node.reps.last, node.reps.previous}) {
      if (rep == 0 || rep > step.pos || step.pos - rep < lo) continue;
      const uint32_t length = common_length(data_ + step.pos, data_ + step.pos - rep, max_length);
      if (length >= 2) {
        step.relax_lengths(2, length, rep);
        step.relax_match_literal_repeats(length, rep);
      }
    }
    if (pair_distance_[i] != 0) step.relax_lengths(2, 2, pair_distance_[i]);
    uint32_t previous_length = 2;
    for (uint32_t k = first_[i]; k < first_[i + 1]; ++k) {
      const MatchCandidate& m = matches_[k];
      const uint32_t length = std::min(m.length, max_length);
      if (length <= previous_length) continue;
      step.relax_lengths(previous_length + 1, length, m.distance);
      step.relax_match_literal_repeats(length, m.distance);
      if (length >= params_.nice_length) break;
      previous_length = length;
    }
  }
  *needed = replay_path(data_, span, nodes, tokens);
}

void OptimalParser::shortest_path_arrivals(const BlockSpan& span,
                                           const std::vector<SetPrices>& all_prices,
                                           std::vector<Token>& tokens, uint32_t* needed) {
  const uint32_t n = span.end - span.start;
  const uint32_t ways = std::min(params_.arrivals, kMaxWays);
  // Kept by each thread from block to block, as the nodes of the single-way search.
  thread_local std::vector<Way> ahead;
  thread_local std::vector<Trace> traces;
  ahead.assign(static_cast<size_t>(ways) << kAheadBits, Way{kInfinity, 0, 0});
  traces.resize(static_cast<size_t>(n + 1) * ways);
  ArrivalSearch search(ahead, traces, ways, span, data_, params_);
  search.ways_at(0)[0].cost = 0;
  size_t set = 0;
  for (uint32_t i = 0; i < n; ++i) {
    while (set + 1 < all_prices.size() && i >= all_prices[set + 1].from) ++set;
    const SetPrices& prices = all_prices[set];
    const uint32_t pos = span.start + i;
    const uint32_t max_length = std::min<uint32_t>(n - i, format::kMaxMatchLength);
    const uint32_t lo = reach_start(span, pos);
    Way* here = search.ways_at(i);
    for (uint32_t k = 0; k < ways; ++k) {
      const Way from = here[k];
      if (from.cost == kInfinity) break;
      search.offer(i + 1, {{from.cost + prices.literal[data_[pos]], from.last, from.previous},
                           0,
                           0,
                           0,
                           1,
                           k,
                           kNoSecond});
      if (skip_[i] || max_length < 2) continue;
      for (uint32_t rep : {from.last, from.previous}) {
        if (rep == 0 || rep > pos || pos - rep < lo) continue;
        const uint32_t length = common_length(data_ + pos, data_ + pos - rep, max_length);
        if (length >= 2) {
          search.lengths(prices, i, k, from, 2, length, rep);
          search.match_literal_repeats(prices, i, k, from, length, rep);
        }
      }
      for (uint32_t literals = 1; literals <= params_.literal_repeat; ++literals) {
        search.match_literal_repeat(prices, i, k, from, 0, 0, literals, false);
        search.match_literal_repeat(prices, i, k, from, 0, 0, literals, true);
      }
      if (pair_distance_[i] != 0) search.lengths(prices, i, k, from, 2, 2, pair_distance_[i]);
      uint32_t previous_length = 2;
      for (uint32_t c = first_[i]; c < first_[i + 1]; ++c) {
        const MatchCandidate& m = matches_[c];
        const uint32_t length = std::min(m.length, max_length);
        if (length <= previous_length) continue;
        search.lengths(prices, i, k, from, previous_length + 1, length, m.distance);
        search.match_literal_repeats(prices, i, k, from, length, m.distance);
        if (length >= params_.nice_length) break;
        previous_length = length;
      }
    }
    for (uint32_t k = 0; k < ways; ++k) here[k].cost = kInfinity;  // free for i + ahead
  }
  // Back from the end along the cheapest way, then forward to resolve the distance symbols.
  std::vector<Trace> steps;
  for (uint32_t i = n, k = 0; i > 0;) {
    const Trace& t = traces[static_cast<size_t>(i) * ways + k];
    steps.push_back(t);
    i -= step_size(t);
    k = trace_from(t);
  }
  RepeatState reps;
  uint32_t farthest = 0;
  uint32_t at = 0;
  auto match = [&](uint32_t length, uint32_t distance) {
    if (distance > at) farthest = std::max(farthest, distance - at);
    tokens.push_back(reps.match(length, distance));
    at += length;
  };
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const uint32_t first_distance = trace_distance(*it);
    if (it->first_length) match(it->first_length, first_distance);
    // The second distance as the search saw it: after the first match, before the literals.
    const uint32_t second = trace_second(*it);
    const uint32_t distance2 = second == kSameAsFirst ? first_distance
                               : second == kLast      ? reps.last
                                                      : reps.previous;
    for (uint32_t m = 0; m < trace_literals(*it); ++m) {
      tokens.push_back({0, data_[span.start + at], 0});
      ++at;
    }
    if (it->second_length) match(it->second_length, distance2);
  }
  *needed = farthest;
}

void OptimalParser::parse(MatchFinder& finder, const uint8_t* data, const BlockSpan& span,
                          std::vector<Token>& tokens, uint32_t* needed) {
  finder_ = &finder;
  data_ = data;
  collect_matches(span);
  // First statistics: a lazy parse over the matches just found, choosing by a rough
  // price of each match.
  std::vector<Token> first_pass;
  uint32_t first_needed = 0;
  auto candidates_at = [&](uint32_t pos) {
    const uint32_t i = pos - span.start;
    Candidates c;
    c.matches = matches_.data() + first_[i];
    c.count = first_[i + 1] - first_[i];
    c.pair_distance = pair_distance_[i];
    return c;
  };
  lazy_parse(data_, span, 2, params_.nice_length, candidates_at, first_pass, &first_needed);
  std::vector<SetPrices> prices;
  prices_from(first_pass, span.tables, &prices);
  for (uint32_t pass = 0; pass < std::max<uint32_t>(1, params_.passes); ++pass) {
    tokens.clear();
    if (params_.arrivals > 1) {
      shortest_path_arrivals(span, prices, tokens, needed);
    } else {
      shortest_path(span, prices, tokens, needed);
    }
    if (pass + 1 < params_.passes) prices_from(tokens, span.tables, &prices);
  }
}

}  // namespace builder

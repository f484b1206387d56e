#include "builder/block_encoder.h"

#include <algorithm>

#include "builder/code_length_writer.h"
#include "builder/huffman.h"

namespace builder {
namespace {

constexpr uint32_t kSegmentTokens = 2048;

struct Segment {
  size_t begin, end;
  Histogram histogram;
  uint64_t cost;  // estimated bits, its table included
};

// Bits of the symbols with the best code for them, plus a rough price of sending the
// code itself.
uint64_t estimate_cost(const Histogram& h, uint32_t tables) {
  TableSet set;
  build_table_set(h, tables, &set);
  uint64_t bits = coded_bits(h.literal, set.lengths, format::kLiteralLengthSymbols);
  uint32_t used = 0;
  for (uint32_t i = 0; i < format::kLiteralLengthSymbols; ++i) used += set.lengths[i] != 0;
  for (uint32_t t = 0; t < tables; ++t) {
    bits += coded_bits(h.distance[t], set.lengths + format::kDistanceOffset[t],
                       format::kDistanceSymbols[t]);
    for (uint32_t i = 0; i < format::kDistanceSymbols[t]; ++i)
      used += set.lengths[format::kDistanceOffset[t] + i] != 0;
  }
  // Extra bits do not depend on the code and are left out.
  return bits + 3ull * used + 40;
}

void write_symbol(BitWriter& out, const uint16_t* codes, const uint8_t* lengths, uint32_t symbol) {
  out.put(codes[symbol], lengths[symbol]);
}

}  // namespace

void Histogram::add(const Token& t, uint32_t tables) {
  if (t.length == 0) {
    ++literal[t.value];
    return;
  }
  ++literal[length_symbol(t.length)];
  ++distance[format::distance_table_for(t.length, tables)][t.dist_symbol];
}

void Histogram::merge(const Histogram& other) {
  for (uint32_t i = 0; i < format::kLiteralLengthSymbols; ++i) literal[i] += other.literal[i];
  for (uint32_t t = 0; t < format::kDistanceTables; ++t)
    for (uint32_t i = 0; i < format::kMaxDistanceSymbols; ++i)
      distance[t][i] += other.distance[t][i];
}

void build_table_set(const Histogram& histogram, uint32_t tables, TableSet* set) {
  build_code_lengths(histogram.literal, format::kLiteralLengthSymbols, format::kMaxCodeLength,
                     set->lengths);
  for (uint32_t t = 0; t < tables; ++t)
    build_code_lengths(histogram.distance[t], format::kDistanceSymbols[t], format::kMaxCodeLength,
                       set->lengths + format::kDistanceOffset[t]);
}

void write_tokens(BitWriter& out, const Token* begin, const Token* end, const uint8_t* lengths,
                  uint32_t tables) {
  uint16_t literal_codes[format::kLiteralLengthSymbols] = {};
  build_canonical_codes(lengths, format::kLiteralLengthSymbols, literal_codes);
  uint16_t distance_codes[format::kDistanceTables][format::kMaxDistanceSymbols] = {};
  for (uint32_t t = 0; t < tables; ++t)
    build_canonical_codes(lengths + format::kDistanceOffset[t], format::kDistanceSymbols[t],
                          distance_codes[t]);
  for (const Token* t = begin; t != end; ++t) {
    if (t->length == 0) {
      write_symbol(out, literal_codes, lengths, t->value);
      continue;
    }
    const uint32_t symbol = length_symbol(t->length);
    write_symbol(out, literal_codes, lengths, symbol);
    const uint32_t extra = length_extra_bits(symbol);
    if (extra) out.put(length_extra_value(symbol, t->length), extra);
    const uint32_t table = format::distance_table_for(t->length, tables);
    out.put(distance_codes[table][t->dist_symbol],
            lengths[format::kDistanceOffset[table] + t->dist_symbol]);
    const uint32_t dist_extra = distance_symbol_extra_bits(t->dist_symbol);
    if (dist_extra) out.put(t->value, dist_extra);
  }
}

std::vector<SetStretch> plan_table_sets(const std::vector<Token>& tokens, uint32_t tables,
                                        uint32_t max_sets) {
  // Start from short segments and merge neighbours while that saves bits; then merge
  // further until the set count fits.
  std::vector<Segment> segments;
  for (size_t begin = 0; begin < tokens.size() || segments.empty(); begin += kSegmentTokens) {
    Segment s;
    s.begin = begin;
    s.end = std::min(tokens.size(), begin + kSegmentTokens);
    for (size_t i = s.begin; i < s.end; ++i) s.histogram.add(tokens[i], tables);
    s.cost = estimate_cost(s.histogram, tables);
    segments.push_back(s);
    if (s.end == tokens.size()) break;
  }
  const uint32_t limit = std::min<uint32_t>(max_sets, format::kMaxTableSets);
  std::vector<uint64_t> merged_cost(segments.size(), 0);
  auto merged_of = [&](size_t i) {
    Histogram h = segments[i].histogram;
    h.merge(segments[i + 1].histogram);
    return estimate_cost(h, tables);
  };
  for (size_t i = 0; i + 1 < segments.size(); ++i) merged_cost[i] = merged_of(i);
  while (segments.size() > 1) {
    size_t pick = 0;
    int64_t best_saving = INT64_MIN;
    for (size_t i = 0; i + 1 < segments.size(); ++i) {
      const int64_t saving = static_cast<int64_t>(segments[i].cost + segments[i + 1].cost) -
                             static_cast<int64_t>(merged_cost[i]);
      if (saving > best_saving) {
        best_saving = saving;
        pick = i;
      }
    }
    if (best_saving <= 0 && segments.size() <= limit) break;
    segments[pick].histogram.merge(segments[pick + 1].histogram);
    segments[pick].end = segments[pick + 1].end;
    segments[pick].cost = merged_cost[pick];
    segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(pick) + 1);
    merged_cost.erase(merged_cost.begin() + static_cast<std::ptrdiff_t>(pick) + 1);
    if (pick + 1 < segments.size()) merged_cost[pick] = merged_of(pick);
    if (pick > 0) merged_cost[pick - 1] = merged_of(pick - 1);
  }

  std::vector<SetStretch> plan(segments.size());
  for (size_t i = 0; i < segments.size(); ++i) {
    Histogram h = segments[i].histogram;
    if (i + 1 < segments.size()) ++h.literal[format::kSymbolSwitchSet];
    plan[i].begin = segments[i].begin;
    plan[i].end = segments[i].end;
    build_table_set(h, tables, &plan[i].set);
  }
  return plan;
}

void encode_block(BitWriter& out, const std::vector<Token>& tokens, uint32_t tables,
                  uint32_t max_sets) {
  const std::vector<SetStretch> plan = plan_table_sets(tokens, tables, max_sets);
  const uint32_t set_length = format::set_length_for(tables);
  std::vector<uint8_t> all_lengths;
  all_lengths.reserve(plan.size() * set_length);
  for (const SetStretch& s : plan)
    all_lengths.insert(all_lengths.end(), s.set.lengths, s.set.lengths + set_length);
  out.put(format::payload_header_bits({tables, static_cast<uint32_t>(plan.size())}),
          format::kPayloadHeaderBits);
  write_code_lengths(out, all_lengths, set_length);
  for (size_t i = 0; i < plan.size(); ++i) {
    const uint8_t* lengths = plan[i].set.lengths;
    write_tokens(out, tokens.data() + plan[i].begin, tokens.data() + plan[i].end, lengths, tables);
    if (i + 1 < plan.size()) {
      uint16_t codes[format::kLiteralLengthSymbols] = {};
      build_canonical_codes(lengths, format::kLiteralLengthSymbols, codes);
      out.put(codes[format::kSymbolSwitchSet], lengths[format::kSymbolSwitchSet]);
    }
  }
}

namespace {
void fixed_lengths(uint8_t* lengths) {
  for (uint32_t i = 0; i < sizeof format::kFixedSetRuns; i += 2) {
    std::fill_n(lengths, format::kFixedSetRuns[i], format::kFixedSetRuns[i + 1]);
    lengths += format::kFixedSetRuns[i];
  }
}
}  // namespace

bool fixed_set_codable(const std::vector<Token>& tokens) {
  for (const Token& t : tokens)
    if (t.length != 0 && t.dist_symbol >= format::kFixedSetDistanceSymbols) return false;
  return true;
}

void encode_block_fixed(BitWriter& out, const std::vector<Token>& tokens) {
  uint8_t lengths[format::kSetLengthTwoTables];
  fixed_lengths(lengths);
  constexpr uint32_t kFixedSetTables = 2;
  out.put(format::payload_header_bits({kFixedSetTables, 0}), format::kPayloadHeaderBits);
  write_tokens(out, tokens.data(), tokens.data() + tokens.size(), lengths, kFixedSetTables);
}

}  // namespace builder

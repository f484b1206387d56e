// Price-driven parsing: every block is parsed once lazily for first statistics, then one
// or more times by a shortest-path search over the matches found at every position,
// priced with the code lengths of the previous pass: each stretch of the block with the
// table set the encoder would code it with.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/lz_token.h"
#include "builder/match_finder.h"
#include "builder/parse.h"

namespace builder {

// Match lengths below this have a price each (2 to 258); longer ones share the price of
// the long-match symbol.
inline constexpr uint32_t kPricedLengths = format::kLongMatchBase;

// Bit prices of one table set, and the block offset from which its stretch begins.
struct SetPrices {
  uint32_t from;
  uint32_t literal[format::kLiteralLengthSymbols];
  uint32_t match_length[kPricedLengths];  // extra bits included
  uint32_t long_match;                    // longer lengths
  uint32_t distance[format::kDistanceTables][format::kMaxDistanceSymbols];

  uint32_t match_price(uint32_t length) const {
    return length < kPricedLengths ? match_length[length] : long_match;
  }
};

class OptimalParser {
 public:
  OptimalParser(const LevelParams& params, uint32_t max_sets);
  // Parses the block of `data` that span describes, with matches from the finder (set on
  // the same data).
  void parse(MatchFinder& finder, const uint8_t* data, const BlockSpan& span,
             std::vector<Token>& tokens, uint32_t* needed);

 private:
  void collect_matches(const BlockSpan& span);
  // Prices of the table sets the encoder would code the tokens with, each for the bytes
  // its stretch covers.
  void prices_from(const std::vector<Token>& tokens, uint32_t tables,
                   std::vector<SetPrices>* prices) const;
  void shortest_path(const BlockSpan& span, const std::vector<SetPrices>& prices,
                     std::vector<Token>& tokens, uint32_t* needed);
  // The same, keeping several ways of reaching each position (params.arrivals).
  void shortest_path_arrivals(const BlockSpan& span, const std::vector<SetPrices>& prices,
                              std::vector<Token>& tokens, uint32_t* needed);

  MatchFinder* finder_ = nullptr;
  const uint8_t* data_ = nullptr;
  LevelParams params_;
  uint32_t max_sets_;
  // Candidates of every position of the block: first_[i] .. first_[i + 1] in matches_.
  std::vector<uint32_t> first_;
  std::vector<MatchCandidate> matches_;
  std::vector<uint32_t> pair_distance_;  // a length-2 candidate within 64 bytes, or 0
  std::vector<uint8_t> skip_;            // inside a long match: not expanded
};

}  // namespace builder

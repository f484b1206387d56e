// Price-driven parsing: every block is parsed once greedily for first statistics, then
// one or more times by a shortest-path search over the matches found at every position,
// priced with the code lengths of the previous pass.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/hash_chain_finder.h"
#include "builder/lz_token.h"
#include "builder/parse.h"

namespace builder {

class OptimalParser {
 public:
  explicit OptimalParser(const LevelParams& params);
  // Parses the block of `data` that span describes, with matches from the finder (set on
  // the same data).
  void parse(HashChainFinder& finder, const uint8_t* data, const BlockSpan& span,
             std::vector<Token>& tokens, uint32_t* needed);

 private:
  struct Prices {
    uint32_t literal[format::kLiteralLengthSymbols];
    uint32_t distance[format::kDistanceTables][format::kMaxDistanceSymbols];
  };
  void collect_matches(const BlockSpan& span);
  void prices_from(const std::vector<Token>& tokens, uint32_t tables, Prices* prices) const;
  void shortest_path(const BlockSpan& span, const Prices& prices, std::vector<Token>& tokens,
                     uint32_t* needed);

  HashChainFinder* finder_ = nullptr;
  const uint8_t* data_ = nullptr;
  LevelParams params_;
  // Candidates of every position of the block: first_[i] .. first_[i + 1] in matches_.
  std::vector<uint32_t> first_;
  std::vector<MatchCandidate> matches_;
  std::vector<uint32_t> pair_distance_;  // a length-2 candidate within 64 bytes, or 0
  std::vector<uint8_t> skip_;            // inside a long match: not expanded
};

}  // namespace builder

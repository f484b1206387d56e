// Match finder over one block and the window in front of it. Positions with the same
// 4-byte hash are kept either in a hash chain, newest first, or in a binary search tree
// ordered by the bytes that follow them (each new position becomes the root, so every
// node is newer than the nodes below it): a tree search meets the longest matches of the
// whole window in few steps, where a chain of limited depth gives up on old ones. Both
// live in a ring large enough for the format's longest reach; the last place of every
// 3-byte and every 2-byte prefix is kept as well, for the short matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "builder/incompressible.h"

namespace builder {

struct MatchCandidate {
  uint32_t length;
  uint32_t distance;
};

class MatchFinder {
 public:
  // depth: candidates examined per search; nice_length: a match this long ends a search.
  // With `tree`, binary trees instead of chains.
  MatchFinder(const uint8_t* data, uint32_t size, uint32_t depth, uint32_t nice_length,
              bool tree = false);

  // Starts over on new data, keeping the allocations.
  void reset(const uint8_t* data, uint32_t size);

  // Positions inside these ranges (sorted, apart) are never added: nothing is searched
  // there and nothing found there. Until the next reset; the ranges must outlive it.
  void set_skip(const std::vector<SkipRange>* ranges);

  // Adds every position below `end` not yet added.
  void insert_until(uint32_t end);

  // Longest match at pos starting no earlier than min_pos and no longer than max_length.
  // With `all`, every candidate that is longer than the ones before it is appended,
  // shortest first. Returns the longest length found (0 if none). Chains: pos may be
  // inserted already or not. Trees: the search is the insertion, so pos must be the
  // next position not yet added (it is added).
  uint32_t find(uint32_t pos, uint32_t min_pos, uint32_t max_length, MatchCandidate* best,
                std::vector<MatchCandidate>* all = nullptr);

  // The nearest earlier position with the same two bytes (or ~0u).
  uint32_t last_pair(uint32_t pos) const;

 private:
  static constexpr uint32_t kHashBits = 17;
  static constexpr uint32_t kMaxRingBits = 21;  // covers block + window + slack
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  uint32_t hash3(uint32_t pos) const;
  uint32_t hash4(uint32_t pos) const;
  void insert_short(uint32_t pos);
  // Adds pos to its tree; with `best`, reports the matches met on the way as find does.
  void tree_insert(uint32_t pos, uint32_t min_pos, uint32_t max_length, uint32_t best_length,
                   MatchCandidate* best, std::vector<MatchCandidate>* all);

  static uint32_t ring_bits_for(uint32_t size);

  const uint8_t* data_;
  uint32_t ring_bits_;  // a small input needs no more ring than its own size
  uint32_t size_;
  uint32_t depth_;
  uint32_t nice_length_;
  bool tree_;
  uint32_t inserted_ = 0;
  const std::vector<SkipRange>* skip_ = nullptr;
  size_t skip_next_ = 0;  // the first range that does not end before inserted_
  std::vector<uint32_t> head_;
  std::vector<uint32_t> chain_;   // chains: the next older position; trees: smaller child
  std::vector<uint32_t> larger_;  // trees: the child whose bytes compare larger
  std::vector<uint32_t> triple_head_;
  std::vector<uint32_t> triple_at_;  // for each ring slot: the earlier position of its triple
  std::vector<uint32_t> pair_head_;
  std::vector<uint32_t> pair_at_;  // for each ring slot: the earlier position of its pair
};

// Length of the common prefix of a and b, at most limit.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    __builtin_memcpy(&x, a + n, 8);
    __builtin_memcpy(&y, b + n, 8);
    const uint64_t diff = x ^ y;
    if (diff != 0) return n + (static_cast<uint32_t>(__builtin_ctzll(diff)) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace builder

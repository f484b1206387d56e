// Match finder over one block and the window in front of it: hash chains of 4-byte
// prefixes in a ring large enough for the format's longest reach, plus the last place of
// every 3-byte and every 2-byte prefix for the short matches.
#pragma once

#include <cstdint>
#include <vector>

namespace builder {

struct MatchCandidate {
  uint32_t length;
  uint32_t distance;
};

class HashChainFinder {
 public:
  // depth: candidates examined per search; nice_length: a match this long ends a search.
  HashChainFinder(const uint8_t* data, uint32_t size, uint32_t depth, uint32_t nice_length);

  // Starts over on new data, keeping the allocations.
  void reset(const uint8_t* data, uint32_t size);

  // Adds every position below `end` not yet added.
  void insert_until(uint32_t end);

  // Longest match at pos (already inserted or not) starting no earlier than min_pos and
  // no longer than max_length. With `all`, every candidate that is longer than the ones
  // before it is appended, shortest first. Returns the longest length found (0 if none).
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

  static uint32_t ring_bits_for(uint32_t size);

  const uint8_t* data_;
  uint32_t ring_bits_;  // a small input needs no more ring than its own size
  uint32_t size_;
  uint32_t depth_;
  uint32_t nice_length_;
  uint32_t inserted_ = 0;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> chain_;
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

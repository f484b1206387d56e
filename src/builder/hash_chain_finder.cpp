#include "builder/hash_chain_finder.h"

#include <algorithm>

namespace builder {

HashChainFinder::HashChainFinder(const uint8_t* data, uint32_t size, uint32_t depth,
                                 uint32_t nice_length)
    : data_(data),
      ring_bits_(ring_bits_for(size)),
      size_(size),
      depth_(depth),
      nice_length_(nice_length),
      head_(1u << kHashBits, kNone),
      chain_(1u << ring_bits_, kNone),
      triple_head_(1u << 16, kNone),
      triple_at_(1u << ring_bits_, kNone),
      pair_head_(1u << 16, kNone),
      pair_at_(1u << ring_bits_, kNone) {}

void HashChainFinder::reset(const uint8_t* data, uint32_t size) {
  data_ = data;
  size_ = size;
  inserted_ = 0;
  ring_bits_ = ring_bits_for(size);
  // Ring slots are written when their position is inserted, before anything reads them.
  if (chain_.size() < (1u << ring_bits_)) {
    chain_.resize(1u << ring_bits_);
    triple_at_.resize(1u << ring_bits_);
    pair_at_.resize(1u << ring_bits_);
  }
  std::fill(head_.begin(), head_.end(), kNone);
  std::fill(triple_head_.begin(), triple_head_.end(), kNone);
  std::fill(pair_head_.begin(), pair_head_.end(), kNone);
}

uint32_t HashChainFinder::ring_bits_for(uint32_t size) {
  uint32_t bits = 10;
  while (bits < kMaxRingBits && (1u << bits) <= size) ++bits;
  return bits;
}

uint32_t HashChainFinder::hash3(uint32_t pos) const {
  const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16);
  return (v * 0x9E3779B1u) >> 16;
}

uint32_t HashChainFinder::hash4(uint32_t pos) const {
  const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16) |
                     (static_cast<uint32_t>(data_[pos + 3]) << 24);
  return (v * 0x9E3779B1u) >> (32 - kHashBits);
}

void HashChainFinder::insert_until(uint32_t end) {
  const uint32_t mask = (1u << ring_bits_) - 1;
  for (; inserted_ < end; ++inserted_) {
    const uint32_t pos = inserted_;
    if (pos + 2 <= size_) {
      const uint32_t pair = data_[pos] | (data_[pos + 1] << 8);
      pair_at_[pos & mask] = pair_head_[pair];
      pair_head_[pair] = pos;
    }
    if (pos + 3 <= size_) {
      const uint32_t h = hash3(pos);
      triple_at_[pos & mask] = triple_head_[h];
      triple_head_[h] = pos;
    }
    if (pos + 4 <= size_) {
      const uint32_t h = hash4(pos);
      chain_[pos & mask] = head_[h];
      head_[h] = pos;
    }
  }
}

uint32_t HashChainFinder::last_pair(uint32_t pos) const {
  if (pos + 2 > size_) return kNone;
  const uint32_t mask = (1u << ring_bits_) - 1;
  if (pos < inserted_) return pair_at_[pos & mask];
  return pair_head_[data_[pos] | (data_[pos + 1] << 8)];
}

uint32_t HashChainFinder::find(uint32_t pos, uint32_t min_pos, uint32_t max_length,
                               MatchCandidate* best, std::vector<MatchCandidate>* all) {
  best->length = 0;
  best->distance = 0;
  if (max_length < 3 || pos + 3 > size_) return 0;
  const uint32_t mask = (1u << ring_bits_) - 1;
  const uint32_t ring_reach = (1u << ring_bits_) - 1;
  const uint8_t* here = data_ + pos;
  uint32_t best_length = 2;
  // The nearest 3-byte match first: the chains below only hold 4-byte prefixes.
  const uint32_t triple = pos < inserted_ ? triple_at_[pos & mask] : triple_head_[hash3(pos)];
  if (triple != kNone && triple < pos && triple >= min_pos && pos - triple <= ring_reach) {
    const uint32_t length = common_length(here, data_ + triple, max_length);
    if (length >= 3) {
      best_length = length;
      best->length = length;
      best->distance = pos - triple;
      if (all) all->push_back(*best);
      if (length >= nice_length_ || length >= max_length) return best->length;
    }
  }
  if (pos + 4 > size_ || max_length < 4) return best->length;
  uint32_t candidate = pos < inserted_ ? chain_[pos & mask] : head_[hash4(pos)];
  uint32_t steps = depth_;
  for (; candidate != kNone && steps > 0; --steps) {
    if (candidate >= pos || candidate < min_pos || pos - candidate > ring_reach) break;
    const uint8_t* there = data_ + candidate;
    // The byte just past the best length must match for a longer match.
    if (there[best_length] == here[best_length] && there[0] == here[0]) {
      const uint32_t length = common_length(here, there, max_length);
      if (length > best_length) {
        best_length = length;
        best->length = length;
        best->distance = pos - candidate;
        if (all) all->push_back(*best);
        if (length >= nice_length_ || length >= max_length) break;
        // A good match makes a long search less worthwhile.
        if (length >= 32 && steps > depth_ / 4) steps = depth_ / 4;
      }
    }
    candidate = chain_[candidate & mask];
  }
  return best->length;
}

}  // namespace builder

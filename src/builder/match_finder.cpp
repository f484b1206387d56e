#include "builder/match_finder.h"

#include <algorithm>

namespace builder {

MatchFinder::MatchFinder(const uint8_t* data, uint32_t size, uint32_t depth, uint32_t nice_length,
                         bool tree)
    : data_(data),
      ring_bits_(ring_bits_for(size)),
      size_(size),
      depth_(depth),
      nice_length_(nice_length),
      tree_(tree),
      head_(1u << kHashBits, kNone),
      chain_(1u << ring_bits_, kNone),
      larger_(tree ? 1u << ring_bits_ : 0, kNone),
      triple_head_(1u << 16, kNone),
      triple_at_(1u << ring_bits_, kNone),
      pair_head_(1u << 16, kNone),
      pair_at_(1u << ring_bits_, kNone) {}

void MatchFinder::reset(const uint8_t* data, uint32_t size) {
  data_ = data;
  size_ = size;
  inserted_ = 0;
  skip_ = nullptr;
  skip_next_ = 0;
  ring_bits_ = ring_bits_for(size);
  // Ring slots are written when their position is inserted, before anything reads them.
  if (chain_.size() < (1u << ring_bits_)) {
    chain_.resize(1u << ring_bits_);
    if (tree_) larger_.resize(1u << ring_bits_);
    triple_at_.resize(1u << ring_bits_);
    pair_at_.resize(1u << ring_bits_);
  }
  std::fill(head_.begin(), head_.end(), kNone);
  std::fill(triple_head_.begin(), triple_head_.end(), kNone);
  std::fill(pair_head_.begin(), pair_head_.end(), kNone);
}

uint32_t MatchFinder::ring_bits_for(uint32_t size) {
  uint32_t bits = 10;
  while (bits < kMaxRingBits && (1u << bits) <= size) ++bits;
  return bits;
}

uint32_t MatchFinder::hash3(uint32_t pos) const {
  const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16);
  return (v * 0x9E3779B1u) >> 16;
}

uint32_t MatchFinder::hash4(uint32_t pos) const {
  const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16) |
                     (static_cast<uint32_t>(data_[pos + 3]) << 24);
  return (v * 0x9E3779B1u) >> (32 - kHashBits);
}

void MatchFinder::insert_short(uint32_t pos) {
  const uint32_t mask = (1u << ring_bits_) - 1;
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
}

void MatchFinder::set_skip(const std::vector<SkipRange>* ranges) {
  skip_ = ranges;
  skip_next_ = 0;
}

void MatchFinder::insert_until(uint32_t end) {
  const uint32_t mask = (1u << ring_bits_) - 1;
  for (; inserted_ < end; ++inserted_) {
    if (skip_ != nullptr) {
      while (skip_next_ < skip_->size() && (*skip_)[skip_next_].end <= inserted_) ++skip_next_;
      if (skip_next_ < skip_->size() && (*skip_)[skip_next_].begin <= inserted_) {
        inserted_ = std::min(end, (*skip_)[skip_next_].end) - 1;
        continue;
      }
    }
    const uint32_t pos = inserted_;
    insert_short(pos);
    if (pos + 4 > size_) continue;
    if (tree_) {
      tree_insert(pos, 0, 0, 0, nullptr, nullptr);
    } else {
      const uint32_t h = hash4(pos);
      chain_[pos & mask] = head_[h];
      head_[h] = pos;
    }
  }
}

uint32_t MatchFinder::last_pair(uint32_t pos) const {
  if (pos + 2 > size_) return kNone;
  const uint32_t mask = (1u << ring_bits_) - 1;
  if (pos < inserted_) return pair_at_[pos & mask];
  return pair_head_[data_[pos] | (data_[pos + 1] << 8)];
}

// The new position becomes the root of its tree. The old tree is split along the search
// path: nodes whose bytes compare smaller than the new position's hang on its smaller
// side, the others on its larger side, each in the order met, so the tree stays sorted
// and every node stays newer than the nodes below it. A node older than min_pos (or out
// of the ring's reach) therefore ends the walk together with everything below it, and so
// does the end of the step budget. Bytes are compared up to nice_length: a node that
// equals the new position that far is replaced by it.
void MatchFinder::tree_insert(uint32_t pos, uint32_t min_pos, uint32_t max_length,
                              uint32_t best_length, MatchCandidate* best,
                              std::vector<MatchCandidate>* all) {
  const uint32_t mask = (1u << ring_bits_) - 1;
  const uint32_t ring_reach = (1u << ring_bits_) - 1;
  const uint32_t h = hash4(pos);
  uint32_t node = head_[h];
  head_[h] = pos;
  uint32_t* smaller_link = &chain_[pos & mask];
  uint32_t* larger_link = &larger_[pos & mask];
  const uint32_t limit = std::min(nice_length_, size_ - pos);
  const uint8_t* here = data_ + pos;
  uint32_t smaller_length = 0;  // bytes the smaller side is known to share with here
  uint32_t larger_length = 0;
  for (uint32_t steps = depth_;; --steps) {
    if (node == kNone || node < min_pos || pos - node > ring_reach || steps == 0) {
      *smaller_link = kNone;
      *larger_link = kNone;
      return;
    }
    const uint8_t* there = data_ + node;
    uint32_t length = std::min(smaller_length, larger_length);
    length += common_length(here + length, there + length, limit - length);
    if (best && length > best_length) {
      uint32_t reported = length;
      if (length == limit && max_length > limit)
        reported += common_length(here + limit, there + limit, max_length - limit);
      reported = std::min(reported, max_length);
      if (reported > best_length) {
        best_length = reported;
        best->length = reported;
        best->distance = pos - node;
        if (all) all->push_back(*best);
      }
    }
    if (length >= limit) {
      *smaller_link = chain_[node & mask];
      *larger_link = larger_[node & mask];
      return;
    }
    if (there[length] < here[length]) {
      *smaller_link = node;
      smaller_link = &larger_[node & mask];
      node = *smaller_link;
      smaller_length = length;
    } else {
      *larger_link = node;
      larger_link = &chain_[node & mask];
      node = *larger_link;
      larger_length = length;
    }
  }
}

uint32_t MatchFinder::find(uint32_t pos, uint32_t min_pos, uint32_t max_length,
                           MatchCandidate* best, std::vector<MatchCandidate>* all) {
  best->length = 0;
  best->distance = 0;
  if (tree_) {
    insert_until(pos);
    if (pos != inserted_) return 0;  // already in its tree: cannot be searched again
  }
  if (pos + 3 > size_) {
    if (tree_) insert_until(pos + 1);
    return 0;
  }
  const uint32_t mask = (1u << ring_bits_) - 1;
  const uint32_t ring_reach = (1u << ring_bits_) - 1;
  const uint8_t* here = data_ + pos;
  uint32_t best_length = 2;
  // The nearest 3-byte match first: the chains and trees below only hold 4-byte prefixes.
  const uint32_t triple = pos < inserted_ ? triple_at_[pos & mask] : triple_head_[hash3(pos)];
  if (max_length >= 3 && triple != kNone && triple < pos && triple >= min_pos &&
      pos - triple <= ring_reach) {
    const uint32_t length = common_length(here, data_ + triple, max_length);
    if (length >= 3) {
      best_length = length;
      best->length = length;
      best->distance = pos - triple;
      if (all) all->push_back(*best);
    }
  }
  if (tree_) {
    insert_short(pos);
    if (pos + 4 <= size_) tree_insert(pos, min_pos, max_length, best_length, best, all);
    ++inserted_;
    return best->length;
  }
  if (best_length >= nice_length_ || best_length >= max_length) return best->length;
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

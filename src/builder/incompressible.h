// A quick look at a block before the match search: stretches of data that cannot
// compress (random or already compressed) are found from their byte statistics and from a
// sampled search for long repeats, so the parsers and the match finder can pass them by,
// and a block made of nothing else is stored without any search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace builder {

// Stretches are judged in pieces of this many bytes, counted from the block's start.
inline constexpr uint32_t kEstimatePiece = 16384;

// Positions [begin, end) of the data that neither need a search nor serve as the source of
// a match: every piece whose bytes look random and that no later piece repeats.
struct SkipRange {
  uint32_t begin, end;
};

// Judges `data` (the window in front of the block, `history` bytes, then the block up to
// `size`). The ranges come sorted and apart; the result depends on the data only.
std::vector<SkipRange> find_incompressible(const uint8_t* data, uint32_t history, uint32_t size);

// Walks the ranges along positions that never decrease from call to call.
class SkipCursor {
 public:
  explicit SkipCursor(const std::vector<SkipRange>* ranges) : ranges_(ranges) {}
  bool inside(uint32_t pos) {
    if (ranges_ == nullptr) return false;
    while (next_ < ranges_->size() && (*ranges_)[next_].end <= pos) ++next_;
    return next_ < ranges_->size() && (*ranges_)[next_].begin <= pos;
  }

 private:
  const std::vector<SkipRange>* ranges_;
  size_t next_ = 0;
};

// Whether the ranges cover [begin, end) whole.
bool covered(const std::vector<SkipRange>& ranges, uint32_t begin, uint32_t end);

}  // namespace builder

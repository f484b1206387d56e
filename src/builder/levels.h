// What each compression level does: the match finder's effort and the parser.
#pragma once

#include <cstdint>

namespace builder {

struct LevelParams {
  uint32_t depth;               // chain candidates (or tree nodes) per search
  uint32_t nice_length;         // stop searching at this length
  uint32_t lazy;                // 0 greedy, 1 one step of lazy evaluation, 2 two steps
  bool optimal;                 // price-driven parsing
  uint32_t passes;              // optimal parsing passes, each priced by the one before
  bool tree = false;            // binary-tree match finder instead of hash chains
  uint32_t literal_repeat = 0;  // optimal parse: also a match, up to this many literals,
                                // and a match at a remembered distance, as one step
  bool store = false;           // every block stored (level 0)
  uint32_t arrivals = 1;        // optimal parse: cheapest ways kept per position, each
                                // with its own remembered distances
};

// Level 0 stores every block; 1 to 9 compress.
LevelParams level_params(int level);

}  // namespace builder

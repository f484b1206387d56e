// The match finder against a brute-force search: every match it reports is real and as
// near as any other of its length, and the tree finder, given enough steps, finds the
// longest match of the whole reach below its nice length.
#include "builder/match_finder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_data.h"

namespace {

using builder::MatchCandidate;
using builder::MatchFinder;

// Data with matches at every distance: noise from a small alphabet (short matches
// everywhere), copies of earlier stretches at near and far distances, and runs.
std::vector<uint8_t> mixed_data(size_t n, uint32_t seed) {
  std::vector<uint8_t> v = testdata::random_bytes(n, seed);
  for (auto& b : v) b = static_cast<uint8_t>('a' + b % 4);
  for (size_t at = 700; at + 300 < n; at += 1300) {
    const size_t from = (at * 7 + seed) % (at - 600);
    const size_t length = 40 + at % 260;
    std::copy(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + length),
              v.begin() + static_cast<long>(at));
  }
  std::fill(v.begin() + static_cast<long>(n / 2), v.begin() + static_cast<long>(n / 2 + 900), 'z');
  return v;
}

uint32_t common(const std::vector<uint8_t>& v, uint32_t a, uint32_t b, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && v[a + n] == v[b + n]) ++n;
  return n;
}

TEST(MatchFinder, MatchesAreRealNearestAndTheTreeFindsTheLongest) {
  struct Case {
    const char* name;
    bool tree;
    uint32_t depth;
    uint32_t nice_length;
    uint32_t reach;  // how far back a match may start (min_pos = pos - reach)
  };
  const Case cases[] = {
      {"tree, unlimited steps", true, 100000, 258, 100000},
      {"tree, long nice length", true, 100000, 2048, 100000},
      {"tree, short reach", true, 100000, 258, 3000},
      {"tree, few steps", true, 4, 64, 100000},
      {"chains", false, 64, 258, 100000},
  };
  const std::vector<uint8_t> data = mixed_data(12000, 5);
  const uint32_t size = static_cast<uint32_t>(data.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MatchFinder finder(data.data(), size, c.depth, c.nice_length, c.tree);
    std::vector<MatchCandidate> all;
    uint32_t exact = 0;
    for (uint32_t pos = 0; pos < size; ++pos) {
      finder.insert_until(pos);
      const uint32_t min_pos = pos > c.reach ? pos - c.reach : 0;
      const uint32_t max_length = std::min<uint32_t>(size - pos, 33026);
      all.clear();
      MatchCandidate best;
      const uint32_t found = finder.find(pos, min_pos, max_length, &best, &all);
      ASSERT_EQ(found, best.length) << pos;
      // Brute force: the longest match in reach, and the nearest start of each length.
      std::vector<uint32_t> nearest(max_length + 1, 0);
      uint32_t longest = 0;
      for (uint32_t from = pos; from-- > min_pos;) {
        const uint32_t length = common(data, pos, from, max_length);
        for (uint32_t l = length; l > 0 && nearest[l] == 0; --l) nearest[l] = pos - from;
        longest = std::max(longest, length);
      }
      uint32_t previous = 0;
      for (const MatchCandidate& m : all) {
        ASSERT_GT(m.length, previous) << pos;
        ASSERT_GE(m.length, 3u) << pos;
        ASSERT_LE(m.length, max_length) << pos;
        ASSERT_TRUE(m.distance > 0 && m.distance <= pos - min_pos) << pos;
        ASSERT_EQ(common(data, pos, pos - m.distance, m.length), m.length) << pos;
        // Below 4 bytes the tree (of 4-byte hashes) may not hold the nearest start.
        if (c.tree && c.depth > size && m.length >= 4 && m.length < c.nice_length) {
          EXPECT_EQ(m.distance, nearest[m.length]) << pos << " length " << m.length;
        }
        previous = m.length;
      }
      if (!all.empty()) {
        EXPECT_EQ(all.back().length, found) << pos;
      }
      if (c.tree && c.depth > size) {
        // From 4 bytes on the tree holds every start; a tie at the nice length keeps only
        // the newer of two equal starts, so the longest may be cut there.
        const uint32_t expected = longest >= 4 ? std::min(longest, c.nice_length) : 0;
        EXPECT_GE(found, expected) << pos;
        EXPECT_LE(found, longest) << pos;
        if (found == longest) ++exact;
      }
    }
    if (c.tree && c.depth > size) {
      EXPECT_GT(exact, size / 2);
    }
  }
}

}  // namespace

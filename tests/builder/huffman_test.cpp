// Code lengths: the 16-bit limit under skewed statistics, and complete codes (the
// installer's tables have no room for the nodes of a code that is not).
#include "builder/huffman.h"

#include <gtest/gtest.h>

namespace {

// Sum of 2^(limit - length) over used symbols: 2^limit exactly for a complete code.
uint64_t kraft_sum(const uint8_t* lengths, uint32_t n, uint32_t limit) {
  uint64_t sum = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (lengths[i]) sum += 1ull << (limit - lengths[i]);
  return sum;
}

TEST(Huffman, LimitedCompleteCodesForEveryShapeOfStatistics) {
  struct Case {
    const char* what;
    std::vector<uint32_t> frequencies;
    uint32_t limit;
  };
  std::vector<uint32_t> fibonacci(288, 0);
  uint32_t a = 1, b = 1;
  for (uint32_t i = 0; i < 40; ++i) {  // would need codes of 39 bits unlimited
    fibonacci[i * 7] = a;
    const uint32_t next = a + b;
    a = b;
    b = next;
  }
  std::vector<uint32_t> two(288, 0);
  two[5] = 1000;
  two[200] = 1;
  std::vector<uint32_t> flat(42, 7);
  std::vector<uint32_t> powers(21, 0);
  for (uint32_t i = 0; i < 21; ++i) powers[i] = 1u << i;
  const Case cases[] = {
      {"fibonacci", fibonacci, 16},
      {"two symbols", two, 16},
      {"flat", flat, 16},
      {"powers under a 6-bit limit", powers, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t n = static_cast<uint32_t>(c.frequencies.size());
    std::vector<uint8_t> lengths(n);
    builder::build_code_lengths(c.frequencies.data(), n, c.limit, lengths.data());
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_LE(lengths[i], c.limit);
      EXPECT_EQ(lengths[i] != 0, c.frequencies[i] != 0) << i;
    }
    EXPECT_EQ(kraft_sum(lengths.data(), n, c.limit), 1ull << c.limit);
  }
}

TEST(Huffman, MoreFrequentSymbolsNeverGetLongerCodes) {
  const uint32_t f[8] = {50, 3, 3, 20, 1, 1, 9, 200};
  uint8_t lengths[8];
  builder::build_code_lengths(f, 8, 16, lengths);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      if (f[i] > f[j]) {
        EXPECT_LE(lengths[i], lengths[j]) << i << " " << j;
      }
}

TEST(Huffman, ALoneSymbolGetsOneBitAndNoSymbolGetsNothing) {
  uint32_t f[5] = {0, 0, 9, 0, 0};
  uint8_t lengths[5];
  builder::build_code_lengths(f, 5, 16, lengths);
  EXPECT_EQ(lengths[2], 1);
  f[2] = 0;
  builder::build_code_lengths(f, 5, 16, lengths);
  for (uint8_t l : lengths) EXPECT_EQ(l, 0);
}

TEST(Huffman, CanonicalCodesAreBitReversedInSymbolOrder) {
  // Lengths 2, 1, 3, 3: canonical codes 10, 0, 110, 111, stored first bit lowest.
  const uint8_t lengths[4] = {2, 1, 3, 3};
  uint16_t codes[4];
  builder::build_canonical_codes(lengths, 4, codes);
  EXPECT_EQ(codes[0], 0b01);
  EXPECT_EQ(codes[1], 0b0);
  EXPECT_EQ(codes[2], 0b011);
  EXPECT_EQ(codes[3], 0b111);
}

}  // namespace

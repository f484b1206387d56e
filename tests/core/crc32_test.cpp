#include "common/crc32.h"

#include <gtest/gtest.h>

#include <random>

#include "support/reader_fixture.h"

namespace {

class Crc32Test : public ReaderTest {};

TEST_F(Crc32Test, StandardCheckValueUnderTheFileConvention) {
  const Bytes digits = text_bytes("123456789");
  EXPECT_EQ(~crc_update(digits.data(), uint32_t(digits.size()), 0xFFFFFFFFu), 0xCBF43926u);
  // An empty range returns the start value: a file of length 0 has CRC 0.
  EXPECT_EQ(crc_update(nullptr, 0, 0x12345678u), 0x12345678u);
  EXPECT_EQ(~crc_update(nullptr, 0, 0xFFFFFFFFu), 0u);
}

TEST_F(Crc32Test, MatchesBitwiseReferenceForEveryLengthAndAnySplit) {
  std::mt19937 rng(7);
  Bytes data(300);
  for (auto& b : data) b = uint8_t(rng());
  // Every length around the sixteen- and eight-byte steps and the 64-byte folding of
  // 64-bit hosts, and every split point of one range.
  for (size_t len = 0; len <= data.size(); ++len) {
    const Bytes part(data.begin(), data.begin() + long(len));
    EXPECT_EQ(~crc_update(part.data(), uint32_t(len), 0xFFFFFFFFu), reference_crc(part)) << len;
  }
  const uint32_t whole = crc_update(data.data(), uint32_t(data.size()), 0xFFFFFFFFu);
  for (uint32_t split = 0; split <= data.size(); ++split) {
    const uint32_t first = crc_update(data.data(), split, 0xFFFFFFFFu);
    EXPECT_EQ(crc_update(data.data() + split, uint32_t(data.size()) - split, first), whole)
        << split;
  }
}

TEST_F(Crc32Test, TableEntriesAreThoseOfTheReflectedPolynomial) {
  // Known entries of the standard table.
  EXPECT_EQ(crc_table[0], 0u);
  EXPECT_EQ(crc_table[1], 0x77073096u);
  EXPECT_EQ(crc_table[128], 0xEDB88320u);
  EXPECT_EQ(crc_table[255], 0x2D02EF8Du);
}

}  // namespace

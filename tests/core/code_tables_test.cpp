#include "codec/code_tables.h"

#include <gtest/gtest.h>

#include <random>

#include "support/reader_fixture.h"

namespace {

class CodeTablesTest : public ReaderTest {
 protected:
  // Decodes one symbol from bits with a table built for lengths; -1 for an empty slot.
  // The entry's length must be the symbol's code length.
  static int decode(const std::vector<uint8_t>& lengths, uint32_t width, uint32_t bits) {
    const uint32_t n = uint32_t(lengths.size());
    std::vector<uint32_t> codes(n, 0);
    std::vector<int32_t> primary(1u << width), tree(2 * n);
    canonical_codes(codes.data(), lengths.data(), n);
    build_decode_table(primary.data(), tree.data(), codes.data(), lengths.data(), width, n);
    const int32_t e = decode_symbol(bits, primary.data(), tree.data(), width);
    if (e == kEmptySlot) return -1;
    EXPECT_LT(entry_symbol(e), n);
    if (entry_symbol(e) < n) {
      EXPECT_EQ(entry_length(e), lengths[entry_symbol(e)]) << entry_symbol(e);
    }
    return int(entry_symbol(e));
  }
};

TEST_F(CodeTablesTest, FixedSetLengths) {
  uint8_t set[344];
  fixed_code_lengths(set);
  EXPECT_EQ(std::vector<uint8_t>(set, set + 344), fixed_set());
  EXPECT_EQ(set[256], 0);  // the fixed set cannot switch sets
}

TEST_F(CodeTablesTest, CanonicalCodesOfTheClassicExample) {
  // Lengths 3,3,3,3,3,2,4,4 give 010 011 100 101 110 00 1110 1111, stored reversed.
  const std::vector<uint8_t> lengths = {3, 3, 3, 3, 3, 2, 4, 4, 0};
  std::vector<uint32_t> codes(9, 0xDEAD);
  canonical_codes(codes.data(), lengths.data(), 9);
  const std::vector<uint32_t> expected = {0b010, 0b110,  0b001,  0b101, 0b011,
                                          0b00,  0b0111, 0b1111, 0xDEAD};
  EXPECT_EQ(codes, expected);
}

TEST_F(CodeTablesTest, EveryCodeDecodesToItsSymbolIncludingTreeCodes) {
  // Lengths 2 to 8 once each, 257 codes of 9 bits and 24 of 16 bits: the long codes walk
  // the tree, and the code leaves the all-ones patterns unused.
  std::vector<uint8_t> lengths(288, 0);
  for (int i = 0; i < 7; ++i) lengths[i] = uint8_t(i + 2);
  for (int i = 7; i < 264; ++i) lengths[i] = 9;
  for (int i = 264; i < 288; ++i) lengths[i] = 16;
  const auto codes = reference_codes(lengths);
  for (uint32_t s = 0; s < 288; ++s) {
    // Random bits behind the code must not matter.
    const uint32_t noise = (0x5A5Au << lengths[s]) & 0xFFFF;
    EXPECT_EQ(decode(lengths, 9, codes[s] | noise), int(s)) << s;
  }
  // A pattern that no code begins with is an empty slot (the code is incomplete).
  const auto all_ones = 0xFFFFu;
  EXPECT_EQ(decode(lengths, 9, all_ones), -1);
}

TEST_F(CodeTablesTest, TreeExhaustionAndOversubscriptionNeverCrash) {
  // 21 symbols all of 16 bits under a 6-bit lookup need more than 20 tree nodes.
  std::vector<uint8_t> lengths(21, 16);
  std::vector<uint32_t> codes(21, 0);
  std::vector<int32_t> primary(64), tree(42);
  canonical_codes(codes.data(), lengths.data(), 21);
  EXPECT_EQ(build_decode_table(primary.data(), tree.data(), codes.data(), lengths.data(), 6, 21),
            kResultDamaged);
  // The symbols entered before the build stopped still decode; the rest read as empty.
  const int32_t first = decode_symbol(codes[0], primary.data(), tree.data(), 6);
  EXPECT_EQ(entry_symbol(first), 0u);
  EXPECT_EQ(entry_length(first), 16u);
  EXPECT_EQ(decode_symbol(codes[20], primary.data(), tree.data(), 6), kEmptySlot);

  // Over-subscribed sets of random lengths: every bit pattern decodes to a symbol of the
  // alphabet or an empty slot.
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> l(42);
    for (auto& x : l) x = uint8_t(rng() % 17);
    std::vector<uint32_t> c(42, 0);
    std::vector<int32_t> p(128), t(84);
    canonical_codes(c.data(), l.data(), 42);
    build_decode_table(p.data(), t.data(), c.data(), l.data(), 7, 42);
    for (uint32_t bits = 0; bits < 65536; bits += 97) {
      const int32_t e = decode_symbol(bits, p.data(), t.data(), 7);
      ASSERT_TRUE(e == kEmptySlot || (e >= 0 && entry_symbol(e) < 42)) << e;
      // A code is never read past the 16 bits it may span, nor as shorter than it is.
      if (e != kEmptySlot) {
        EXPECT_EQ(entry_length(e), l[entry_symbol(e)]);
        EXPECT_EQ(bits & ((1u << entry_length(e)) - 1), c[entry_symbol(e)]);
      }
    }
  }
}

// Reading transmitted lengths from bit streams written by the test writer.
class CodeLengthReadTest : public CodeTablesTest {
 protected:
  ResultCode read(const Bytes& stream, std::vector<uint8_t>& out, uint32_t set_length,
                  uint32_t sets) {
    load_input(stream);
    out.assign(set_length * sets, 0xEE);
    return read_code_lengths(out.data(), set_length, sets);
  }
};

TEST_F(CodeLengthReadTest, RoundTripOfTwoSets) {
  const auto a = standard_set(3, 0), b = standard_set(3, 5);
  BitWriter w;
  write_code_length_sets(w, {a, b});
  std::vector<uint8_t> out;
  ASSERT_EQ(read(w.bytes(), out, 372, 2), kResultOk);
  std::vector<uint8_t> expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(out, expected);
}

TEST_F(CodeLengthReadTest, RunFieldsOfTheCodeLengthAlphabet) {
  // After the run fields, the code-length symbol 1 (its length 2 at the next position)
  // tells where the runs ended: it decodes only if its length landed at that position.
  struct Case {
    std::vector<uint32_t> runs;
    uint32_t skipped;
  } cases[] = {{{0}, 1}, {{0, 0}, 3}, {{1, 0}, 4}, {{0, 1}, 5}, {{1, 1}, 6}, {{0, 0, 0}, 7}};
  for (const auto& c : cases) {
    BitWriter w;
    for (uint32_t v : c.runs) w.put(v, 5);
    // Length 1 for the symbol at position `skipped` and the next, then zero runs to 21.
    w.put(2, 5);
    w.put(2, 5);
    for (uint32_t pos = c.skipped + 2, weight = 1; pos < 21; pos += weight, weight *= 2)
      w.put(0, 5);
    // Codes 0 and 1: a 0 bit is symbol `skipped`, a delta from 0.
    w.put(0, 1);
    std::vector<uint8_t> out;
    ASSERT_EQ(read(w.bytes(), out, 1, 1), kResultOk);
    EXPECT_EQ(out, std::vector<uint8_t>{uint8_t(c.skipped)}) << c.skipped;
  }
}

TEST_F(CodeLengthReadTest, DeltaRunsAndReferences) {
  auto stream = [](std::initializer_list<uint32_t> symbols) {
    BitWriter w;
    write_flat_code_length_alphabet(w);
    for (uint32_t s : symbols) w.put(code_length_symbol_code(s), 5);
    return w.bytes();
  };
  struct Case {
    const char* what;
    Bytes bits;
    uint32_t set_length, sets;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"delta wraps past 16", stream({15, 3}), 2, 1, {15, 1}},
      {"zero run keeps the running value", stream({5, 17, 1}), 3, 1, {5, 0, 6}},
      {"zero runs double: 17,17 gives 1+2", stream({4, 17, 17, 0}), 5, 1, {4, 0, 0, 0, 4}},
      {"symbol 18 gives 2z zeros", stream({4, 18, 0}), 4, 1, {4, 0, 0, 4}},
      {"repeat runs 19,20 give 1+4", stream({3, 19, 20}), 6, 1, {3, 3, 3, 3, 3, 3}},
      {"a run stops at the end", stream({2, 19, 20}), 3, 1, {2, 2, 2}},
      // Second set: symbol 0 repeats the previous set's nonzero length; where it was 0,
      // the running value (the last length stored) is used.
      {"second set references", stream({7, 17, 2, 0, 1, 0}), 3, 2, {7, 0, 9, 7, 8, 9}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    ASSERT_EQ(read(c.bits, out, c.set_length, c.sets), kResultOk) << c.what;
    EXPECT_EQ(out, c.expected) << c.what;
  }
}

TEST_F(CodeLengthReadTest, DamageAndExhaustion) {
  std::vector<uint8_t> out;
  {
    BitWriter w;  // a code-length length of 17 (field 18)
    w.put(18, 5);
    EXPECT_EQ(read(w.bytes(), out, 4, 1), kResultDamaged);
  }
  {
    BitWriter w;  // only symbols 0 and 1 have codes; the pattern 11 is an empty slot
    w.put(3, 5);
    w.put(3, 5);
    for (int i = 0; i < 4; ++i) w.put(1, 5);  // skip 2 + 4 + 8 + 16
    w.put(0b11, 2);
    w.put(0, 16);
    EXPECT_EQ(read(w.bytes(), out, 4, 1), kResultDamaged);
  }
  {
    BitWriter w;  // the chunk ends while lengths are still expected
    write_flat_code_length_alphabet(w);
    w.put(code_length_symbol_code(4), 5);
    EXPECT_EQ(read(w.bytes(), out, 344, 1), kResultNoMoreInput);
  }
}

}  // namespace

#include "codec/block_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/reader_fixture.h"

namespace {

using Encode = std::function<void(BlockEncoder&)>;
using Sets = std::vector<std::vector<uint8_t>>;

class BlockDecoderTest : public ReaderTest {
 protected:
  // Decodes a block written by `encode` behind `history` bytes of earlier output.
  ResultCode run(unsigned tables, const Sets& sets, const Encode& encode, uint32_t size,
                 const Bytes& history = {}) {
    BitWriter w;
    BlockEncoder e(w, tables, sets);
    encode(e);
    bits_used_ = w.bit_count();
    e.finish();
    load_input(w.bytes());
    buffer_ = history;
    buffer_.resize(history.size() + size + 64, 0xAB);
    const ResultCode rc = decode_block(buffer_.data(), uint32_t(history.size()), size);
    if (rc >= 0)
      output_.assign(buffer_.begin() + long(history.size()),
                     buffer_.begin() + long(history.size()) + rc);
    return rc;
  }
  std::string output_text() const { return std::string(output_.begin(), output_.end()); }

  Bytes buffer_, output_;
  size_t bits_used_ = 0;
};

TEST_F(BlockDecoderTest, LiteralsMatchesAndRememberedDistances) {
  struct Case {
    const char* what;
    Encode encode;
    std::string expected;
  } cases[] = {
      {"distance 1 repeats the last byte",
       [](BlockEncoder& e) {
         e.literal('x');
         e.match(10, 1);
       },
       std::string(11, 'x')},
      {"overlapping copy",
       [](BlockEncoder& e) {
         e.literals("abcdef");
         e.match(7, 3);
       },
       "abcdefdefdefd"},
      // Distance 10 (symbol 8, extra 1), then symbol 3 (distance 2), then symbol 0: 10 again.
      {"short distances leave the remembered ones alone",
       [](BlockEncoder& e) {
         e.literals("0123456789ab");
         e.match_symbol(3, 8, 1);
         e.match_symbol(3, 3);
         e.match_symbol(3, 0);
       },
       "0123456789ab"
       "234"
       "343"
       "89a"},
      // Distances 9, 13; symbol 1 swaps back to 9, symbol 1 again to 13.
      {"symbol 1 twice returns to the distance before",
       [](BlockEncoder& e) {
         e.literals("ABCDEFGHIJKLMNOPQ");
         e.match(2, 9);
         e.match(2, 13);
         e.match_symbol(2, 1);
         e.match_symbol(2, 1);
       },
       "ABCDEFGHIJKLMNOPQ"
       "IJ"
       "GH"
       "MN"
       "KL"},
      {"a match reaching before the buffer is dropped",
       [](BlockEncoder& e) {
         e.literal('a');
         e.match(5, 2);
         e.literal('b');
       },
       "ab"},
      {"long match symbol",
       [](BlockEncoder& e) {
         e.literal('z');
         e.match(1000, 1);
       },
       std::string(1001, 'z')},
  };
  for (const auto& c : cases) {
    ASSERT_GE(run(2, {standard_set(2)}, c.encode, uint32_t(c.expected.size())), 0) << c.what;
    EXPECT_EQ(output_text(), c.expected) << c.what;
  }
}

TEST_F(BlockDecoderTest, FixedSetAndCursorLeftOnTheNextByte) {
  ASSERT_EQ(run(
                2, {},
                [](BlockEncoder& e) {
                  e.literals("hello, hello");
                  e.match(4, 7);
                },
                16),
            16);
  EXPECT_EQ(output_text(), "hello, hello, he");
  EXPECT_EQ(archive_reader.bit_offset, 0u);
  EXPECT_EQ(size_t(archive_reader.cursor - input_.data()), (bits_used_ + 7) / 8);
}

TEST_F(BlockDecoderTest, DistanceRangesReachTheRightByte) {
  // Earlier output of 1 MiB + 16 bytes, each position distinct enough to tell apart.
  Bytes history((1u << 20) + 16);
  for (size_t i = 0; i < history.size(); ++i)
    history[i] = uint8_t(i * 7 + (i >> 8) * 13 + (i >> 16));
  const uint32_t distances[] = {1,      2,      4,      5,      6,       7,      8,
                                9,      12,     13,     16,     17,      8192,   8193,
                                524288, 524289, 786432, 786433, 1048575, 1048576};
  for (uint32_t d : distances) {
    ASSERT_EQ(run(
                  2, {standard_set(2)}, [&](BlockEncoder& e) { e.match(4, d); }, 4, history),
              4)
        << d;
    for (uint32_t i = 0; i < 4; ++i) {
      // The copy may overlap its own output when d < 4.
      const Bytes& b = buffer_;
      EXPECT_EQ(b[history.size() + i], b[history.size() + i - d]) << d;
    }
    EXPECT_EQ(buffer_[history.size()], history[history.size() - d]) << d;
  }
}

TEST_F(BlockDecoderTest, MultiByteCopiesEqualByteByByteCopies) {
  // Matches that end at the output limit, and matches with later output behind them
  // (room for whole eight-byte steps); nothing is written past the limit either way.
  for (const char* tail : {"", "!", "0123456789"}) {
    for (uint32_t d = 1; d <= 20; ++d) {
      for (uint32_t len : {2u, 7u, 8u, 9u, 16u, 17u, 40u, 300u}) {
        const std::string seed = "qwertyuiopasdfghjklz";
        const uint32_t size = uint32_t(seed.size() + len + std::strlen(tail));
        ASSERT_GE(run(
                      2, {standard_set(2)},
                      [&](BlockEncoder& e) {
                        e.literals(seed);
                        e.match(len, d);
                        e.literals(tail);
                      },
                      size),
                  0);
        std::string expected = seed;
        for (uint32_t i = 0; i < len; ++i) expected += expected[expected.size() - d];
        expected += tail;
        EXPECT_EQ(output_text(), expected) << d << " " << len << " " << tail;
        EXPECT_EQ(Bytes(buffer_.begin() + size, buffer_.end()), Bytes(buffer_.size() - size, 0xAB))
            << d << " " << len << " " << tail;
      }
    }
  }
}

TEST_F(BlockDecoderTest, TableSetSwitching) {
  const Sets two = {standard_set(2, 0), standard_set(2, 100)};
  // The second symbol 256 has no set left: the block ends short.
  ASSERT_EQ(run(
                2, two,
                [](BlockEncoder& e) {
                  e.literals("one");
                  e.switch_set();
                  e.literals("two");
                  e.switch_set();
                  e.literals("lost");
                },
                20),
            6);
  EXPECT_EQ(output_text(), "onetwo");

  // 32 sets: 31 switches go on, the 32nd symbol 256 ends the block.
  Sets many;
  for (unsigned k = 0; k < 32; ++k) many.push_back(standard_set(2, k * 9));
  ASSERT_EQ(run(
                2, many,
                [](BlockEncoder& e) {
                  for (int k = 0; k < 32; ++k) {
                    e.literal(uint8_t('A' + k));
                    e.switch_set();
                  }
                  e.literal('!');
                },
                100),
            32);
  EXPECT_EQ(output_[31], uint8_t('A' + 31));
}

TEST_F(BlockDecoderTest, EndsOfBlock) {
  // Output complete: the remaining symbols are not read.
  ASSERT_EQ(run(
                2, {standard_set(2)},
                [](BlockEncoder& e) {
                  e.literals("ab");
                  e.match(10, 1);
                  e.literals("cd");
                },
                5),
            5);
  EXPECT_EQ(output_text(), "abbbb");
  // The chunk's data end first: the block comes out short (8-bit codes of the fixed set
  // keep the data byte-aligned, so no padding bits remain to be read).
  ASSERT_EQ(run(
                2, {}, [](BlockEncoder& e) { e.literals("abc"); }, 50),
            3);
  // Symbol 287 ends the block.
  ASSERT_EQ(run(
                2, {standard_set(2)},
                [](BlockEncoder& e) {
                  e.literals("ab");
                  e.symbol(287);
                  e.literal('c');
                },
                10),
            2);
  // A remembered distance never sent in this block ends it: the bytes of the buffer
  // that would have been copied never become output.
  const Bytes stale = text_bytes("STALE");
  ASSERT_EQ(run(
                2, {standard_set(2)},
                [](BlockEncoder& e) {
                  e.literal('a');
                  e.match_symbol(4, 0);
                  e.literal('b');
                },
                10, stale),
            1);
  EXPECT_EQ(output_text(), "a");
}

TEST_F(BlockDecoderTest, BitsThatBeginNoCodeEndTheBlock) {
  // An incomplete set: 'a' is 0, length symbol 258 (3 bytes) is 10 (written 01), 11
  // begins no code; distance symbol 2 (distance 1) is 0, 1 begins no code. A lookup that
  // lands on such a slot ends the block after what was decoded, in either alphabet.
  std::vector<uint8_t> set(344, 0);
  set['a'] = 1;
  set[258] = 2;
  set[288 + 2] = 1;
  struct Case {
    const char* what;
    uint32_t bits, count;
  } cases[] = {{"literal/length code", 0b11, 2}, {"distance code", 0b1 << 2 | 0b01, 3}};
  for (const auto& c : cases) {
    BitWriter w;
    BlockEncoder e(w, 2, {set});
    e.literal('a');
    e.match(3, 1);
    w.put(c.bits, c.count);
    w.put(0, 32);
    e.finish();
    load_input(w.bytes());
    Bytes out(64, 0xAB);
    EXPECT_EQ(decode_block(out.data(), 0, 32), 4) << c.what;
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "aaaa") << c.what;
  }
}

TEST_F(BlockDecoderTest, DistanceTableCounts) {
  // D = 1: length-2 matches use table 0 like every other match.
  ASSERT_EQ(run(
                1, {standard_set(1)},
                [](BlockEncoder& e) {
                  e.literals("xyz");
                  e.match(2, 3);
                },
                5),
            5);
  EXPECT_EQ(output_text(), "xyzxy");
  // D = 3: length-3 matches use table 2.
  ASSERT_EQ(run(
                3, {standard_set(3)},
                [](BlockEncoder& e) {
                  e.literals("xyz");
                  e.match(3, 3);
                  e.match(2, 1);
                },
                8),
            8);
  EXPECT_EQ(output_text(), "xyzxyzzz");

  struct Bad {
    unsigned tables;
    Sets sets;
  } bad[] = {{0, {}}, {3, {}}};  // no distance table; a third one the fixed set lacks
  for (const auto& b : bad) {
    BitWriter w;
    w.put(b.tables, 2);
    w.put(0, 6);
    w.put(0, 32);
    load_input(w.bytes());
    Bytes out(16);
    EXPECT_EQ(decode_block(out.data(), 0, 8), kResultDamaged) << b.tables;
  }
}

TEST_F(BlockDecoderTest, CancelAtTheFirstSetSwitch) {
  install_state.cancel_requested = 1;
  EXPECT_EQ(run(
                2, {}, [](BlockEncoder& e) { e.literals("abc"); }, 3),
            kResultCancelled);
}

}  // namespace

#include "codec/block_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "support/reader_fixture.h"

namespace {

using Encode = std::function<void(BlockEncoder&)>;
using Sets = std::vector<std::vector<uint8_t>>;

// A complete code whose lengths lean toward the targets (1 to 16 bits): every symbol
// starts at 16 bits and is shortened, those with the shortest targets first, as far as
// the code's space allows; the last of the space goes to the longest ones.
std::vector<uint8_t> complete_code(const std::vector<uint8_t>& targets) {
  const size_t n = targets.size();
  std::vector<uint8_t> lengths(n, 16);
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return targets[a] < targets[b]; });
  uint32_t space = uint32_t(n);  // in codes of 16 bits
  auto shorten = [&](size_t i, uint8_t to) {
    while (lengths[i] > to && space + (1u << (16 - lengths[i])) <= 65536) {
      space += 1u << (16 - lengths[i]);
      --lengths[i];
    }
  };
  for (size_t i : order) shorten(i, targets[i]);
  for (size_t i : order) shorten(i, 1);
  EXPECT_EQ(space, 65536u);
  return lengths;
}

// A table set whose alphabets all have codes longer than the lookup widths (11 bits for
// literals and lengths, 9 for distances) as well as short ones.
std::vector<uint8_t> long_code_set(unsigned tables, uint32_t seed) {
  std::mt19937 rng(seed);
  auto targets = [&](size_t n, unsigned short_bits, unsigned spread) {
    std::vector<uint8_t> t(n);
    for (auto& v : t) v = uint8_t(rng() % 4 == 0 ? 12 + rng() % 5 : short_bits + rng() % spread);
    return t;
  };
  std::vector<uint8_t> set = complete_code(targets(288, 7, 3));
  for (unsigned t = 0; t < 3; ++t) {
    if (t == 2 && tables != 3) break;
    const size_t n = t == 0 ? 42 : t == 1 ? 14 : 28;
    const auto d = complete_code(targets(n, 3, 3));
    set.insert(set.end(), d.begin(), d.end());
  }
  return set;
}

// The tokens of a block and the output they stand for, with the decoder's rules for the
// remembered distances.
struct Model {
  std::mt19937 rng{7};
  std::string out;
  uint32_t last = 0, previous = 0;

  void literal(BlockEncoder& e) {
    const uint8_t b = uint8_t(rng() % 4 ? 'a' + rng() % 26 : rng() % 255);  // never 255
    e.literal(b);
    out += char(b);
  }
  void match(BlockEncoder& e) {
    static const uint32_t lengths[] = {2, 3, 4, 5, 9, 10, 11, 17, 40, 130, 258, 259, 700};
    const uint32_t length = rng() % 3 ? 2 + rng() % 30 : lengths[rng() % 13];
    const uint32_t pick = rng() % 8;
    uint32_t distance;
    if (pick == 0 && last != 0) {
      e.match_symbol(length, 0);
      distance = last;
    } else if (pick == 1 && previous != 0) {
      e.match_symbol(length, 1);
      distance = previous;
      previous = last;
      last = distance;
    } else {
      // Distances 1 to 4 (symbols 2 to 5) leave the remembered ones alone.
      const uint32_t reach = uint32_t(out.size());
      const uint32_t limits[] = {4, 16, 64, 300, 5000, 70000};
      distance = 1 + rng() % std::min(reach, limits[rng() % 6]);
      if (length == 2) distance = std::min(distance, 64u);  // the reach of tables 1 and 2
      if (length == 3) distance = std::min(distance, 8192u);
      e.match(length, distance);
      if (distance > 4) {
        previous = last;
        last = distance;
      }
    }
    for (uint32_t i = 0; i < length; ++i) out += out[out.size() - distance];
  }
  // About `tokens` literals and matches, with a set switch every `switch_every`.
  void tokens(BlockEncoder& e, uint32_t count, uint32_t switch_every, uint32_t switches) {
    for (uint32_t k = 0; k < count; ++k) {
      if (out.empty() || rng() % 2) {
        literal(e);
      } else {
        match(e);
      }
      if (switch_every != 0 && k % switch_every == switch_every - 1 && switches != 0) {
        e.switch_set();
        --switches;
      }
    }
  }
};

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
    const bool dropped = std::strstr(c.what, "dropped") != nullptr;
    EXPECT_EQ(archive_reader.block_end, kBlockComplete | (dropped ? kBlockDroppedMatch : 0))
        << c.what;
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
  EXPECT_EQ(archive_reader.block_end, kBlockNoSetLeft);

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
  EXPECT_EQ(archive_reader.block_end, kBlockNoSetLeft);
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
  EXPECT_EQ(archive_reader.block_end, kBlockComplete);
  // The chunk's data end first: the block comes out short (8-bit codes of the fixed set
  // keep the data byte-aligned, so no padding bits remain to be read).
  ASSERT_EQ(run(
                2, {}, [](BlockEncoder& e) { e.literals("abc"); }, 50),
            3);
  EXPECT_EQ(archive_reader.block_end, kBlockInputEnded);
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
  EXPECT_EQ(archive_reader.block_end, kBlockMeaninglessSymbol);
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
  EXPECT_EQ(archive_reader.block_end, kBlockDistanceNeverSent);
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
    EXPECT_EQ(archive_reader.block_end, kBlockInvalidCode) << c.what;
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

TEST_F(BlockDecoderTest, LargeBlocksAndTheirEnds) {
  // Blocks long enough for the fast loop of 64-bit hosts: literals, matches of every
  // length class (symbol 286 too) and distance class the output reaches, remembered
  // distances and set switches, under codes that need the overflow tree. The decoder's
  // output must equal the model's, and each end is named.
  const Sets sets = {long_code_set(3, 1), long_code_set(3, 2), long_code_set(3, 3)};
  // One literal and one distance symbol out of a complete code: bits that begin with its
  // code (all ones: canonical codes leave the hole at the end) begin no code.
  Sets holed = sets;
  for (auto& set : holed) set[255] = set[288 + 41] = 0;

  struct Case {
    const char* what;
    const Sets& sets;
    std::function<void(BlockEncoder&, BitWriter&, Model&)> tail;
    uint8_t end;
  } cases[] = {
      {"complete", sets, [](BlockEncoder&, BitWriter&, Model&) {}, kBlockComplete},
      {"symbol 287", sets, [](BlockEncoder& e, BitWriter&, Model&) { e.symbol(287); },
       kBlockMeaninglessSymbol},
      {"no set left", sets,
       [](BlockEncoder& e, BitWriter&, Model&) {
         e.switch_set();
         e.switch_set();
         e.switch_set();
       },
       kBlockNoSetLeft},
      {"literal/length code with no symbol", holed,
       [](BlockEncoder&, BitWriter& w, Model&) { w.put(0xFFFF, 16); }, kBlockInvalidCode},
      {"distance code with no symbol", holed,
       [](BlockEncoder& e, BitWriter& w, Model&) {
         e.symbol(262);  // length 7: distance table 0
         w.put(0xFFFF, 16);
       },
       kBlockInvalidCode},
  };
  for (const auto& c : cases) {
    Model model;
    BitWriter w;
    BlockEncoder e(w, 3, c.sets);
    model.tokens(e, 3000, 1000, 1);
    c.tail(e, w, model);
    const std::string expected = model.out;
    // Tokens behind the end, never decoded; bits enough to keep the fast loop going.
    model.tokens(e, 3000, 0, 0);
    e.finish();
    load_input(w.bytes());
    const uint32_t size =
        c.end == kBlockComplete ? uint32_t(expected.size()) : uint32_t(model.out.size());
    Bytes out(size + 64, 0xAB);
    const ResultCode rc = decode_block(out.data(), 0, size);
    ASSERT_EQ(rc, ResultCode(expected.size())) << c.what;
    EXPECT_EQ(std::memcmp(expected.data(), out.data(), expected.size()), 0) << c.what;
    EXPECT_EQ(archive_reader.block_end, c.end) << c.what;
  }

  // The ends that come from the remembered distances, early in a long block: a match
  // that reaches before the buffer is dropped (its distance is remembered all the same),
  // then the distance before it, never sent, ends the block.
  Model model;
  BitWriter w;
  BlockEncoder e(w, 3, sets);
  e.literals("xyz");
  e.match(4, 9);
  e.literals("abc");
  e.match_symbol(5, 1);
  model.tokens(e, 3000, 0, 0);  // never decoded
  e.finish();
  load_input(w.bytes());
  Bytes out(model.out.size() + 64, 0xAB);
  ASSERT_EQ(decode_block(out.data(), 0, uint32_t(model.out.size())), 6);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "xyzabc");
  EXPECT_EQ(archive_reader.block_end, kBlockDistanceNeverSent | kBlockDroppedMatch);
}

}  // namespace

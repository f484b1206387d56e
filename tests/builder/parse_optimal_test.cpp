// The optimal parser's step of a match, up to three literals and a match at a remembered
// distance: the tokens it gives still spell out the data, and where records differ by one
// byte or a few in a row the step is taken more often and makes the block smaller. (With
// two changes 11 bytes apart, or records of a dozen bytes, it gains next to nothing: the
// parse without it already finds most such steps.)
#include "builder/parse_optimal.h"

#include <gtest/gtest.h>

#include "builder/bit_writer.h"
#include "builder/block_encoder.h"
#include "builder/levels.h"
#include "test_data.h"

namespace {

using builder::Token;

// Replays tokens as the decoder does, remembered distances included.
std::vector<uint8_t> replay(const std::vector<Token>& tokens, const std::vector<uint8_t>& window) {
  std::vector<uint8_t> out = window;
  uint32_t last = 0, previous = 0;
  for (const Token& t : tokens) {
    if (t.length == 0) {
      out.push_back(static_cast<uint8_t>(t.value));
      continue;
    }
    uint32_t distance;
    if (t.dist_symbol == format::kDistanceRepeatLast) {
      distance = last;
    } else if (t.dist_symbol == format::kDistanceRepeatPrevious) {
      distance = previous;
      std::swap(last, previous);
    } else if (t.dist_symbol < format::kFirstCodedDistance) {
      distance = t.dist_symbol - 1;
    } else {
      distance = format::distance_base(t.dist_symbol) + t.value;
      previous = last;
      last = distance;
    }
    if (distance == 0 || distance > out.size()) return {};
    for (uint32_t k = 0; k < t.length; ++k) out.push_back(out[out.size() - distance]);
  }
  return std::vector<uint8_t>(out.begin() + static_cast<long>(window.size()), out.end());
}

// Parses one block whose first `window` bytes are history into `tokens` and their size in
// bits; expects no match to reach further back than the window. Returns whether the tokens
// spell out the rest of the data.
bool parse_block(const builder::LevelParams& params, const std::vector<uint8_t>& data,
                 uint32_t window, std::vector<Token>* tokens, size_t* bits) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  const builder::BlockSpan span{window, size, window, format::kDistanceTables};
  builder::MatchFinder finder(data.data(), size, params.depth, params.nice_length, params.tree);
  builder::OptimalParser parser(params, format::kMaxTableSets);
  uint32_t needed = 0;
  parser.parse(finder, data.data(), span, *tokens, &needed);
  EXPECT_LE(needed, window);
  builder::BitWriter out;
  builder::encode_block(out, *tokens, format::kDistanceTables, format::kMaxTableSets);
  *bits = out.bit_count();
  const std::vector<uint8_t> history(data.begin(), data.begin() + window);
  return replay(*tokens, history) == std::vector<uint8_t>(data.begin() + window, data.end());
}

TEST(OptimalParser, MatchLiteralRepeatStepsSpellTheDataAndSaveBits) {
  struct Case {
    const char* name;
    uint32_t record;
    uint32_t changes;
    uint32_t spacing;  // between the changed bytes of a copy
    uint32_t window;   // bytes in front of the block
    bool saves;        // the step is taken more often and saves bits
    bool code;         // an x86-like image instead of records
  };
  const Case cases[] = {
      {"one change", 100, 1, 0, 0, true, false},
      {"two changes", 64, 2, 11, 0, false, false},
      {"two changes side by side", 100, 2, 1, 0, true, false},
      {"three changes in a row", 100, 3, 1, 0, true, false},
      {"with a window", 100, 1, 0, 5000, true, false},
      {"short records", 12, 1, 0, 300, false, false},
      {"code", 0, 0, 0, 2000, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> record = testdata::random_bytes(c.record, 3);
    std::vector<uint8_t> data = testdata::random_bytes(c.window, 4);
    const std::vector<uint8_t> noise = testdata::random_bytes(1500 * c.changes, 5);
    for (uint32_t copy = 0; copy < 1500 && !c.code; ++copy) {
      std::vector<uint8_t> r = record;
      for (uint32_t k = 0; k < c.changes; ++k)
        r[(copy * 37 + k * c.spacing) % c.record] = noise[copy * c.changes + k];
      data.insert(data.end(), r.begin(), r.end());
    }
    if (c.code) {
      const std::vector<uint8_t> image = testdata::executable(150000, 6);
      data.insert(data.end(), image.begin(), image.end());
    }
    size_t bits[2] = {};
    size_t patterns[2] = {};
    size_t previous_patterns = 0;  // the second match at the distance before the first's
    for (bool with_step : {false, true}) {
      // The single-way search (level 8): keeping several ways finds most such steps anyway.
      builder::LevelParams params = builder::level_params(9);
      params.arrivals = 1;
      if (!with_step) params.literal_repeat = 0;
      std::vector<Token> tokens;
      ASSERT_TRUE(parse_block(params, data, c.window, &tokens, &bits[with_step]));
      // A match, one to three literals, a match at a remembered distance.
      for (size_t k = 2; k < tokens.size(); ++k) {
        if (tokens[k - 1].length || !tokens[k].length) continue;
        size_t first = k - 1;
        while (first > 0 && k - first <= 3 && tokens[first - 1].length == 0) --first;
        if (first == 0 || k - first > 3) continue;
        if (tokens[k].dist_symbol == format::kDistanceRepeatLast) ++patterns[with_step];
        if (with_step && tokens[k].dist_symbol == format::kDistanceRepeatPrevious)
          ++previous_patterns;
      }
    }
    if (c.saves) {
      EXPECT_GT(patterns[1], patterns[0]);
      EXPECT_LT(bits[1], bits[0]);
    }
    if (c.code) {
      EXPECT_GT(previous_patterns, 0u);
    }
  }
}

// Several ways kept per position (level 9): the tokens still spell out the data, no match
// reaches before the window, and where remembered distances pay (records with a changed
// byte, code) the block gets smaller than with the single cheapest way.
TEST(OptimalParser, SeveralWaysPerPositionSpellTheDataAndSaveBits) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    uint32_t window;
    bool saves;
  };
  auto records = [](uint32_t copies, uint32_t seed) {
    const std::vector<uint8_t> record = testdata::random_bytes(80, seed);
    const std::vector<uint8_t> noise = testdata::random_bytes(copies * 2, seed + 1);
    std::vector<uint8_t> v;
    for (uint32_t copy = 0; copy < copies; ++copy) {
      std::vector<uint8_t> r = record;
      r[(copy * 29) % 80] = noise[2 * copy];
      r[(copy * 53 + 7) % 80] = noise[2 * copy + 1];
      v.insert(v.end(), r.begin(), r.end());
    }
    return v;
  };
  std::vector<uint8_t> runs(70000, 'a');  // long matches: positions inside are not expanded
  for (size_t i = 0; i < runs.size(); i += 9000) runs[i] = 'b';
  const Case cases[] = {
      {"records", records(1500, 11), 0, true},
      {"records behind a window", records(1500, 12), 4000, true},
      {"code", testdata::executable(120000, 13), 3000, true},
      {"text", testdata::text(60000, 14), 0, false},
      {"runs", runs, 100, false},
      {"three bytes", {1, 2, 1}, 0, false},
      {"one byte behind a window", {7, 7, 7, 7}, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t bits[2] = {};
    for (uint32_t ways : {1u, 4u}) {
      builder::LevelParams params = builder::level_params(9);
      params.arrivals = ways;
      std::vector<Token> tokens;
      ASSERT_TRUE(parse_block(params, c.data, c.window, &tokens, &bits[ways > 1]));
    }
    if (c.saves) {
      EXPECT_LT(bits[1], bits[0]);
    }
  }
}

}  // namespace

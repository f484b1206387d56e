// The stream encoder: chunks that do not depend on the thread count or on how the bytes
// arrive, and windows that keep what later blocks reach back to.
#include "builder/stream_encoder.h"

#include <gtest/gtest.h>

#include "builder/archive_writer.h"
#include "model_reader.h"
#include "packing.h"
#include "test_data.h"

namespace {

using builder::SourceEntry;

using testdata::file;

// Text, an executable and noise, several times over with changes, so that blocks reach
// back across earlier blocks.
std::vector<SourceEntry> payload() {
  std::vector<SourceEntry> entries;
  for (uint32_t copy = 0; copy < 3; ++copy) {
    std::vector<uint8_t> text = testdata::text(90000, 7);
    text[copy * 1000] ^= 0x20;
    entries.push_back(file("docs\\readme" + std::to_string(copy) + ".txt", text));
    entries.push_back(file("bin\\tool" + std::to_string(copy) + ".exe",
                           testdata::executable(70000 + copy * 3000, 8)));
    entries.push_back(
        file("noise" + std::to_string(copy) + ".bin", testdata::random_bytes(20000, 9 + copy)));
  }
  return entries;
}

std::vector<uint8_t> pack(int level, uint32_t threads, uint32_t block_size) {
  return testdata::pack(payload(), level, block_size, threads);
}

TEST(StreamEncoder, OutputIsTheSameForEveryThreadCount) {
  struct Case {
    int level;
    uint32_t block_size;
  };
  // Small blocks: many blocks, whose matches reach across several earlier ones.
  const Case cases[] = {{1, 30000}, {6, 45000}, {7, 30000}, {8, 40000}, {9, 65536}};
  const std::vector<SourceEntry> original = payload();
  for (const Case& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + ", blocks of " +
                 std::to_string(c.block_size));
    const std::vector<uint8_t> one = pack(c.level, 1, c.block_size);
    model::Archive archive;
    ASSERT_EQ(model::read_archive(one, &archive), "");
    ASSERT_EQ(archive.entries.size(), original.size());
    for (size_t i = 0; i < original.size(); ++i)
      EXPECT_TRUE(archive.entries[i].contents == original[i].contents) << original[i].name;
    EXPECT_GT(archive.stream_blocks.size(), 8u);
    for (uint32_t threads : {2u, 3u, 8u})
      EXPECT_TRUE(pack(c.level, threads, c.block_size) == one) << threads << " threads";
  }
}

TEST(StreamEncoder, ChunksDoNotDependOnHowTheBytesArrive) {
  std::vector<uint8_t> stream = testdata::text(120000, 3);
  const std::vector<uint8_t> more = testdata::executable(60000, 4);
  stream.insert(stream.end(), more.begin(), more.end());
  stream.insert(stream.end(), stream.begin(), stream.begin() + 50000);
  const uint32_t size = static_cast<uint32_t>(stream.size());
  builder::StreamOptions options;
  options.level = 7;
  options.block_size = 20000;
  const std::vector<uint32_t> starts = builder::block_starts(size, options.block_size);
  const std::vector<uint8_t> whole = builder::compress_stream(stream.data(), size, starts, options);
  for (uint32_t threads : {1u, 2u}) {
    options.threads = threads;
    std::vector<uint8_t> pieces;
    std::vector<uint64_t> progress;
    builder::StreamEncoder encoder(
        size, starts, options,
        [&](const uint8_t* chunk, size_t n) {
          pieces.insert(pieces.end(), chunk, chunk + n);
          return true;
        },
        [&](uint64_t done) { progress.push_back(done); });
    // Pieces of odd sizes that never line up with the blocks.
    for (uint32_t at = 0, step = 1; at < size; at += step, step = step * 3 % 9973 + 1)
      ASSERT_TRUE(encoder.append(stream.data() + at, std::min(step, size - at)));
    ASSERT_TRUE(encoder.finish());
    EXPECT_TRUE(pieces == whole) << threads << " threads";
    ASSERT_EQ(progress.size(), starts.size());
    EXPECT_EQ(progress.back(), size);
  }
}

TEST(StreamEncoder, AFailingSinkOrAShortStreamIsReported) {
  const std::vector<uint8_t> stream = testdata::text(100000, 5);
  const uint32_t size = static_cast<uint32_t>(stream.size());
  for (uint32_t threads : {1u, 2u}) {
    builder::StreamOptions options;
    options.level = 3;
    options.block_size = 10000;
    options.threads = threads;
    const std::vector<uint32_t> starts = builder::block_starts(size, options.block_size);
    int writes = 0;
    {
      builder::StreamEncoder failing(size, starts, options,
                                     [&](const uint8_t*, size_t) { return ++writes < 3; });
      failing.append(stream.data(), size);
      EXPECT_FALSE(failing.finish());
      EXPECT_EQ(writes, 3) << "nothing is written after the first failure";
    }
    builder::StreamEncoder short_stream(size, starts, options,
                                        [](const uint8_t*, size_t) { return true; });
    EXPECT_TRUE(short_stream.append(stream.data(), size - 1));
    EXPECT_FALSE(short_stream.finish());
  }
}

}  // namespace

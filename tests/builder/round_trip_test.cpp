// Archives built by the packer, read back by the strict model reader: contents, CRCs,
// directory fields and the framing rules the installer depends on.
#include <gtest/gtest.h>

#include <algorithm>

#include "builder/archive_writer.h"
#include "codec/format.h"
#include "model_reader.h"
#include "packing.h"
#include "test_data.h"

namespace {

using builder::SourceEntry;

using testdata::folder;

// A file with both of its times set.
SourceEntry file(const std::string& name, std::vector<uint8_t> contents) {
  SourceEntry e = testdata::file(name, std::move(contents));
  e.write_date = 0x2926;
  e.write_time = 0x98F1;
  e.creation_date = 0x2849;
  e.creation_time = 0xB026;
  return e;
}

model::Archive pack_and_read(std::vector<SourceEntry> entries, int level, uint32_t block_size = 0,
                             bool dedupe = true) {
  const std::vector<SourceEntry> original = entries;
  builder::PackOptions options;
  options.level = level;
  options.block_size = block_size;
  options.dedupe = dedupe;
  const std::vector<uint8_t> bytes = testdata::pack(entries, options);
  model::Archive archive;
  const std::string problem = model::read_archive(bytes, &archive);
  EXPECT_EQ(problem, "") << "level " << level;
  if (!problem.empty()) return archive;
  EXPECT_EQ(archive.entries.size(), original.size());
  // By name: files of identical contents change the directory's order.
  for (const model::Entry& got : archive.entries) {
    auto wanted = std::find_if(original.begin(), original.end(),
                               [&](const SourceEntry& e) { return e.name == got.name; });
    if (wanted == original.end()) {
      ADD_FAILURE() << got.name << " was not packed";
      continue;
    }
    EXPECT_EQ((got.flags & format::kFlagFolder) != 0, wanted->folder);
    EXPECT_EQ(got.attributes, wanted->attributes);
    if (!wanted->folder) {
      EXPECT_EQ(got.write_date, wanted->write_date);
      EXPECT_EQ(got.creation_time, wanted->creation_time);
      EXPECT_TRUE(got.contents == wanted->contents)
          << wanted->name << " differs at level " << level;
    }
  }
  return archive;
}

struct Kind {
  const char* name;
  std::vector<uint8_t> (*make)();
};

const Kind kKinds[] = {
    {"random", [] { return testdata::random_bytes(200000, 1); }},
    {"repetitive", [] { return testdata::repetitive(300000); }},
    {"text", [] { return testdata::text(250000, 2); }},
    {"executable", [] { return testdata::executable(200000, 3); }},
    {"empty", [] { return std::vector<uint8_t>(); }},
    {"one byte", [] { return std::vector<uint8_t>{0xE8}; }},
    {"zeros", [] { return std::vector<uint8_t>(100000, 0); }},
};

TEST(RoundTrip, EveryKindAtEveryLevel) {
  for (const Kind& kind : kKinds) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(kind.name) + " level " + std::to_string(level));
      pack_and_read({file("data.bin", kind.make())}, level);
    }
  }
}

TEST(RoundTrip, MixedFilesInOneStreamAcrossSmallBlocks) {
  // Small blocks: members, names and call operands straddle block boundaries, and the
  // window kept between blocks decides what later blocks may reach.
  std::vector<SourceEntry> entries = {
      folder("app"),
      file("app\\setup.exe", testdata::executable(70000, 7)),
      file("app\\readme.txt", testdata::text(30000, 8)),
      file("app\\empty.dat", {}),
      file("app\\noise.bin", testdata::random_bytes(40000, 9)),
      file("app\\again.txt", testdata::text(30000, 8)),
      file("app\\lib.dll", testdata::executable(50000, 10)),
  };
  for (uint32_t block : {4093u, 65536u}) {
    for (int level : {1, 5, 9}) {
      SCOPED_TRACE("block " + std::to_string(block) + " level " + std::to_string(level));
      // The copy stays a member of its own: its matches reach back across blocks.
      const model::Archive a = pack_and_read(entries, level, block, false);
      EXPECT_GT(a.stream_blocks.size(), 3u);
      EXPECT_EQ(a.entries[1].flags, format::kFlagCall32);
      EXPECT_EQ(a.entries[2].flags, 0);
    }
  }
}

TEST(RoundTrip, ManySmallFilesAndDeepFoldersFillSeveralDirectoryBlocks) {
  std::vector<SourceEntry> entries;
  std::string path;
  for (int depth = 0; depth < 12; ++depth) {
    path += (depth ? "\\" : "") + std::string("level") + std::to_string(depth);
    entries.push_back(folder(path));
  }
  for (int i = 0; i < 600; ++i) {
    auto contents = testdata::text(static_cast<size_t>(i % 50), static_cast<uint32_t>(i));
    entries.push_back(file(path + "\\file" + std::to_string(i) + ".txt", contents));
  }
  const model::Archive a = pack_and_read(entries, 6);
  EXPECT_GT(a.directory_blocks.size(), 1u);
}

TEST(RoundTrip, StatisticsThatChangeGetSeveralTableSets) {
  std::vector<uint8_t> data = testdata::text(200000, 11);
  const auto exe = testdata::executable(200000, 12);
  data.insert(data.end(), exe.begin() + 0x200, exe.end());
  const auto more = testdata::repetitive(100000);
  data.insert(data.end(), more.begin(), more.end());
  const model::Archive a = pack_and_read({file("mixed.bin", data)}, 6);
  ASSERT_FALSE(a.stream_blocks.empty());
  EXPECT_GT(a.stream_blocks[0].sets, 1u);
  EXPECT_EQ(a.stream_blocks[0].tables, 3u);
}

TEST(RoundTrip, IncompressibleDataIsStored) {
  const model::Archive a = pack_and_read({file("noise", testdata::random_bytes(300000, 5))}, 9);
  ASSERT_EQ(a.stream_blocks.size(), 1u);
  EXPECT_EQ(a.stream_blocks[0].type, format::kBlockTypeStored);
}

TEST(RoundTrip, SmallBlocksUseTheFixedSetAndDirectoriesTwoTables) {
  // A few dozen bytes cannot pay for transmitted tables.
  const model::Archive a = pack_and_read({file("tiny.txt", testdata::text(40, 6))}, 9);
  ASSERT_EQ(a.stream_blocks.size(), 1u);
  EXPECT_EQ(a.stream_blocks[0].type, format::kBlockTypeCompressed);
  EXPECT_EQ(a.stream_blocks[0].sets, 0u);
  EXPECT_EQ(a.stream_blocks[0].tables, 2u);
  for (const model::BlockInfo& b : a.directory_blocks) {
    if (b.type == format::kBlockTypeCompressed) {
      EXPECT_EQ(b.tables, 2u);
    }
  }
}

TEST(RoundTrip, LongMatchesBeyondTheLengthTable) {
  // Long runs need the 15-bit long-match symbol; blocks of the full size keep them whole.
  std::vector<uint8_t> data = testdata::random_bytes(5000, 4);
  for (int copy = 0; copy < 3; ++copy) {
    const std::vector<uint8_t> again(data.begin(), data.begin() + 5000);
    data.insert(data.end(), again.begin(), again.end());
  }
  data.resize(data.size() + 70000, 'x');
  for (int level : {1, 9}) pack_and_read({file("long", data)}, level);
}

}  // namespace

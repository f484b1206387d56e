// Identical files stored once: which entries are found alike, where their shared member
// lies, and archives that read back whole with every entry's own name, times and
// attributes.
#include "builder/duplicates.h"

#include <gtest/gtest.h>

#include "builder/archive_layout.h"
#include "builder/incompressible.h"
#include "model_reader.h"
#include "packing.h"
#include "test_data.h"

namespace {

using builder::SourceEntry;
using testdata::file;
using testdata::folder;

TEST(ContentHash, DependsOnTheBytesNotOnHowTheyArrive) {
  const std::vector<uint8_t> data = testdata::random_bytes(1000, 5);
  builder::ContentHash whole;
  whole.update(data.data(), data.size());
  for (size_t piece : {1u, 7u, 32u, 33u, 500u}) {
    builder::ContentHash pieces;
    for (size_t at = 0; at < data.size(); at += piece)
      pieces.update(data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(pieces.digest(), whole.digest()) << piece;
  }
  // One bit anywhere, or one byte more or less, changes it.
  for (size_t at : {0u, 31u, 32u, 999u}) {
    std::vector<uint8_t> changed = data;
    changed[at] ^= 1;
    builder::ContentHash h;
    h.update(changed.data(), changed.size());
    EXPECT_NE(h.digest(), whole.digest()) << at;
  }
  for (size_t length : {999u, 968u}) {
    builder::ContentHash h;
    h.update(data.data(), length);
    EXPECT_NE(h.digest(), whole.digest()) << length;
  }
}

TEST(FindDuplicates, SizeThenHashThenBytes) {
  const std::vector<uint8_t> dll = testdata::executable(70000, 1);
  std::vector<uint8_t> late_change = dll;  // alike in the first 64 KiB, not after
  late_change[69000] ^= 0xFF;
  std::vector<uint8_t> early_change = dll;
  early_change[10] ^= 0xFF;
  const std::vector<SourceEntry> entries = {
      folder("a"),
      file("a\\x.dll", dll),        // 1
      file("a\\empty1", {}),        // 2
      file("b.dll", late_change),   // 3
      file("c.dll", dll),           // 4
      file("d.dll", early_change),  // 5
      file("e.txt", {'h', 'i'}),    // 6
      file("f.txt", {'h', 'o'}),    // 7 same size, other bytes
      file("empty2", {}),           // 8
      file("g.dll", dll),           // 9
      file("h.txt", {'h', 'o'}),    // 10
  };
  std::vector<size_t> same_as;
  std::string error;
  ASSERT_TRUE(builder::find_duplicates(entries, &same_as, &error)) << error;
  const std::vector<size_t> expected = {0, 1, 2, 3, 1, 5, 6, 7, 2, 1, 7};
  EXPECT_EQ(same_as, expected);
}

TEST(FindDuplicates, AnUnreadableCandidateIsNamed) {
  SourceEntry a = file("a", {}), b = file("b", {});
  a.path = "/nonexistent/zarpex/a";
  a.size = 5;
  b.path = "/nonexistent/zarpex/b";
  b.size = 5;
  std::vector<size_t> same_as;
  std::string error;
  EXPECT_FALSE(builder::find_duplicates({a, b}, &same_as, &error));
  EXPECT_NE(error.find("/nonexistent/zarpex/a: cannot read"), std::string::npos) << error;
}

// A file present three times in three folders, an identical empty file, and identical
// files with other attributes and times.
std::vector<SourceEntry> payload_with_copies() {
  const std::vector<uint8_t> runtime = testdata::executable(60000, 3);
  const std::vector<uint8_t> licence = testdata::text(5000, 4);
  std::vector<SourceEntry> entries = {folder("bin"),
                                      file("bin\\runtime.dll", runtime),
                                      file("bin\\licence.txt", licence),
                                      file("bin\\empty.log", {}),
                                      folder("lib"),
                                      file("lib\\runtime.dll", runtime),
                                      file("lib\\other.txt", testdata::text(3000, 5)),
                                      folder("tools"),
                                      file("tools\\runtime.dll", runtime),
                                      file("tools\\LICENCE", licence),
                                      file("tools\\empty.log", {})};
  entries[9].attributes = 0x21;  // read-only
  entries[9].write_date = 0x5821;
  entries[9].write_time = 0x1234;
  entries[9].creation_date = 0x4821;
  entries[2].write_date = 0x3021;
  return entries;
}

const model::Entry* find(const model::Archive& a, const std::string& name) {
  for (const model::Entry& e : a.entries)
    if (e.name == name) return &e;
  return nullptr;
}

TEST(Dedupe, EveryCopyNamesOneMemberAndKeepsItsOwnRecord) {
  const std::vector<SourceEntry> original = payload_with_copies();
  for (int level : {0, 1, 7, 9}) {
    SCOPED_TRACE(level);
    const std::vector<uint8_t> bytes = testdata::pack(original, level);
    builder::PackOptions separate;
    separate.level = level;
    separate.dedupe = false;
    EXPECT_LT(bytes.size(), testdata::pack(original, separate).size());
    model::Archive a;
    ASSERT_EQ(model::read_archive(bytes, &a), "");
    ASSERT_EQ(a.entries.size(), original.size());
    if (level == 0) {
      for (const model::BlockInfo& b : a.stream_blocks) EXPECT_EQ(b.type, 0u);  // all stored
    }
    for (const SourceEntry& o : original) {
      const model::Entry* e = find(a, o.name);
      ASSERT_NE(e, nullptr) << o.name;
      EXPECT_EQ(e->attributes, o.attributes) << o.name;
      EXPECT_EQ(e->write_date, o.write_date) << o.name;
      EXPECT_EQ(e->write_time, o.write_time) << o.name;
      EXPECT_EQ(e->creation_date, o.creation_date) << o.name;
      if (!o.folder) {
        EXPECT_TRUE(e->contents == o.contents) << o.name;
      }
    }
    auto same_member = [&](const char* x, const char* y) {
      return find(a, x)->stream_offset == find(a, y)->stream_offset &&
             find(a, x)->stream_position == find(a, y)->stream_position;
    };
    EXPECT_TRUE(same_member("bin\\runtime.dll", "lib\\runtime.dll"));
    EXPECT_TRUE(same_member("bin\\runtime.dll", "tools\\runtime.dll"));
    EXPECT_TRUE(same_member("bin\\licence.txt", "tools\\LICENCE"));
    EXPECT_TRUE(same_member("bin\\empty.log", "tools\\empty.log"));
    EXPECT_FALSE(same_member("bin\\licence.txt", "lib\\other.txt"));
    // Folders first, then the entries of one member one after the other.
    std::vector<std::string> names;
    for (const model::Entry& e : a.entries) names.push_back(e.name);
    const std::vector<std::string> expected = {"bin",
                                               "lib",
                                               "tools",
                                               "bin\\runtime.dll",
                                               "lib\\runtime.dll",
                                               "tools\\runtime.dll",
                                               "bin\\licence.txt",
                                               "tools\\LICENCE",
                                               "bin\\empty.log",
                                               "tools\\empty.log",
                                               "lib\\other.txt"};
    EXPECT_EQ(names, expected);
  }
}

TEST(Dedupe, WithoutCopiesTheArchiveIsTheSameAsWithoutDedupe) {
  std::vector<SourceEntry> entries = payload_with_copies();
  entries.erase(entries.begin() + 8, entries.end());  // tools and its copies
  entries.erase(entries.begin() + 5);                 // lib\runtime.dll
  builder::PackOptions separate;
  separate.dedupe = false;
  EXPECT_TRUE(testdata::pack(entries, 7) == testdata::pack(entries, separate));
}

TEST(Dedupe, SharedMembersLieInOneBlockOrInAStreamOfTheirOwn) {
  // Blocks of 20,000 bytes: the 9,000-byte file would cross a block's end at its first
  // place, the 50,000-byte one cannot fit any block.
  const std::vector<uint8_t> small = testdata::text(9000, 6);
  const std::vector<uint8_t> large = testdata::executable(50000, 7);
  std::vector<SourceEntry> entries = {
      file("a.txt", testdata::text(15000, 8)), file("b.txt", small), file("big1.dll", large),
      file("c.txt", testdata::text(7000, 9)),  file("d.txt", small), file("big2.dll", large)};
  builder::ArchiveLayout layout;
  builder::LayoutOptions options;
  options.block_size = 20000;
  std::string error;
  ASSERT_TRUE(builder::plan_archive(entries, options, &layout, &error)) << error;
  ASSERT_EQ(layout.streams.size(), 2u);
  const builder::MemberPlan& shared = layout.members[layout.member_of[1]];
  EXPECT_EQ(shared.entries, 2u);
  EXPECT_EQ(shared.stream, 0u);
  const std::vector<uint32_t>& starts = layout.streams[0].starts;
  auto block = std::upper_bound(starts.begin(), starts.end(), shared.position) - 1;
  EXPECT_EQ(*block, shared.position);  // a block begins at it
  EXPECT_EQ(layout.members[layout.member_of[2]].stream, 1u);
  EXPECT_EQ(layout.member_of[2], layout.member_of[5]);
  EXPECT_EQ(layout.streams[1].starts, (std::vector<uint32_t>{0, 20000, 40000}));
  const std::vector<size_t> order = {0, 1, 4, 3, 2, 5};
  EXPECT_EQ(layout.order, order);

  for (uint32_t threads : {1u, 2u}) {
    const std::vector<uint8_t> bytes = testdata::pack(entries, 7, 20000, threads);
    model::Archive a;
    ASSERT_EQ(model::read_archive(bytes, &a), "");
    for (size_t k = 0; k < order.size(); ++k) {
      EXPECT_EQ(a.entries[k].name, entries[order[k]].name);
      EXPECT_TRUE(a.entries[k].contents == entries[order[k]].contents) << entries[order[k]].name;
    }
  }
}

TEST(Incompressible, RandomPiecesArePassedByUnlessRepeated) {
  // A block of text, random bytes, text again; random bytes that a later piece repeats
  // stay searchable as a match's source.
  std::vector<uint8_t> data = testdata::text(100000, 1);
  const std::vector<uint8_t> noise = testdata::random_bytes(100000, 2);
  const std::vector<uint8_t> more = testdata::random_bytes(40000, 3);
  data.insert(data.end(), noise.begin(), noise.end());
  const uint32_t repeated_at = static_cast<uint32_t>(data.size());
  data.insert(data.end(), more.begin(), more.end());
  const std::vector<uint8_t> text = testdata::text(50000, 4);
  data.insert(data.end(), text.begin(), text.end());
  data.insert(data.end(), more.begin(), more.begin() + 30000);
  const uint32_t history = 16384 * 3;
  const uint32_t size = static_cast<uint32_t>(data.size());
  const std::vector<builder::SkipRange> ranges =
      builder::find_incompressible(data.data(), history, size);
  ASSERT_FALSE(ranges.empty());
  for (const builder::SkipRange& r : ranges) {
    EXPECT_EQ((r.begin - history) % builder::kEstimatePiece, 0u);
    EXPECT_GE(r.begin, 100000u - builder::kEstimatePiece);
    EXPECT_LE(r.end, repeated_at + builder::kEstimatePiece);
  }
  EXPECT_TRUE(builder::covered(ranges, 100000 + 16384, 200000 - 16384));
  EXPECT_FALSE(builder::covered(ranges, repeated_at + 16384, repeated_at + 32768));
  EXPECT_TRUE(builder::find_incompressible(text.data(), 0, 50000).empty());
}

}  // namespace

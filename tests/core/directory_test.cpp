#include "archive/directory.h"

#include <gtest/gtest.h>

#include "support/directory_fixture.h"

namespace {

// The first record of an archive as written, in hex.
const Bytes kExampleRecord = {0x5a, 0x20, 0x00, 0x00, 0x2a, 0x00, 0x00, 0x00, 0x20, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x87, 0x01, 0x00, 0x00,
                              0x55, 0xf2, 0xda, 0xaf, 0x00, 0x00, 0x0a, 0x00, 0x26, 0xb0,
                              0x49, 0x28, 0xf1, 0x98, 0x26, 0x29, 0x1c, 0x9d};

TEST_F(DirectoryTest, ExampleRecordAndOneCompressedBlock) {
  Bytes decoded = kExampleRecord;
  append(decoded, text_bytes("README.TXT"));
  for (int i = 0; i < 4; ++i)
    append(decoded, record(42, 500 + i, 10 * i, "file" + std::to_string(i) + ".dat"));
  open_directory(Bytes(42, 0), directory_block(decoded, false));

  EntryRecord e;
  std::string name;
  ASSERT_EQ(next(e, name), kResultOk);
  EXPECT_EQ(e.stream_offset, 42u);
  EXPECT_EQ(e.attributes, 0x20);
  EXPECT_EQ(e.short_extra_length, 0);
  EXPECT_EQ(e.flags, 0);
  EXPECT_EQ(e.stream_position, 0u);
  EXPECT_EQ(e.size, 391u);
  EXPECT_EQ(e.crc, 0xAFDAF255u);
  EXPECT_EQ(e.extra_length, 0);
  EXPECT_EQ(e.name_length, 10);
  EXPECT_EQ(e.creation_time, 0xB026);
  EXPECT_EQ(e.creation_date, 0x2849);
  EXPECT_EQ(e.write_time, 0x98F1);
  EXPECT_EQ(e.write_date, 0x2926);
  EXPECT_EQ(name, "README.TXT");
  // One read took the whole directory; the position ends at the end of the file.
  EXPECT_EQ(archive_reader.directory_position, file_size_);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(next(e, name), kResultOk);
    EXPECT_EQ(name, "file" + std::to_string(i) + ".dat");
    EXPECT_EQ(e.stream_position, 500u + i);
  }
  // No further block: the signature read finds the end of the file.
  EXPECT_EQ(next(e, name), kResultDamaged);
}

TEST_F(DirectoryTest, StoredBlocksPaddingAndSkippedBytes) {
  // Block 1 (stored): an entry with 3 + 2 skipped bytes, then 20 bytes of padding.
  Bytes first = record(0, 0, 1, "a.txt", 3, 2);
  append(first, Bytes(20, 0));
  // Block 2 (compressed): two entries.
  Bytes second = record(0, 7, 2, "b.txt");
  append(second, record(0, 9, 3, "c\\d.txt"));
  Bytes dir = directory_block(first, true);
  append(dir, directory_block(second, false));
  open_directory(Bytes(10, 1), dir);

  EntryRecord e;
  std::string name;
  const char* names[] = {"a.txt", "b.txt", "c\\d.txt"};
  for (const char* n : names) {
    ASSERT_EQ(next(e, name), kResultOk) << n;
    EXPECT_EQ(name, n);
  }
  EXPECT_EQ(archive_reader.directory_position, file_size_);
}

TEST_F(DirectoryTest, DamagedBlocks) {
  const Bytes good = record(0, 0, 1, "a");
  struct Case {
    const char* what;
    Bytes directory;
  };
  std::vector<Case> cases;
  {
    Bytes d = directory_block(good, true);
    d[5] = 'X';
    cases.push_back({"signature without its NUL", d});
  }
  for (unsigned type = 2; type <= 15; ++type) {
    Bytes d = directory_block(good, true);
    d[6] = uint8_t((d[6] & 0xF0) | type);
    cases.push_back({"block type above 1", d});
  }
  {
    // Decoded length of 8,193: more than the staging area holds.
    ChunkSpec chunk_spec;
    chunk_spec.type = 0;
    chunk_spec.size = format::kEntryStagingSize + 1;
    Bytes d = signature();
    append(d, make_chunk(chunk_spec, [](BitWriter& w) {
             w.align();
             for (uint32_t i = 0; i < format::kEntryStagingSize + 1; ++i) w.put(0x41, 8);
           }));
    cases.push_back({"decoded length above the staging area", d});
  }
  cases.push_back({"fewer than 38 bytes in the block",
                   directory_block(Bytes(good.begin(), good.begin() + 37), true)});
  {
    Bytes d = good;
    d[26] = 2;  // name length 2, one byte there
    cases.push_back({"name past the decoded bytes", directory_block(d, true)});
  }
  cases.push_back({"block cut short after its signature", signature()});
  for (const auto& c : cases) {
    SetUp();
    open_directory({}, c.directory);
    EntryRecord e;
    std::string name;
    EXPECT_EQ(next(e, name), kResultDamaged) << c.what;
    // Nothing was written past the staging area.
    for (size_t i = format::kEntryStagingSize; i < staging_.size(); ++i)
      ASSERT_EQ(staging_[i], 0x5E) << c.what;
    TearDown();
  }
  SetUp();
}

TEST_F(DirectoryTest, DecoderSeesOnlyTheBytesRead) {
  // The block's header claims 200 decoded bytes, its data hold 100 literals; earlier
  // bytes left in the input buffer behind them must not be decoded.
  // Six 9-bit literals (bytes of 244 and above) end the data on a byte boundary.
  Bytes decoded = record(0, 0, 1, std::string(56, 'n') + std::string(6, '\xF5'));
  ASSERT_EQ(decoded.size(), 100u);
  ChunkSpec chunk_spec;
  chunk_spec.size = 200;
  Bytes dir = signature();
  append(dir, make_chunk(chunk_spec, [&](BitWriter& w) {
           BlockEncoder e(w, 2, {});
           for (uint8_t b : decoded) e.literal(b);
         }));
  std::fill(input_.begin(), input_.end(), 0x00);  // stale bytes: each decodes as a literal
  open_directory({}, dir);
  ASSERT_EQ(read_directory_block(staging_.data()), kResultOk);
  EXPECT_EQ(archive_reader.entry_end_pointer - staging_.data(), 100);
}

TEST_F(DirectoryTest, BlockThatNeedsBytesNotReadIsDamage) {
  // The directory ends the file. Cut one or two bytes off, and the last symbols of its
  // block would be decoded from the zeros behind the bytes read.
  Bytes decoded = record(0, 0, 1, "first.txt");
  append(decoded, record(0, 20, 2, "second.txt"));
  const Bytes whole = directory_block(decoded, false);
  for (size_t cut : {0, 1, 2}) {
    SCOPED_TRACE("bytes cut off: " + std::to_string(cut));
    SetUp();
    open_directory(Bytes(42, 0), Bytes(whole.begin(), whole.end() - long(cut)));
    const ResultCode rc = read_directory_block(staging_.data());
    if (cut == 0) {
      ASSERT_EQ(rc, kResultOk);
      EXPECT_EQ(archive_reader.entry_end_pointer - staging_.data(), long(decoded.size()));
      EXPECT_EQ(archive_reader.directory_position, file_size_);
    } else {
      EXPECT_EQ(rc, kResultDamaged);
    }
    TearDown();
  }
  SetUp();
}

TEST_F(DirectoryTest, SkippedBytesPastTheEndAreDamageAtTheNextEntry) {
  Bytes d = record(0, 0, 1, "a", 0, 0);
  d[24] = 50;  // 50 skipped bytes, none there
  append(d, Bytes(38, 0));
  d.resize(38 + 1 + 20);
  open_directory({}, directory_block(d, true));
  EntryRecord e;
  std::string name;
  ASSERT_EQ(next(e, name), kResultOk);
  EXPECT_EQ(next(e, name), kResultDamaged);
}

}  // namespace

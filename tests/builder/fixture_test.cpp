// Small archives kept in tests/fixtures, written by an earlier build of the packer. The
// installer's engine must keep reading them, and the packer of today must still write
// what the engine and the strict model reader accept for the same inputs.
//
// To write them anew: ZARPEX_WRITE_FIXTURES=1 builder_tests --gtest_filter='Fixture*'
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "archive/directory.h"
#include "builder/archive_writer.h"
#include "codec/block_stream.h"
#include "model_reader.h"
#include "packing.h"
#include "support/reader_fixture.h"
#include "test_data.h"

namespace {

using builder::SourceEntry;

struct Fixture {
  const char* file;
  int level;
  uint32_t block_size;
};
const Fixture kFixtures[] = {
    {"small-level1.zpx", 1, 0},
    {"small-level9-blocks.zpx", 9, 1500},
};

std::vector<SourceEntry> fixture_entries() {
  std::vector<SourceEntry> v;
  SourceEntry folder;
  folder.name = "docs";
  folder.folder = true;
  folder.attributes = 0x10;
  v.push_back(folder);
  auto add = [&](const std::string& name, std::vector<uint8_t> contents, uint16_t attributes) {
    SourceEntry e;
    e.name = name;
    e.contents = std::move(contents);
    e.attributes = attributes;
    e.write_date = 0x2926;
    e.write_time = 0x98F1;
    e.creation_date = 0x2849;
    e.creation_time = 0xB026;
    v.push_back(e);
  };
  add("docs\\readme.txt", testdata::text(3000, 1), 0x21);
  add("docs\\empty.txt", {}, 0x20);
  add("Zarpex32.exe", testdata::executable(5000, 2), 0x20);
  add("noise.bin", testdata::random_bytes(700, 3), 0x26);
  return v;
}

std::string fixture_path(const char* file) {
  return std::string(ZARPEX_SOURCE_DIR) + "/tests/fixtures/" + file;
}

std::vector<uint8_t> pack(const Fixture& f) {
  return testdata::pack(fixture_entries(), f.level, f.block_size);
}

class FixtureTest : public ReaderTest {
 protected:
  // Reads every entry with the engine; checks names, attributes and contents.
  void read_with_engine(const std::vector<uint8_t>& bytes) {
    const std::vector<SourceEntry> expected = fixture_entries();
    open_archive(bytes);
    uint32_t directory_offset;
    std::memcpy(&directory_offset, &bytes[4], 4);
    archive_reader.directory_position = directory_offset;
    std::vector<uint8_t> staging(format::kEntryStagingSize);
    archive_reader.entry_read_pointer = archive_reader.entry_end_pointer = staging.data();
    for (const SourceEntry& want : expected) {
      EntryRecord r;
      const uint8_t* name;
      ASSERT_EQ(parse_next_entry(staging.data(), &r, &name), kResultOk);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), r.name_length), want.name);
      EXPECT_EQ(r.attributes, want.attributes);
      if (want.folder) continue;
      EXPECT_EQ(r.write_date, want.write_date);
      const std::string out = dir_ + "/out";
      const int fd = ::open(out.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
      ASSERT_EQ(extract_stream(fd, r.stream_offset, r.stream_position, r.size, r.flags), kResultOk);
      ::close(fd);
      EXPECT_EQ(archive_reader.running_crc, r.crc);
      EXPECT_TRUE(read_file(out) == want.contents) << want.name;
    }
  }
};

TEST_F(FixtureTest, KeptArchivesStillReadAndTodaysWriterStillAgrees) {
  const bool rewrite = std::getenv("ZARPEX_WRITE_FIXTURES") != nullptr;
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    const std::vector<uint8_t> fresh = pack(f);
    if (rewrite) {
      std::ofstream(fixture_path(f.file), std::ios::binary)
          .write(reinterpret_cast<const char*>(fresh.data()),
                 static_cast<std::streamsize>(fresh.size()));
    }
    std::ifstream in(fixture_path(f.file), std::ios::binary);
    ASSERT_TRUE(in) << "missing fixture";
    const std::vector<uint8_t> kept((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    read_with_engine(kept);
    read_with_engine(fresh);
    model::Archive a;
    EXPECT_EQ(model::read_archive(kept, &a), "");
    model::Archive b;
    EXPECT_EQ(model::read_archive(fresh, &b), "");
  }
}

}  // namespace

#include "codec/chunk_input.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "support/block_stream_fixture.h"
#include "support/directory_fixture.h"

namespace {

// The chunk input as the block stream and the directory reader drive it.
class ChunkInputStream : public BlockStreamTest {};
class ChunkInputParked : public DirectoryTest {};

// Carry-over across fills: the look-ahead bytes a fill could not yet start in, and
// stored blocks read past the buffer, with the next chunk found right behind them.
TEST_F(ChunkInputStream, ChunksLongerThanOneFillAndStoredBlocksReadPastTheBuffer) {
  // 70,000 bytes in one compressed chunk (several fills; 9-bit literals keep symbols
  // off byte boundaries), then a stored block longer than one fill, then a compressed
  // block behind it that must be found right behind the stored bytes.
  std::vector<Member> members = {
      {"big", pattern(70000, 3)}, {"stored", pattern(80000, 4)}, {"tail", pattern(500, 5)}};
  for (auto& b : members[0].contents) b = uint8_t(b | 0xF0);
  const Bytes stream = layout(members);
  const size_t cut1 = members[1].position + 20, cut2 = members[2].position + 7;
  open_stream({literal_chunk(Bytes(stream.begin(), stream.begin() + long(cut1)), false),
               stored_chunk(Bytes(stream.begin() + long(cut1), stream.begin() + long(cut2)), false),
               literal_chunk(Bytes(stream.begin() + long(cut2), stream.end()), true)});
  for (const auto& m : members) {
    ASSERT_EQ(extract(m), kResultOk) << m.name;
    EXPECT_EQ(out_, m.contents) << m.name;
  }
}

// Park and resume: a directory block read between two entries of one stream takes the
// input buffer and the file, and the stream goes on from the byte it stood at.
TEST_F(ChunkInputParked, DirectoryReadBetweenTwoEntriesOfOneStream) {
  // A stream of three members in three chunks; the directory's second block is read
  // between the first and second member, while the stream stands inside its data.
  std::vector<std::pair<std::string, Bytes>> members = {
      {"one", text_bytes(std::string(300, 'x') + "one")},
      {"two", text_bytes("second member " + std::string(200, 'y'))},
      {"three", text_bytes("third")}};
  Bytes stream;
  std::vector<uint32_t> positions;
  for (const auto& m : members) {
    positions.push_back(uint32_t(stream.size()));
    append(stream, member_bytes(m.first, m.second));
  }
  // Chunk boundaries inside the members.
  const size_t cut1 = positions[1] + 5, cut2 = positions[2] + 3;
  Bytes file = text_bytes(std::string("ZPXLH") + '\0');
  Bytes b1(stream.begin(), stream.begin() + long(cut1));
  // The first chunk's length claims 30 bytes of the next chunk as well: those are loaded
  // with it, and the next chunk is found by going back over them.
  Bytes c1 = literal_chunk(b1, false);
  ChunkSpec chunk_spec;
  chunk_spec.size = uint32_t(b1.size());
  chunk_spec.length_override = int32_t(c1.size() + 30);
  append(file, make_chunk(chunk_spec, [&](BitWriter& w) {
           BlockEncoder enc(w, 2, {});
           for (uint8_t b : b1) enc.literal(b);
         }));
  append(file,
         stored_chunk(Bytes(stream.begin() + long(cut1), stream.begin() + long(cut2)), false));
  append(file, literal_chunk(Bytes(stream.begin() + long(cut2), stream.end()), true));

  Bytes first = record(0, positions[0], uint32_t(members[0].second.size()), "one");
  append(first, Bytes(5, 0));
  Bytes second = record(0, positions[1], uint32_t(members[1].second.size()), "two");
  append(second, record(0, positions[2], uint32_t(members[2].second.size()), "three"));
  Bytes dir = directory_block(first, false);
  append(dir, directory_block(second, false));
  open_directory(file, dir);
  archive_reader.archive_base = 0;

  EntryRecord e;
  std::string name;
  for (size_t i = 0; i < members.size(); ++i) {
    ASSERT_EQ(next(e, name), kResultOk);
    ASSERT_EQ(name, members[i].first);
    ASSERT_EQ(extract_stream(kNoFile, e.stream_offset, e.stream_position, e.size, 0), kResultOk)
        << name;
    EXPECT_EQ(archive_reader.running_crc, reference_crc(members[i].second)) << name;
  }
}

}  // namespace

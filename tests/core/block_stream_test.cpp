#include "codec/block_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <unordered_map>

#include "codec/block_stream_internal.h"
#include "codec/output_filter.h"
#include "support/block_stream_fixture.h"

namespace {

TEST_F(BlockStreamTest, MembersOfOneStreamAcrossBlockBoundaries) {
  // Block size 7 puts member headers and names across block boundaries; one name is
  // empty; one member is empty.
  std::vector<Member> members = {{"first.txt", text_bytes("alpha beta gamma")},
                                 {"", text_bytes("no name here")},
                                 {"sub\\third.bin", pattern(300, 1)},
                                 {"empty", {}},
                                 {"fifth", pattern(41, 2)}};
  const Bytes stream = layout(members);
  for (size_t step : {size_t(7), size_t(11), size_t(64), stream.size()}) {
    open_stream(literal_chunks(stream, step));
    archive_reader.stream_start = -1;
    for (const auto& m : members) {
      ASSERT_EQ(extract(m), kResultOk) << m.name << " step " << step;
      EXPECT_EQ(out_, m.contents) << m.name << " step " << step;
      EXPECT_EQ(archive_reader.running_crc, reference_crc(m.contents)) << m.name;
    }
    // Out of order: an earlier member restarts the stream from its first chunk.
    ASSERT_EQ(extract(members[0]), kResultOk);
    EXPECT_EQ(out_, members[0].contents);
    // kNoFile decodes and counts without writing.
    ASSERT_EQ(extract_stream(kNoFile, 0, members[2].position, 300, 0), kResultOk);
    EXPECT_EQ(archive_reader.running_crc, reference_crc(members[2].contents));
  }
}

TEST_F(BlockStreamTest, ReadStreamGivesTheBytesAsTheyLieToTheStreamsEnd) {
  std::vector<Member> members = {{"one", text_bytes("alpha")}, {"sub\\two", pattern(90, 3)}};
  const Bytes stream = layout(members);
  for (size_t step : {size_t(5), size_t(64), stream.size()}) {
    open_stream(literal_chunks(stream, step));
    archive_reader.stream_start = -1;
    // Headers and names too, across block boundaries, from any position on.
    for (uint32_t at : {0u, uint32_t(members[1].position), uint32_t(stream.size() - 3)}) {
      Bytes got(stream.size() - at);
      ASSERT_EQ(read_stream(0, at, got.data(), uint32_t(got.size())), ResultCode(got.size()))
          << at << " step " << step;
      EXPECT_EQ(got, Bytes(stream.begin() + at, stream.end())) << at << " step " << step;
    }
    // Past the end: what there is, then nothing; an extraction still works afterwards.
    Bytes tail(10);
    EXPECT_EQ(read_stream(0, uint32_t(stream.size() - 4), tail.data(), 10), 4);
    EXPECT_EQ(read_stream(0, uint32_t(stream.size()), tail.data(), 10), 0);
    ASSERT_EQ(extract(members[0]), kResultOk);
    EXPECT_EQ(out_, members[0].contents);
  }
}

TEST_F(BlockStreamTest, EntriesInStreamOrderDecodeEachBlockOnce) {
  std::vector<Member> members = {
      {"a", pattern(100, 14)}, {"b", pattern(100, 15)}, {"c", pattern(100, 16)}};
  const std::vector<Bytes> chunks = literal_chunks(layout(members), 60);
  open_stream(chunks);
  ASSERT_EQ(extract(members[0]), kResultOk);
  // Wreck the chunks already decoded: the later entries continue from the blocks held
  // and the chunks behind them, never going back to the stream's start.
  {
    std::fstream f(dir_ + "/archive.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(5 + 6);
    const std::string junk(chunks[0].size() + chunks[1].size(), '\xFF');
    f.write(junk.data(), std::streamsize(junk.size()));
  }
  for (size_t i = 1; i < members.size(); ++i) {
    ASSERT_EQ(extract(members[i]), kResultOk) << i;
    EXPECT_EQ(out_, members[i].contents) << i;
  }
}

TEST_F(BlockStreamTest, StoredBlockKeepsTheWholeWindowOfEarlierOutput) {
  // Block 1 compressed (1,000 bytes), block 2 stored (800 bytes, more than the 512 bytes
  // of slack), block 3 copies from block 1 across the stored bytes.
  const Bytes first = pattern(1000, 6), stored = pattern(800, 7);
  ChunkSpec chunk_spec;
  chunk_spec.size = 40;
  chunk_spec.last = true;
  chunk_spec.selector = 4;  // 65,536 bytes of window
  const Bytes third = make_chunk(chunk_spec, [](BitWriter& w) {
    BlockEncoder e(w, 2, {standard_set(2)});
    e.match(40, 1790);
  });
  Bytes head = member_bytes("", {});
  head.resize(11);  // the member header alone; its contents follow in the next blocks
  open_stream({literal_chunk(head, false), literal_chunk(first, false), stored_chunk(stored, false),
               third});
  Member m{"w", {}};
  m.contents.assign(first.begin() + 10, first.begin() + 50);
  m.position = 11 + 1000 + 800;
  Member whole{"w", Bytes(first)};
  append(whole.contents, stored);
  append(whole.contents, m.contents);
  whole.position = 0;
  ASSERT_EQ(extract(whole), kResultOk);
  EXPECT_EQ(out_, whole.contents);
}

TEST_F(BlockStreamTest, WindowSelectorLimitsTheHistory) {
  struct Case {
    unsigned selector;
    uint32_t window;
  } cases[] = {{0, 32768}, {3, 32768}, {4, 65536}, {30, 524288}, {6, 131072}, {29, 196608}};
  for (const auto& c : cases) EXPECT_EQ(format::window_size(c.selector), c.window) << c.selector;

  // A match 40,000 bytes back: dropped under a 32,768-byte window, copied under 65,536.
  for (const auto& c : {Case{3, 32768}, Case{4, 65536}}) {
    const Bytes first = pattern(50000, 8);
    Bytes head = member_bytes("", {});
    head.resize(11);
    append(head, first);
    ChunkSpec chunk_spec;
    chunk_spec.size = 4;
    chunk_spec.last = true;
    chunk_spec.selector = c.selector;
    const Bytes second = make_chunk(chunk_spec, [](BitWriter& w) {
      BlockEncoder e(w, 2, {standard_set(2)});
      e.match(4, 40000);
      e.literals("end!");
    });
    open_stream({literal_chunk(head, false), second});
    archive_reader.stream_start = -1;
    // One member: its header, the 50,000 bytes, then the second block's 4 bytes.
    Member m{"", first};
    const Bytes reached(first.end() - 40000, first.end() - 40000 + 4);
    append(m.contents, c.window > 40000 ? reached : text_bytes("end!"));
    ASSERT_EQ(extract(m), kResultOk) << c.selector;
    EXPECT_EQ(out_, m.contents) << c.selector;
  }
}

// Encodes data as one compressed block of three table sets, greedily: the longest match (3
// or more) at a few distances (the remembered ones first), literals otherwise, a switch to the next
// set after some thousand symbols. Matches run up to the longest length, across any point of the
// output.
Bytes matching_chunk(const Bytes& data) {
  ChunkSpec s;
  s.size = uint32_t(data.size());
  s.last = true;
  return make_chunk(s, [&](BitWriter& w) {
    BlockEncoder e(w, 2, {standard_set(2, 0), standard_set(2, 5), standard_set(2, 9)});
    uint32_t last = 0, previous = 0;
    size_t symbols = 0;
    std::unordered_map<uint32_t, size_t> last_seen;
    auto length_at = [&](size_t at, uint32_t d) -> uint32_t {
      if (d == 0 || d > at) return 0;
      uint32_t n = 0;
      while (at + n < data.size() && n < format::kMaxMatchLength &&
             data[at + n] == data[at + n - d])
        ++n;
      return n;
    };
    for (size_t at = 0; at < data.size();) {
      if (++symbols % 9000 == 0 && symbols <= 18000) e.switch_set();  // to each later set
      // The remembered distances, a run, the last place of these three bytes.
      uint32_t candidates[] = {last, previous, 1, 0};
      if (at + 3 <= data.size()) {
        const uint32_t key = data[at] | data[at + 1] << 8 | data[at + 2] << 16;
        const auto seen = last_seen.find(key);
        if (seen != last_seen.end()) candidates[3] = uint32_t(at - seen->second);
      }
      uint32_t best = 0, best_length = 2;  // length 2 reaches few distances
      for (uint32_t d : candidates) {
        const uint32_t n = length_at(at, d);
        if (n > best_length) best = d, best_length = n;
      }
      const size_t step = best == 0 ? 1 : best_length;
      for (size_t i = at; i < at + step && i + 3 <= data.size(); ++i)
        last_seen[data[i] | data[i + 1] << 8 | data[i + 2] << 16] = i;
      if (best == 0) {
        e.literal(data[at++]);
        continue;
      }
      if (best == last) {
        e.match_symbol(best_length, format::kDistanceRepeatLast);
      } else if (best == previous) {
        e.match_symbol(best_length, format::kDistanceRepeatPrevious);
        previous = last;
        last = best;
      } else {
        e.match(best_length, best);
        if (best >= format::kFirstCodedDistance - 1) previous = last, last = best;
      }
      at += best_length;
    }
    e.finish();
  });
}

TEST_F(BlockStreamTest, LargeBlockOfMatchesAndSetSwitches) {
  // Several hundred KB in one block: long runs and matches up to the longest length,
  // remembered distances and set switches fall anywhere, members begin and end inside
  // matches. The executable-like member carries call opcodes all along; with the filter
  // it must come out as one run of the whole member.
  Bytes runs;
  for (uint32_t i = 0; runs.size() < 100000; ++i)
    runs.insert(runs.end(), 3000 + i * 4111 % 40000, uint8_t(i));
  Bytes text;
  const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "ab "};
  for (uint32_t i = 0; text.size() < 150000; ++i)
    append(text, text_bytes(words[(i * 7 + i / 13) % 5]));
  Bytes code = pattern(70000, 21);
  // Calls whose operands lie inside the file: the filter changes them.
  for (size_t i = 0; i + 5 < code.size(); i += 37) {
    code[i] = 0xE8;
    code[i + 1] = uint8_t(i);
    code[i + 2] = uint8_t(i >> 8);
    code[i + 3] = code[i + 4] = 0;
  }
  const Bytes first(code.begin(), code.begin() + 50000);
  append(code, first);
  code[90000] ^= 0x5A;  // a literal inside the long match
  std::vector<Member> members = {
      {"runs", runs}, {"text.txt", text}, {"code.exe", code}, {"tail", pattern(999, 22)}};
  const Bytes stream = layout(members);
  const Bytes chunk = matching_chunk(stream);
  ASSERT_LT(chunk.size(), stream.size() / 3);  // the matches were found

  // The filter's own result on the member as one run.
  Bytes filtered;
  {
    const std::string path = dir_ + "/filtered";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    archive_reader.filter_width = 4;
    archive_reader.running_crc = 0xFFFFFFFFu;
    ASSERT_EQ(filter_output_run(fd, code.data(), uint32_t(code.size()), 0, uint32_t(code.size())),
              kResultOk);
    close(fd);
    filtered = read_file(path);
    ASSERT_NE(filtered, code);
  }

  struct Case {
    const char* what;
    std::vector<size_t> order;  // members extracted one after another
    uint8_t code_flags;
  } cases[] = {
      {"in stream order", {0, 1, 2, 3}, 0},
      {"in stream order, filtered", {0, 1, 2, 3}, format::kFlagCall32},
      {"filtered first", {2, 3}, format::kFlagCall32},
      {"back and forth", {3, 1, 0, 2, 2, 1}, 0},
      {"one in the middle", {1}, 0},
  };
  for (const auto& c : cases) {
    open_stream({chunk});
    archive_reader.stream_start = -1;
    for (size_t i : c.order) {
      const uint8_t flags = i == 2 ? c.code_flags : 0;
      ASSERT_EQ(extract(members[i], flags), kResultOk) << c.what << ": " << members[i].name;
      const Bytes& expected = flags != 0 ? filtered : members[i].contents;
      EXPECT_TRUE(out_ == expected) << c.what << ": " << members[i].name;
      EXPECT_EQ(archive_reader.running_crc, reference_crc(expected))
          << c.what << ": " << members[i].name;
    }
  }
}

TEST_F(BlockStreamTest, StreamEndsShortOrBroken) {
  std::vector<Member> members = {{"a", pattern(40, 9)}, {"b", pattern(40, 10)}};
  const Bytes stream = layout(members);
  // A stored chunk whose file ends early: its block comes out short.
  {
    Bytes short_stored = stored_chunk(stream, false);
    short_stored.resize(7 + 51 + 4 + 10);  // the file ends inside the chunk
    open_stream({short_stored});
    ASSERT_EQ(extract(members[0]), kResultOk);
    EXPECT_EQ(out_, members[0].contents);
    // The second member is cut short: damaged, whatever the CRC of what came out.
    EXPECT_EQ(extract(members[1]), kResultDamaged);
    EXPECT_EQ(out_.size(), 0u);
  }
  {
    // A compressed chunk whose file ends inside it (its length claims 50,000 more bytes):
    // the data end where the file ends, and the block comes out short.
    // Six 9-bit literals make the data end on a byte boundary, so no padding bits are
    // left to decode.
    Bytes part(stream.begin(), stream.begin() + 70);
    for (auto& b : part) b &= 0x7F;
    for (size_t i = 64; i < 70; ++i) part[i] = 0xF5;
    ChunkSpec s;
    s.size = uint32_t(stream.size());
    s.length_override = 50000;
    Member a = members[0];
    for (auto& b : a.contents) b &= 0x7F;
    open_stream({make_chunk(s, [&](BitWriter& w) {
      BlockEncoder e(w, 2, {});
      for (uint8_t b : part) e.literal(b);
    })});
    archive_reader.stream_start = -1;
    ASSERT_EQ(extract(a), kResultOk);
    EXPECT_EQ(out_, a.contents);
    EXPECT_EQ(extract(members[1]), kResultDamaged);
    EXPECT_EQ(out_, Bytes(2, 0xF5));
  }
  {
    // A compressed block whose chunk ends early ends the stream; the last-block state
    // stays, so the garbage chunk behind it is never read (it would be -11).
    ChunkSpec s;
    s.size = uint32_t(stream.size());
    const Bytes part(stream.begin(), stream.begin() + 62);
    Bytes chunk = make_chunk(s, [&](BitWriter& w) {
      BlockEncoder e(w, 2, {});
      for (uint8_t b : part) e.literal(uint8_t(b & 0x7F));
    });
    Member a = members[0];
    for (auto& b : a.contents) b &= 0x7F;
    Bytes garbage(16, 0xFF);
    open_stream({chunk, garbage});
    archive_reader.stream_start = -1;
    ASSERT_EQ(extract(a), kResultOk);
    EXPECT_EQ(extract(members[1]), kResultDamaged);
    EXPECT_EQ(out_.size(), 0u);
    EXPECT_EQ(extract(members[1]), kResultDamaged);
  }
  {
    // A block load that breaks off (type 5) leaves nothing a later entry could take
    // for output: the next entry that needs more gets -11.
    ChunkSpec bad;
    bad.type = 5;
    bad.size = 100;
    open_stream({literal_chunk(Bytes(stream.begin(), stream.begin() + 55), false),
                 make_chunk(bad, [](BitWriter& w) { w.put(0, 64); })});
    archive_reader.stream_start = -1;
    ASSERT_EQ(extract(members[0]), kResultOk);
    EXPECT_EQ(extract(members[1]), kResultDamaged);
    EXPECT_EQ(extract(members[1]), kResultDamaged);
    EXPECT_EQ(archive_reader.block_size, 0u);
  }
}

TEST_F(BlockStreamTest, EmptyEntryTouchesNothing) {
  std::vector<Member> members = {{"a", pattern(30, 11)}};
  open_stream({literal_chunk(layout(members), true)});
  ASSERT_EQ(extract(members[0]), kResultOk);
  const ArchiveReader before = archive_reader;
  EXPECT_EQ(extract_stream(kNoFile, 99, 12345, 0, 4), kResultOk);
  EXPECT_EQ(archive_reader.running_crc, 0u);
  EXPECT_EQ(archive_reader.stream_start, before.stream_start);
  EXPECT_EQ(archive_reader.block_start, before.block_start);
  EXPECT_EQ(archive_reader.cursor, before.cursor);
}

TEST_F(BlockStreamTest, FailuresOfOutputAndCancel) {
  std::vector<Member> members = {{"a", pattern(30, 12)}, {"b", pattern(30, 13)}};
  open_stream({literal_chunk(layout(members), true)});
  const std::string path = write_file("ro", {});
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_EQ(extract_stream(fd, 0, members[0].position, 30, 0), kResultWriteFailed);
  EXPECT_EQ(extract_stream(fd, 0, members[0].position, 30, 4), kResultWriteFailed);
  close(fd);
  install_state.cancel_requested = 1;
  archive_reader.stream_start = -1;
  EXPECT_EQ(extract_stream(kNoFile, 0, members[1].position, 30, 0), kResultCancelled);
}

TEST_F(BlockStreamTest, CallAddressFilterSelectedByFlags) {
  // E8 with operands: flags 4 restores 32-bit operands, 2 16-bit ones (2 wins over 4).
  Bytes stored = {0x90, 0xE8, 0x08, 0x00, 0x00, 0x00, 0x90, 0xE8, 0x00, 0x10, 0x33, 0x44};
  std::vector<Member> members = {{"x.exe", stored}};
  open_stream({literal_chunk(layout(members), true)});
  struct Case {
    uint8_t flags;
    Bytes expected;
  } cases[] = {
      {0, stored},
      // 32-bit: operand at 2 holds 8 (below the size 12): 8 - 2 = 6; at 8 it holds
      // 0x44331000, above the size: unchanged.
      {4, {0x90, 0xE8, 0x06, 0x00, 0x00, 0x00, 0x90, 0xE8, 0x00, 0x10, 0x33, 0x44}},
      // 16-bit: 8 - 2 = 6; the operand at 8: 0x1000 - 8 = 0x0FF8; the tail stays.
      {2, {0x90, 0xE8, 0x06, 0x00, 0x00, 0x00, 0x90, 0xE8, 0xF8, 0x0F, 0x33, 0x44}},
      {6, {0x90, 0xE8, 0x06, 0x00, 0x00, 0x00, 0x90, 0xE8, 0xF8, 0x0F, 0x33, 0x44}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(extract(members[0], c.flags), kResultOk) << int(c.flags);
    EXPECT_EQ(out_, c.expected) << int(c.flags);
    EXPECT_EQ(archive_reader.running_crc, reference_crc(c.expected)) << int(c.flags);
  }
}

}  // namespace

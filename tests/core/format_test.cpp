// The records of the format header: each writer's bytes read back through its reader,
// and the readers against records laid out by hand.
#include "codec/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(FormatTest, EntryRecordAsArchivesHoldIt) {
  // An entry of a real archive: a 391-byte file with its times, at the stream's start.
  const uint8_t bytes[format::kEntrySize] = {
      0x5a, 0x20, 0x00, 0x00, 0x2a, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x87, 0x01, 0x00, 0x00, 0x55, 0xf2, 0xda, 0xaf, 0x00, 0x00,
      0x0a, 0x00, 0x26, 0xb0, 0x49, 0x28, 0xf1, 0x98, 0x26, 0x29, 0x1c, 0x9d};
  EntryRecord e;
  format::read_entry_record(bytes, &e);
  EXPECT_EQ(e.reserved, format::kEntryReservedValue);
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

  uint8_t written[format::kEntrySize];
  format::write_entry_record(written, e);
  EXPECT_EQ(std::memcmp(written, bytes, sizeof bytes), 0);
}

TEST(FormatTest, EveryEntryFieldLandsInItsOwnBytes) {
  // Distinct values in every field: a field written to the wrong offset shows.
  EntryRecord e{0x11121314, 0x21222324, 0x3132, 0x41,   0x51,   0x61626364, 0x71727374, 0x81828384,
                0x9192,     0xA1A2,     0xB1B2, 0xC1C2, 0xD1D2, 0xE1E2,     0xF1F2};
  uint8_t bytes[format::kEntrySize];
  format::write_entry_record(bytes, e);
  EXPECT_EQ(load_le32(bytes + format::kEntryStreamOffset), 0x21222324u);
  EXPECT_EQ(bytes[format::kEntryFlags], 0x51);
  EXPECT_EQ(load_le16(bytes + format::kEntryNameLength), 0xA1A2u);
  EXPECT_EQ(load_le16(bytes + format::kEntryTrailer), 0xF1F2u);
  EntryRecord back;
  format::read_entry_record(bytes, &back);
  EXPECT_EQ(std::memcmp(&back, &e, sizeof e), 0);
}

TEST(FormatTest, ArchiveHeaderWriterAndTheStructAgree) {
  ArchiveHeader h{};
  std::memcpy(h.magic, format::kHeaderMagic, sizeof h.magic);
  h.directory_offset = 0x49585;
  h.entry_count = 5;
  h.archive_length = 0x49650;
  h.data_length = 0x4955B;
  h.trailer = format::kHeaderTrailerValue;
  uint8_t bytes[format::kHeaderSize];
  std::memset(bytes, 0xEE, sizeof bytes);
  format::write_archive_header(bytes, h);
  EXPECT_EQ(std::memcmp(bytes, "ZPX\n", 4), 0);
  EXPECT_EQ(load_le32(bytes + 4), 0x49585u);
  EXPECT_EQ(load_le32(bytes + 8), 5u);
  EXPECT_EQ(load_le32(bytes + 12), 0u);  // reserved fields are written as zero
  EXPECT_EQ(load_le32(bytes + 20), 0x49650u);
  EXPECT_EQ(load_le32(bytes + 24), 0x4955Bu);
  EXPECT_EQ(load_le16(bytes + 40), 0x4D1Bu);
  ArchiveHeader back;
  std::memcpy(&back, bytes, sizeof back);  // the installer reads the header whole
  EXPECT_EQ(std::memcmp(&back, &h, sizeof h), 0);
}

TEST(FormatTest, IntegrityAndMemberRecords) {
  uint8_t bytes[format::kIntegrityRecordSize];
  format::write_integrity_record(bytes, {0x4E00, 0x3814, 0xC224CA40});
  EXPECT_EQ(load_le32(bytes), 0x4E00u);
  EXPECT_EQ(load_le32(bytes + 4), 0x3814u);
  EXPECT_EQ(load_le32(bytes + 8), 0xC224CA40u);
  const IntegrityRecord back = format::read_integrity_record(bytes);
  EXPECT_EQ(back.stub_length, 0x4E00u);
  EXPECT_EQ(back.crc_field_offset, 0x3814u);
  EXPECT_EQ(back.expected_crc, 0xC224CA40u);

  const uint8_t member_bytes[format::kMemberHeaderSize] = {0x87, 0x01, 0x00, 0x00, 0x0a, 0x00,
                                                           0x5a, 0x20, 0x20, 0x00, 0x04};
  uint8_t member[format::kMemberHeaderSize];
  format::write_member_header(member, {391, 10, format::kMemberTagValue, 0x20, 4});
  EXPECT_EQ(std::memcmp(member, member_bytes, sizeof member), 0);
  EXPECT_EQ(format::read_member_name_length(member), 10u);
}

TEST(FormatTest, ChunkHeaderFieldsAndPayloadBits) {
  // Laid out by hand: type 1, last, size 0xABCDE, length 0x12345, selector 30, and the
  // first payload bits all ones.
  const uint64_t bits = 1ull | (1ull << 4) | (0xABCDEull << 5) | (0x12345ull << 25) |
                        (30ull << 45) | (0x3FFFull << 50);
  uint8_t hand[format::kChunkHeaderSize + 4] = {};
  for (int i = 0; i < 8; ++i) hand[i] = static_cast<uint8_t>(bits >> (8 * i));

  const format::ChunkHeader h = format::read_chunk_header(hand);
  EXPECT_EQ(h.block_type, format::kBlockTypeCompressed);
  EXPECT_EQ(h.last_block, 1u);
  EXPECT_EQ(h.block_size, 0xABCDEu);
  EXPECT_EQ(h.chunk_length, 0x12345u);
  EXPECT_EQ(h.window_selector, 30u);
  EXPECT_EQ(format::window_size(h.window_selector), format::kMaxWindow);

  // The writer keeps the payload bits and replaces every header field.
  uint8_t written[format::kChunkHeaderSize + 4] = {};
  written[6] = 0xFC;
  written[7] = 0xFF;
  std::memset(written, 0xFF, 6);
  format::write_chunk_header(written, h);
  EXPECT_EQ(std::memcmp(written, hand, sizeof hand), 0);

  // A stored chunk's data begin at its seventh byte: the writer touches no byte beyond.
  uint8_t stored[format::kStoredDataOffset + 1] = {};
  stored[format::kStoredDataOffset] = 0x5A;
  format::write_chunk_header(stored, {format::kBlockTypeStored, 1, 1, 8, 0});
  EXPECT_EQ(stored[format::kStoredDataOffset], 0x5A);
  EXPECT_EQ(format::read_field(stored, format::kChunkLength), 8u);
}

TEST(FormatTest, WindowSelectorsAndPayloadHeader) {
  struct Case {
    uint32_t selector, window;
  };
  for (const Case c : {Case{3, 32768}, Case{30, 524288}, Case{4, 65536}, Case{0, 32768},
                       Case{5, 65536}, Case{6, 131072}}) {
    EXPECT_EQ(format::window_size(c.selector), c.window) << c.selector;
  }
  for (uint32_t row = 0; row < format::kWindowRows; ++row) {
    for (uint32_t column = 0; column < format::kWindowColumns; ++column) {
      EXPECT_EQ(format::window_size(format::window_selector(row, column)),
                format::kWindowSizeTable[row][column]);
    }
  }
  const format::PayloadHeader p = format::read_payload_header(0xFF00u | (37u << 2) | 3u);
  EXPECT_EQ(p.distance_tables, 3u);
  EXPECT_EQ(p.set_count, 37u);
  EXPECT_EQ(format::payload_header_bits(p), (37u << 2) | 3u);
}

TEST(FormatTest, LengthAndDistanceSymbols) {
  struct Case {
    uint32_t symbol, base, extra;
  };
  for (const Case c : {Case{257, 2, 0}, Case{265, 10, 0}, Case{266, 11, 1}, Case{269, 17, 1},
                       Case{270, 19, 2}, Case{285, 227, 5}, Case{286, 259, 15}}) {
    EXPECT_EQ(format::length_symbol_base(c.symbol), c.base) << c.symbol;
    EXPECT_EQ(format::length_symbol_extra_bits(c.symbol), c.extra) << c.symbol;
  }
  // Coded distances continue the short ones without a gap and end at the largest.
  for (uint32_t s = 2; s <= 5; ++s) EXPECT_EQ(format::short_distance(s), s - 1);
  for (uint32_t s = format::kFirstCodedDistance; s + 1 < format::kMaxDistanceSymbols; ++s) {
    EXPECT_EQ(format::distance_base(s) + (1u << format::distance_extra_bits(s)),
              format::distance_base(s + 1))
        << s;
  }
  EXPECT_EQ(format::distance_base(40), 524289u);
  EXPECT_EQ(format::distance_base(41), 786433u);
}

TEST(FormatTest, FixedSetRuns) {
  std::vector<uint8_t> lengths;
  for (size_t i = 0; i < sizeof format::kFixedSetRuns; i += 2) {
    lengths.insert(lengths.end(), format::kFixedSetRuns[i], format::kFixedSetRuns[i + 1]);
  }
  ASSERT_EQ(lengths.size(), format::kSetLengthTwoTables);
  EXPECT_EQ(lengths[243], 8);
  EXPECT_EQ(lengths[244], 9);
  EXPECT_EQ(lengths[format::kSymbolSwitchSet], 0);
  EXPECT_EQ(lengths[265], 10);
  EXPECT_EQ(lengths[287], 11);
  EXPECT_EQ(lengths[format::kDistanceOffset[0] + format::kFixedSetDistanceSymbols - 1], 5);
  EXPECT_EQ(lengths[format::kDistanceOffset[0] + format::kFixedSetDistanceSymbols], 0);
  EXPECT_EQ(lengths[format::kDistanceOffset[1]], 3);
  EXPECT_EQ(lengths[format::kSetLengthTwoTables - 1], 4);
}

}  // namespace

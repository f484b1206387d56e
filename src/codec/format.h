// The archive format, shared by the installer's reader and the packer: every field
// position, width and alphabet is named here once, and every on-disk record has one
// reader and one writer here. The readers are what the stub runs; the writers (plain
// stores, never used by the stub) are what the packer and the tests' archive builders use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/integrity_record.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the packed records below are read as they lie in memory: little-endian only"
#endif

namespace format {

// ---------------------------------------------------------------------------------------
// Bit fields. A field of a bit-packed record is named by its first bit (bit 0 is the
// least significant bit of the record's first byte) and its width.

struct BitField {
  uint32_t position;
  uint32_t width;
};

[[gnu::always_inline]] inline constexpr uint32_t field_mask(BitField f) {
  return (1u << f.width) - 1;
}
// The field taken from a value that holds the record's bits from bit 0 on.
[[gnu::always_inline]] inline constexpr uint32_t field_of(uint32_t bits, BitField f) {
  return (bits >> f.position) & field_mask(f);
}
// The field read from the record's bytes: the little-endian word at the field's first
// byte, shifted (fields are at most 25 bits wide, so one word holds them). Inlined
// always: with constant fields it folds to one load, a shift and a mask.
[[gnu::always_inline]] inline uint32_t read_field(const uint8_t* record, BitField f) {
  return (load_le32(record + f.position / 8) >> (f.position % 8)) & field_mask(f);
}
// Stores a field into the record's bytes; the other bits stay, and only the bytes the
// field covers are touched.
inline void write_field(uint8_t* record, BitField f, uint32_t value) {
  for (uint32_t i = 0; i < f.width; ++i) {
    const uint32_t bit = f.position + i;
    const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if ((value >> i) & 1) {
      record[bit / 8] |= mask;
    } else {
      record[bit / 8] &= static_cast<uint8_t>(~mask);
    }
  }
}
// The number of whole bytes that hold the record up to the end of the field.
inline constexpr uint32_t bytes_through(BitField f) {
  return (f.position + f.width + 7) / 8;
}

// ---------------------------------------------------------------------------------------
// Installer file: the stub, then the archive; the stub's integrity record is in
// common/integrity_record.h.

}  // namespace format

// ---------------------------------------------------------------------------------------
// ArchiveHeader: 42 bytes at archive_base. Read whole into the struct.

struct ArchiveHeader {
  uint8_t magic[4];
  uint32_t directory_offset;
  uint32_t entry_count;
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t archive_length;
  uint32_t data_length;
  uint8_t reserved3[12];
  uint16_t trailer;
} __attribute__((packed));

namespace format {

inline constexpr uint32_t kHeaderSize = 42;
inline constexpr char kHeaderMagic[4] = {'Z', 'P', 'X', '\n'};
inline constexpr uint32_t kHeaderMagicOffset = 0;
inline constexpr uint32_t kHeaderDirectoryOffset = 4;
inline constexpr uint32_t kHeaderEntryCount = 8;
inline constexpr uint32_t kHeaderArchiveLength = 20;
inline constexpr uint32_t kHeaderDataLength = 24;
inline constexpr uint32_t kHeaderTrailer = 40;  // 16-bit, written non-zero
inline constexpr uint16_t kHeaderTrailerValue = 0x4D1B;
static_assert(sizeof(ArchiveHeader) == kHeaderSize);
static_assert(offsetof(ArchiveHeader, magic) == kHeaderMagicOffset);
static_assert(offsetof(ArchiveHeader, directory_offset) == kHeaderDirectoryOffset);
static_assert(offsetof(ArchiveHeader, entry_count) == kHeaderEntryCount);
static_assert(offsetof(ArchiveHeader, archive_length) == kHeaderArchiveLength);
static_assert(offsetof(ArchiveHeader, data_length) == kHeaderDataLength);
static_assert(offsetof(ArchiveHeader, trailer) == kHeaderTrailer);

// The reader is a read of kHeaderSize bytes into the struct (read_archive_header).
inline void write_archive_header(uint8_t* p, const ArchiveHeader& h) {
  for (uint32_t i = 0; i < kHeaderSize; ++i) p[i] = 0;  // reserved fields are zero
  for (uint32_t i = 0; i < sizeof h.magic; ++i) p[kHeaderMagicOffset + i] = h.magic[i];
  store_le32(p + kHeaderDirectoryOffset, h.directory_offset);
  store_le32(p + kHeaderEntryCount, h.entry_count);
  store_le32(p + kHeaderArchiveLength, h.archive_length);
  store_le32(p + kHeaderDataLength, h.data_length);
  store_le16(p + kHeaderTrailer, h.trailer);
}

// Every stream begins with 6 bytes the reader skips; every directory block with a
// 6-byte signature, compared whole.
inline constexpr uint32_t kStreamLeadSize = 6;
inline constexpr char kStreamLead[kStreamLeadSize] = {'Z', 'P', 'X', 'L', 'H', '\0'};
inline constexpr uint32_t kDirectorySignatureSize = 6;
inline constexpr char kDirectorySignature[kDirectorySignatureSize] = {'Z', 'P', 'X',
                                                                      'D', 'E', '\0'};

}  // namespace format

// ---------------------------------------------------------------------------------------
// EntryRecord: 38 bytes in a decoded directory block, then the name, then
// short_extra_length + extra_length bytes that the reader skips.

struct EntryRecord {
  uint32_t reserved;
  uint32_t stream_offset;
  uint16_t attributes;
  uint8_t short_extra_length;
  uint8_t flags;
  uint32_t stream_position;
  uint32_t size;
  uint32_t crc;
  uint16_t extra_length;
  uint16_t name_length;
  uint16_t creation_time;
  uint16_t creation_date;
  uint16_t write_time;
  uint16_t write_date;
  uint16_t trailer;
} __attribute__((packed));

namespace format {

inline constexpr uint32_t kEntrySize = 38;
inline constexpr uint32_t kEntryReserved = 0;
inline constexpr uint32_t kEntryStreamOffset = 4;
inline constexpr uint32_t kEntryAttributes = 8;
inline constexpr uint32_t kEntryShortExtraLength = 10;
inline constexpr uint32_t kEntryFlags = 11;
inline constexpr uint32_t kEntryStreamPosition = 12;
inline constexpr uint32_t kEntryContentsSize = 16;
inline constexpr uint32_t kEntryCrc = 20;
inline constexpr uint32_t kEntryExtraLength = 24;
inline constexpr uint32_t kEntryNameLength = 26;
inline constexpr uint32_t kEntryCreationTime = 28;
inline constexpr uint32_t kEntryCreationDate = 30;
inline constexpr uint32_t kEntryWriteTime = 32;
inline constexpr uint32_t kEntryWriteDate = 34;
inline constexpr uint32_t kEntryTrailer = 36;  // 16-bit, written non-zero
static_assert(sizeof(EntryRecord) == kEntrySize);
static_assert(offsetof(EntryRecord, reserved) == kEntryReserved);
static_assert(offsetof(EntryRecord, stream_offset) == kEntryStreamOffset);
static_assert(offsetof(EntryRecord, attributes) == kEntryAttributes);
static_assert(offsetof(EntryRecord, short_extra_length) == kEntryShortExtraLength);
static_assert(offsetof(EntryRecord, flags) == kEntryFlags);
static_assert(offsetof(EntryRecord, stream_position) == kEntryStreamPosition);
static_assert(offsetof(EntryRecord, size) == kEntryContentsSize);
static_assert(offsetof(EntryRecord, crc) == kEntryCrc);
static_assert(offsetof(EntryRecord, extra_length) == kEntryExtraLength);
static_assert(offsetof(EntryRecord, name_length) == kEntryNameLength);
static_assert(offsetof(EntryRecord, creation_time) == kEntryCreationTime);
static_assert(offsetof(EntryRecord, creation_date) == kEntryCreationDate);
static_assert(offsetof(EntryRecord, write_time) == kEntryWriteTime);
static_assert(offsetof(EntryRecord, write_date) == kEntryWriteDate);
static_assert(offsetof(EntryRecord, trailer) == kEntryTrailer);

// The value archives as written hold in `reserved`, the same as the member header's tag.
inline constexpr uint32_t kEntryReservedValue = 0x0000205A;

// `flags`: a folder; contents with the call-address transform, 16- or 32-bit operands
// (16 takes precedence when both are set).
inline constexpr uint8_t kFlagFolder = 1;
inline constexpr uint8_t kFlagCall16 = 2;
inline constexpr uint8_t kFlagCall32 = 4;

inline void read_entry_record(const uint8_t* p, EntryRecord* entry) {
  __builtin_memcpy(entry, p, kEntrySize);
}
inline void write_entry_record(uint8_t* p, const EntryRecord& e) {
  store_le32(p + kEntryReserved, e.reserved);
  store_le32(p + kEntryStreamOffset, e.stream_offset);
  store_le16(p + kEntryAttributes, e.attributes);
  p[kEntryShortExtraLength] = e.short_extra_length;
  p[kEntryFlags] = e.flags;
  store_le32(p + kEntryStreamPosition, e.stream_position);
  store_le32(p + kEntryContentsSize, e.size);
  store_le32(p + kEntryCrc, e.crc);
  store_le16(p + kEntryExtraLength, e.extra_length);
  store_le16(p + kEntryNameLength, e.name_length);
  store_le16(p + kEntryCreationTime, e.creation_time);
  store_le16(p + kEntryCreationDate, e.creation_date);
  store_le16(p + kEntryWriteTime, e.write_time);
  store_le16(p + kEntryWriteDate, e.write_date);
  store_le16(p + kEntryTrailer, e.trailer);
}

// ---------------------------------------------------------------------------------------
// Member in the decompressed stream: an 11-byte header, the name, the contents, then 4
// bytes of CRC-32 of the contents. The reader uses only the name length.

struct MemberHeader {
  uint32_t contents_length;
  uint16_t name_length;
  uint16_t tag;
  uint16_t attributes;
  uint8_t flags;
};

inline constexpr uint32_t kMemberHeaderSize = 11;
inline constexpr uint32_t kMemberContentsLength = 0;
inline constexpr uint32_t kMemberNameLength = 4;  // 16-bit
inline constexpr uint32_t kMemberTag = 6;         // 16-bit
inline constexpr uint32_t kMemberAttributes = 8;  // 16-bit
inline constexpr uint32_t kMemberFlags = 10;
inline constexpr uint32_t kMemberCrcSize = 4;
inline constexpr uint16_t kMemberTagValue = 0x205A;
static_assert(kMemberFlags + 1 == kMemberHeaderSize);
static_assert(kMemberTagValue == (kEntryReservedValue & 0xFFFF));

inline uint32_t read_member_name_length(const uint8_t* header) {
  return load_le16(header + kMemberNameLength);
}
inline void write_member_header(uint8_t* p, const MemberHeader& m) {
  store_le32(p + kMemberContentsLength, m.contents_length);
  store_le16(p + kMemberNameLength, m.name_length);
  store_le16(p + kMemberTag, m.tag);
  store_le16(p + kMemberAttributes, m.attributes);
  p[kMemberFlags] = m.flags;
}

// ---------------------------------------------------------------------------------------
// ChunkHeader: 8 bytes at the start of every chunk. Its first 25 bits are the
// BlockHeader of the block the chunk carries; the block's payload begins at bit 50.

inline constexpr uint32_t kChunkHeaderSize = 8;
inline constexpr BitField kBlockType{0, 4};
inline constexpr BitField kLastBlock{4, 1};
inline constexpr BitField kBlockSize{5, 20};
inline constexpr BitField kChunkLength{25, 20};  // header included
inline constexpr BitField kWindowSelector{45, 5};
inline constexpr uint32_t kPayloadBitOffset = 50;
static_assert(kBlockType.position + kBlockType.width == kLastBlock.position);
static_assert(kLastBlock.position + kLastBlock.width == kBlockSize.position);
static_assert(kBlockSize.position + kBlockSize.width == kChunkLength.position);
static_assert(kChunkLength.position + kChunkLength.width == kWindowSelector.position);
static_assert(kWindowSelector.position + kWindowSelector.width == kPayloadBitOffset);

inline constexpr uint32_t kBlockTypeStored = 0;
inline constexpr uint32_t kBlockTypeCompressed = 1;                    // 2 to 15 are damage
inline constexpr uint32_t kMaxBlockSize = field_mask(kBlockSize);      // 1,048,575
inline constexpr uint32_t kMaxChunkLength = field_mask(kChunkLength);  // header included
// A chunk header read short is damage when it does not hold the chunk length whole.
inline constexpr uint32_t kChunkHeaderMinimum = bytes_through(kChunkLength);  // 6
// Stored bytes begin at the first byte boundary behind the header's fields.
inline constexpr uint32_t kStoredDataOffset = (kPayloadBitOffset + 7) / 8;  // 7
static_assert(kChunkHeaderMinimum == 6 && kStoredDataOffset == 7);

struct ChunkHeader {
  uint32_t block_type;
  uint32_t last_block;
  uint32_t block_size;
  uint32_t chunk_length;
  uint32_t window_selector;
};

// Inlined always, so that a reader pays only for the fields it uses (the loads at byte
// offsets 0, 3 and 5 read up to 9 bytes: the input buffer has room behind any header).
[[gnu::always_inline]] inline ChunkHeader read_chunk_header(const uint8_t* chunk) {
  return {read_field(chunk, kBlockType), read_field(chunk, kLastBlock),
          read_field(chunk, kBlockSize), read_field(chunk, kChunkLength),
          read_field(chunk, kWindowSelector)};
}
// Stores the header's fields into the first kStoredDataOffset bytes of a chunk; the
// payload bits from bit 50 on stay as they are.
inline void write_chunk_header(uint8_t* chunk, const ChunkHeader& h) {
  write_field(chunk, kBlockType, h.block_type);
  write_field(chunk, kLastBlock, h.last_block);
  write_field(chunk, kBlockSize, h.block_size);
  write_field(chunk, kChunkLength, h.chunk_length);
  write_field(chunk, kWindowSelector, h.window_selector);
}

// ---------------------------------------------------------------------------------------
// Input buffer: 8 carry-over bytes, at most 61,424 loaded by one fill, 8 bytes of headroom,
// and room for the bit readers' read-ahead behind the last loaded byte: a whole symbol
// begun just before input_end may load words up to 9 bytes further.
inline constexpr uint32_t kInputReadAhead = 16;
inline constexpr uint32_t kInputBufferSize = 61440 + kInputReadAhead;
inline constexpr uint32_t kInputCarry = 8;
inline constexpr uint32_t kInputFillMax = 0xEFF0;  // 61,424
inline constexpr uint32_t kLookAhead = 8;
static_assert(kInputCarry + kInputFillMax + kLookAhead + kInputReadAhead == kInputBufferSize);

// Directory blocks are read in one go: the signature, then at most this many bytes.
inline constexpr uint32_t kDirectoryChunkMax = 8184;
inline constexpr uint32_t kEntryStagingSize = 8192;

// ---------------------------------------------------------------------------------------
// History window kept in front of a compressed block, chosen by its window selector:
// the selector's low 2 bits pick the row (3 reads as 2), the high 3 bits the column.
inline constexpr BitField kSelectorRow{0, 2};
inline constexpr BitField kSelectorColumn{2, 3};
inline constexpr uint32_t kWindowRows = 3;
inline constexpr uint32_t kWindowColumns = 1u << kSelectorColumn.width;
inline constexpr uint32_t kWindowSizeTable[kWindowRows][kWindowColumns] = {
    {32768, 65536, 73728, 98304, 122880, 147456, 172032, 196608},
    {32768, 65536, 73728, 98304, 122880, 147456, 172032, 196608},
    {32768, 131072, 196608, 262144, 327680, 393216, 458752, 524288},
};
[[gnu::always_inline]] inline constexpr uint32_t window_size(uint32_t selector) {
  const uint32_t row = field_of(selector, kSelectorRow) > 2 ? 2 : field_of(selector, kSelectorRow);
  return kWindowSizeTable[row][field_of(selector, kSelectorColumn)];
}
inline constexpr uint32_t window_selector(uint32_t row, uint32_t column) {
  return (column << kSelectorColumn.position) | (row << kSelectorRow.position);
}
inline constexpr uint32_t kMaxWindow = 524288;
static_assert(window_size(window_selector(2, kWindowColumns - 1)) == kMaxWindow);
static_assert(window_selector(2, kWindowColumns - 1) <= field_mask(kWindowSelector));
// Every HistoryBuffer allocation keeps this much beyond what it must hold.
inline constexpr uint32_t kHistorySlack = 512;

// ---------------------------------------------------------------------------------------
// Block payload header: the first 8 payload bits. D, the number of distance tables (0 is
// damage); n, the number of transmitted table sets (0: the fixed set).
inline constexpr uint32_t kPayloadHeaderBits = 8;
inline constexpr BitField kPayloadDistanceTables{0, 2};
inline constexpr BitField kPayloadSetCount{2, 6};
static_assert(kPayloadSetCount.position + kPayloadSetCount.width == kPayloadHeaderBits);
inline constexpr uint32_t kMaxTableSets = field_mask(kPayloadSetCount);  // 63

struct PayloadHeader {
  uint32_t distance_tables;
  uint32_t set_count;
};
// From the bit cursor's word: only the header's own 8 bits are looked at.
[[gnu::always_inline]] inline constexpr PayloadHeader read_payload_header(uint32_t bits) {
  bits &= (1u << kPayloadHeaderBits) - 1;
  return {field_of(bits, kPayloadDistanceTables), bits >> kPayloadSetCount.position};
}
// The 8 bits to write, first bit least significant.
inline constexpr uint32_t payload_header_bits(const PayloadHeader& h) {
  return (h.distance_tables << kPayloadDistanceTables.position) |
         (h.set_count << kPayloadSetCount.position);
}

// ---------------------------------------------------------------------------------------
// Code-length table of one table set: the literal/length alphabet, then the distance
// tables, at fixed offsets.
inline constexpr uint32_t kLiteralLengthSymbols = 288;
inline constexpr uint32_t kDistanceTables = 3;
inline constexpr uint32_t kMaxDistanceSymbols = 42;
inline constexpr uint32_t kDistanceSymbols[kDistanceTables] = {42, 14, 28};
inline constexpr uint32_t kDistanceOffset[kDistanceTables] = {288, 330, 344};
inline constexpr uint32_t kSetLengthTwoTables = 344;
inline constexpr uint32_t kSetLengthThreeTables = 372;
static_assert(kDistanceOffset[0] == kLiteralLengthSymbols);
static_assert(kDistanceOffset[1] == kDistanceOffset[0] + kDistanceSymbols[0]);
static_assert(kDistanceOffset[2] == kDistanceOffset[1] + kDistanceSymbols[1]);
static_assert(kSetLengthTwoTables == kDistanceOffset[2]);
static_assert(kSetLengthThreeTables == kDistanceOffset[2] + kDistanceSymbols[2]);
static_assert(kDistanceSymbols[0] == kMaxDistanceSymbols);
inline constexpr uint32_t set_length_for(uint32_t distance_tables) {
  return distance_tables == 3 ? kSetLengthThreeTables : kSetLengthTwoTables;
}
inline constexpr uint32_t kMaxCodeLength = 16;

// The fixed set (n = 0): 344 lengths, two distance tables, as runs of (count, length).
// Symbol 256 has no code in it, and distance table 0 no codes for symbols 28 to 41.
inline constexpr uint8_t kFixedSetRuns[] = {244, 8, 12, 9,  1, 0,  4, 9, 5, 10, 22,
                                            11,  4, 4,  24, 5, 14, 0, 2, 3, 12, 4};
inline constexpr uint32_t kFixedSetDistanceSymbols = 28;  // distance table 0 codes 0 to 27
inline constexpr uint32_t fixed_set_total() {
  uint32_t total = 0;
  for (uint32_t i = 0; i < sizeof kFixedSetRuns; i += 2) total += kFixedSetRuns[i];
  return total;
}
static_assert(fixed_set_total() == kSetLengthTwoTables);

// Code-length alphabet: 21 symbols. Its own lengths come first as 5-bit fields: a value
// of 2 or more is a length plus one; 0 and 1 are run digits (weight and twice the
// weight) of lengths 0. Then its symbols: 0 to 16 a delta against the reference, modulo
// 17; 17 and 18 a zero run, 19 and 20 a repeat run (digits one and two of the run weight).
inline constexpr uint32_t kCodeLengthSymbols = 21;
inline constexpr uint32_t kCodeLengthFieldBits = 5;
inline constexpr uint32_t kCodeLengthFieldBias = 1;  // field = length + 1
inline constexpr uint32_t kLastDeltaSymbol = kMaxCodeLength;
inline constexpr uint32_t kCodeLengthModulus = kMaxCodeLength + 1;
inline constexpr uint32_t kZeroRunSymbol = 17;    // and 18
inline constexpr uint32_t kRepeatRunSymbol = 19;  // and 20
static_assert(kZeroRunSymbol == kLastDeltaSymbol + 1);
static_assert(kRepeatRunSymbol + 2 == kCodeLengthSymbols);

// ---------------------------------------------------------------------------------------
// Literal/length symbols: 0 to 255 literals; 256 switches to the next table set (or ends
// the block); 257 to 265 matches of length symbol - 255 (2 to 10); 266 to 285 base plus
// extra bits (11 to 258); 286 length 259 plus 15 bits; 287 has no meaning.
inline constexpr uint32_t kLiterals = 256;
inline constexpr uint32_t kSymbolSwitchSet = 256;
inline constexpr uint32_t kFirstLengthSymbol = 257;
inline constexpr uint32_t kMinMatchLength = 2;
inline constexpr uint32_t kFirstBasedLengthSymbol = 266;
inline constexpr uint32_t kBasedLengthSymbols = 20;
inline constexpr uint32_t kSymbolLongMatch = 286;
inline constexpr uint32_t kLongMatchBase = 259;
inline constexpr uint32_t kLongMatchExtraBits = 15;
inline constexpr uint32_t kMaxMatchLength = kLongMatchBase + (1u << kLongMatchExtraBits) - 1;
inline constexpr uint32_t kLengthSymbols = kSymbolLongMatch + 1 - kFirstLengthSymbol;  // 30
inline constexpr uint16_t kLengthBase[kBasedLengthSymbols] = {
    11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
inline constexpr uint8_t kLengthExtra[kBasedLengthSymbols] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3,
                                                              3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
// The shortest based length follows the last short one, and the long match follows the
// longest based one.
inline constexpr uint32_t kLastShortLength =
    kFirstBasedLengthSymbol - 1 - kFirstLengthSymbol + kMinMatchLength;  // 10
static_assert(kLengthBase[0] == kLastShortLength + 1);
static_assert(kLengthBase[kBasedLengthSymbols - 1] +
                  (1u << kLengthExtra[kBasedLengthSymbols - 1]) ==
              kLongMatchBase);
static_assert(kFirstBasedLengthSymbol + kBasedLengthSymbols == kSymbolLongMatch);
static_assert(kMaxMatchLength == 33026);

// Base length and extra bits of every length symbol (257 to 286).
inline constexpr uint32_t length_symbol_base(uint32_t symbol) {
  if (symbol < kFirstBasedLengthSymbol) return symbol - kFirstLengthSymbol + kMinMatchLength;
  if (symbol == kSymbolLongMatch) return kLongMatchBase;
  return kLengthBase[symbol - kFirstBasedLengthSymbol];
}
inline constexpr uint32_t length_symbol_extra_bits(uint32_t symbol) {
  if (symbol < kFirstBasedLengthSymbol) return 0;
  if (symbol == kSymbolLongMatch) return kLongMatchExtraBits;
  return kLengthExtra[symbol - kFirstBasedLengthSymbol];
}

// ---------------------------------------------------------------------------------------
// Distance symbols, the same in every table: 0 the last distance; 1 the one before it
// (the two swap); 2 to 5 distances 1 to 4; 6 to 41 base plus extra bits (the new distance
// becomes the last, the last the one before). Both start at 0 in every block.
inline constexpr uint32_t kDistanceRepeatLast = 0;
inline constexpr uint32_t kDistanceRepeatPrevious = 1;
inline constexpr uint32_t kFirstShortDistance = 2;
inline constexpr uint32_t kShortDistances = 4;
inline constexpr uint32_t kFirstCodedDistance = kFirstShortDistance + kShortDistances;  // 6
inline constexpr uint32_t short_distance(uint32_t symbol) {
  return symbol - kFirstShortDistance + 1;
}
inline constexpr uint32_t short_distance_symbol(uint32_t distance) {
  return distance + kFirstShortDistance - 1;
}
inline constexpr uint32_t distance_extra_bits(uint32_t symbol) {
  return (symbol - kFirstCodedDistance) / 2 + 1;
}
inline constexpr uint32_t distance_base(uint32_t symbol) {
  const uint32_t j = symbol - kFirstCodedDistance, k = j / 2;
  return (1u << (k + 2)) + 1 + ((j & 1) ? (1u << (k + 1)) : 0);
}
// The farthest distance a table's symbols reach.
inline constexpr uint32_t table_reach(uint32_t table) {
  const uint32_t last = kDistanceSymbols[table] - 1;
  return distance_base(last) + (1u << distance_extra_bits(last)) - 1;
}
inline constexpr uint32_t kMaxDistance = 1u << 20;  // 1,048,576
static_assert(distance_base(kFirstCodedDistance) == kShortDistances + 1);
static_assert(table_reach(0) == kMaxDistance);
static_assert(table_reach(1) == 64 && table_reach(2) == 8192);

// The distance table of a match, chosen by its length (tables: D of the block).
inline constexpr uint32_t distance_table_for(uint32_t length, uint32_t tables) {
  if (length == 2 && tables >= 2) return 1;
  if (length == 3 && tables == 3) return 2;
  return 0;
}

// Call-address transform: the opcode whose operand is transformed.
inline constexpr uint8_t kCallOpcode = 0xE8;

}  // namespace format

// The numbers of the archive format, shared by the decoder and the packer.
#pragma once

#include <cstdint>

namespace format {

// Archive header (at archive_base).
inline constexpr uint32_t kHeaderSize = 42;
inline constexpr char kHeaderMagic[4] = {'Z', 'P', 'X', '\n'};
inline constexpr uint32_t kHeaderDirectoryOffset = 4;
inline constexpr uint32_t kHeaderEntryCount = 8;
inline constexpr uint32_t kHeaderArchiveLength = 20;
inline constexpr uint32_t kHeaderDataLength = 24;
inline constexpr uint32_t kHeaderTrailer = 40;  // 16-bit, written non-zero
inline constexpr uint16_t kHeaderTrailerValue = 0x4D1B;

// Every stream begins with 6 bytes the reader skips; every directory block with a signature.
inline constexpr uint32_t kStreamLeadSize = 6;
inline constexpr char kStreamLead[6] = {'Z', 'P', 'X', 'L', 'H', '\0'};
inline constexpr uint32_t kDirectorySignatureSize = 6;
inline constexpr char kDirectorySignature[6] = {'Z', 'P', 'X', 'D', 'E', '\0'};

// Directory entry record (38 bytes, then the name, then skipped bytes).
inline constexpr uint32_t kEntrySize = 38;
inline constexpr uint32_t kEntryReservedValue = 0x0000205A;
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

inline constexpr uint8_t kFlagFolder = 1;
inline constexpr uint8_t kFlagCall16 = 2;
inline constexpr uint8_t kFlagCall32 = 4;

// Member in the decompressed stream: header, name, contents, CRC-32 of the contents.
inline constexpr uint32_t kMemberHeaderSize = 11;
inline constexpr uint32_t kMemberNameLength = 4;  // 16-bit field
inline constexpr uint32_t kMemberCrcSize = 4;

// Chunk framing: 8-byte header; its first 25 bits are the block header.
inline constexpr uint32_t kChunkHeaderSize = 8;
inline constexpr uint32_t kBlockTypeStored = 0;
inline constexpr uint32_t kBlockTypeCompressed = 1;
inline constexpr uint32_t kBlockSizeBits = 20;
inline constexpr uint32_t kMaxBlockSize = (1u << 20) - 1;    // 1,048,575
inline constexpr uint32_t kMaxChunkLength = (1u << 20) - 1;  // header included
inline constexpr uint32_t kPayloadBitOffset = 50;            // block data start inside the chunk
inline constexpr uint32_t kStoredDataOffset = 7;             // stored bytes start here

// Input buffer: 8 carry-over bytes, at most 61,424 loaded by one fill, 8 bytes of headroom,
// and room for the bit readers' read-ahead behind the last loaded byte: a whole symbol
// begun just before input_end may load words up to 9 bytes further.
inline constexpr uint32_t kInputReadAhead = 16;
inline constexpr uint32_t kInputBufferSize = 61440 + kInputReadAhead;
inline constexpr uint32_t kInputCarry = 8;
inline constexpr uint32_t kInputFillMax = 0xEFF0;  // 61,424
inline constexpr uint32_t kLookAhead = 8;

// Directory blocks are read in one go.
inline constexpr uint32_t kDirectoryChunkMax = 8184;
inline constexpr uint32_t kEntryStagingSize = 8192;

// History window retained between blocks, by the block's window selector.
inline constexpr uint32_t kWindowSizeTable[3][8] = {
    {32768, 65536, 73728, 98304, 122880, 147456, 172032, 196608},
    {32768, 65536, 73728, 98304, 122880, 147456, 172032, 196608},
    {32768, 131072, 196608, 262144, 327680, 393216, 458752, 524288},
};
inline constexpr uint32_t window_size(uint32_t selector) {
  const uint32_t row = (selector & 3) > 2 ? 2 : (selector & 3);
  return kWindowSizeTable[row][(selector >> 2) & 7];
}
inline constexpr uint32_t kMaxWindow = 524288;
inline constexpr uint32_t kHistorySlack = 512;

// Block payload header: 2 bits D (distance tables), 6 bits n (table sets; 0 = fixed set).
inline constexpr uint32_t kMaxTableSets = 63;

// Code-length table layout of one table set.
inline constexpr uint32_t kLiteralLengthSymbols = 288;
inline constexpr uint32_t kDistanceSymbols[3] = {42, 14, 28};
inline constexpr uint32_t kDistanceOffset[3] = {288, 330, 344};
inline constexpr uint32_t kSetLengthTwoTables = 344;
inline constexpr uint32_t kSetLengthThreeTables = 372;
inline constexpr uint32_t kMaxCodeLength = 16;
inline constexpr uint32_t kCodeLengthSymbols = 21;
inline constexpr uint32_t kCodeLengthFieldBits = 5;

// Literal/length symbols.
inline constexpr uint32_t kSymbolSwitchSet = 256;
inline constexpr uint32_t kSymbolLongMatch = 286;  // length 259 + next 15 bits
inline constexpr uint32_t kLongMatchBase = 259;
inline constexpr uint32_t kLongMatchExtraBits = 15;
inline constexpr uint32_t kMaxMatchLength = 259 + 32767;  // 33,026
inline constexpr uint32_t kMinMatchLength = 2;
// Symbols 266..285: base and extra bits.
inline constexpr uint16_t kLengthBase[20] = {11, 13, 15, 17, 19, 23,  27,  31,  35,  43,
                                             51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
inline constexpr uint8_t kLengthExtra[20] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3,
                                             3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

// Distance symbols: 0 last distance, 1 the one before (swap), 2..5 distances 1..4,
// 6..41 base + extra bits.
inline constexpr uint32_t kDistanceRepeatLast = 0;
inline constexpr uint32_t kDistanceRepeatPrevious = 1;
inline constexpr uint32_t kFirstShortDistance = 2;
inline constexpr uint32_t kFirstCodedDistance = 6;
inline constexpr uint32_t distance_extra_bits(uint32_t symbol) {
  return (symbol - 6) / 2 + 1;
}
inline constexpr uint32_t distance_base(uint32_t symbol) {
  const uint32_t j = symbol - 6, k = j / 2;
  return (1u << (k + 2)) + 1 + ((j & 1) ? (1u << (k + 1)) : 0);
}
inline constexpr uint32_t kMaxDistance = 1u << 20;  // 1,048,576

// Distance table chosen by match length (D = number of tables in the block).
inline constexpr uint32_t distance_table_for(uint32_t length, uint32_t tables) {
  if (length == 2 && tables >= 2) return 1;
  if (length == 3 && tables == 3) return 2;
  return 0;
}

// Call-address transform.
inline constexpr uint8_t kCallOpcode = 0xE8;

}  // namespace format

// Decodes the payload of one compressed block: LZ77 literals and matches under
// canonical Huffman codes, with up to 63 table sets, up to three distance alphabets and
// two remembered distances.
#pragma once

#include <cstdint>

#include "codec/result.h"

// Why decode_block stopped, recorded in archive_reader.block_end whenever it returns a
// count. Only kBlockComplete leaves the block whole; the others end it short (the stream
// ends there). kBlockDroppedMatch is added to the reason when a match reached before the
// start of the buffer: the match wrote nothing and decoding went on.
enum BlockEnd : uint8_t {
  kBlockComplete = 1,       // the output reached the block's size
  kBlockInputEnded,         // the chunk's data ran out
  kBlockInvalidCode,        // bits that begin no code, in either alphabet
  kBlockMeaninglessSymbol,  // literal/length symbol 287
  kBlockNoSetLeft,          // symbol 256 with no table set left
  kBlockDistanceNeverSent,  // a remembered distance used before any was sent
};
inline constexpr uint8_t kBlockDroppedMatch = 0x80;

// Writes at most size bytes from buffer + output_offset on; the output_offset bytes
// before it are history that matches may copy from. The cursor stands on the block's
// first payload bit. Returns the number of bytes produced (fewer than size when the
// block ends early) or a negative ResultCode; leaves the cursor on a byte boundary.
ResultCode decode_block(uint8_t* buffer, uint32_t output_offset, uint32_t size);

// Decodes the payload of one compressed block: LZ77 literals and matches under
// canonical Huffman codes, with up to 63 table sets, up to three distance alphabets and
// two remembered distances.
#pragma once

#include <cstdint>

#include "codec/result.h"

// Writes at most size bytes from buffer + output_offset on; the output_offset bytes
// before it are history that matches may copy from. The cursor stands on the block's
// first payload bit. Returns the number of bytes produced (fewer than size when the
// block ends early) or a negative ResultCode; leaves the cursor on a byte boundary.
ResultCode decode_block(uint8_t* buffer, uint32_t output_offset, uint32_t size);

// The same in pieces: opens the block when none is open, then decodes until at least
// `piece` bytes (at most size) are produced or the block ends. A match may run past the
// piece, never past size. While block_decode_open() the block goes on with the next call
// (buffer + output_offset behind what this one produced, size reduced by it) and the
// cursor stands on its next bit; once it has ended, the block is closed as after
// decode_block. A negative result closes the block.
ResultCode decode_piece(uint8_t* buffer, uint32_t output_offset, uint32_t size, uint32_t piece);
bool block_decode_open();
// Gives up the open block, if any (its tables' memory).
void close_block_decode();

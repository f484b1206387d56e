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

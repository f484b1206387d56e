// Input side of the archive reader: the chunk framing of compressed streams, the bit
// cursor's refills, stored-block copies and the two small memory routines of the core.
#pragma once

#include <cstdint>

#include "codec/result.h"
#include "common/byte_order.h"

// next_chunk false: loads more bytes of the current chunk (the bit readers call it once
// the cursor has reached input_end); -50 when the chunk has none left. next_chunk true:
// loads the next chunk, which begins right behind the last byte the previous block used.
// Callers that keep the cursor in locals store it before and reload it after the call.
ResultCode refill_input(bool next_chunk);

// Copies up to count bytes of a stored block (from the next byte boundary) to dest;
// returns the number copied (fewer when the chunk ends) or a negative ResultCode.
ResultCode copy_stored(uint8_t* dest, uint32_t count);

// Bytes loaded into the input buffer and not yet consumed by the cursor.
uint32_t unconsumed_input();

// Empties the input: the cursor stands at the buffer's start with nothing loaded, and no
// bytes of a chunk are left to read, so a continuing refill finds none.
void reset_input();

// Sets the stream's input aside so that another reader may use the input buffer and
// the file: resume_position then points at the next unconsumed byte of the stream and
// the buffer holds nothing of it, so the stream's next chunk is read from there.
void park_stream_input();

// Ascending copy, eight bytes at a time; safe for overlaps with dest below src.
void copy_forward(void* dest, const void* src, uint32_t count);
void fill_bytes(void* dest, uint32_t value, uint32_t count);

// Produces one entry's contents from its solid stream.
#pragma once

#include <cstdint>

#include "codec/result.h"
#include "platform/fs.h"

// Hands exactly `size` bytes of the member at stream_position to the output (kNoFile:
// decode and count into the CRC without writing). On 0, archive_reader.running_crc
// holds the standard CRC-32 of those bytes. A stream that ends before `size` bytes is
// damaged (-11).
ResultCode extract_stream(FileHandle output, uint32_t stream_offset, uint32_t stream_position,
                          uint32_t size, uint8_t flags);

// Copies up to `count` bytes of the decompressed stream, from stream_position on, into
// `out`: member headers and names as they lie. Returns how many there were (fewer where
// the stream ends), or the failure. zpx test walks a stream's members with it.
ResultCode read_stream(uint32_t stream_offset, uint32_t stream_position, uint8_t* out,
                       uint32_t count);

// The output stage of a file whose contents carry the call-address transform: restores
// every operand behind an 0xE8 opcode, counts the restored bytes into the running CRC
// and writes them.
#pragma once

#include <cstdint>

#include "codec/result.h"
#include "platform/fs.h"

// Staging buffer of one call and the opcode positions a batch may test per width.
inline constexpr uint32_t kFilterStagingSize = 16384;

// Filters one run (handle kNoFile: restore and count without writing). run_offset is the
// file position of the run's first byte, file_size the file's full length. Uses and
// updates archive_reader.filter_width (2 or 4) and running_crc. 0, -25 or -8.
ResultCode filter_output_run(FileHandle handle, const uint8_t* data, uint32_t length,
                             uint32_t run_offset, uint32_t file_size);

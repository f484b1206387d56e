// The one process-wide record of the archive reader: the installer's own file, the
// input buffer and bit cursor, chunk bookkeeping, the history window of the current
// stream, the output CRC and filter state, and the directory pointers.
#pragma once

#include <cstdint>

#include "codec/result.h"
#include "platform/fs.h"

struct ArchiveReader {
  // Installer file.
  FileHandle archive_file;
  uint32_t file_position;  // the reader's copy of the OS file pointer
  uint32_t archive_base;   // file offset of the appended archive

  // Input side (chunk input).
  uint8_t* input_buffer;     // format::kInputBufferSize bytes
  const uint8_t* cursor;     // byte holding the next unread bit
  uint32_t bit_offset;       // bits of *cursor already consumed, 0..7
  const uint8_t* input_end;  // a symbol may start only while cursor < input_end
  uint32_t chunk_unread;     // bytes of the current chunk not yet read from the file
  uint32_t resume_position;  // file offset behind the last byte loaded for the stream

  // Block stream.
  int32_t stream_start;  // file offset of the stream's first chunk; -1 = none
  uint8_t* history;
  uint32_t history_capacity;
  uint32_t block_offset;
  uint32_t window_start;  // 64-bit hosts: where the window in front of block_offset begins
  uint32_t block_start;
  uint32_t block_size;
  uint8_t last_block;
  uint8_t block_pending;
  uint8_t stream_started;
  uint8_t block_end;  // why the last compressed block's decoding stopped (BlockEnd)

  // Output.
  uint32_t running_crc;
  uint32_t filter_width;

  // Directory.
  uint32_t directory_position;
  uint8_t* entry_read_pointer;
  uint8_t* entry_end_pointer;
};

extern ArchiveReader archive_reader;

// Reads from the installer's own file (archive_file) and keeps file_position in step with
// the OS file pointer: the file layer's count, or -1 with file_position unchanged.
int32_t archive_read(void* buffer, uint32_t count);

// Begins a run of the reader (one extraction or one walk of the directory): allocates the
// input buffer, holds no stream, and places the directory's first block at
// directory_position, the entries at the start of the staging area. -2 when the buffer
// cannot be allocated.
ResultCode begin_reading(uint8_t* staging, uint32_t directory_position);
// Ends the run: releases the input buffer and the HistoryBuffer.
void end_reading();

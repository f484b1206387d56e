// The archive's directory: blocks of entry records, read one block at a time into the
// extraction's 8,192-byte staging area.
#pragma once

#include <cstdint>

#include "codec/result.h"

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
static_assert(sizeof(EntryRecord) == 38);

// Decodes the block at archive_reader.directory_position into staging and moves
// directory_position to the next block.
ResultCode read_directory_block(uint8_t* staging);

// Parses the next entry: reads a further block when fewer than 38 decoded bytes are
// left, copies the record out, points *name at its name bytes (not terminated) and
// moves past the name and the skipped bytes. Returns 0, -11 for a directory that is
// damaged or ends early, or the block reader's failure.
ResultCode parse_next_entry(uint8_t* staging, EntryRecord* entry, const uint8_t** name);

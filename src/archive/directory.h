// The archive's directory: blocks of entry records, read one block at a time into the
// extraction's 8,192-byte staging area.
#pragma once

#include <cstdint>

#include "codec/format.h"
#include "codec/result.h"

// Decodes the block at archive_reader.directory_position into staging and moves
// directory_position to the next block.
ResultCode read_directory_block(uint8_t* staging);

// Parses the next entry: reads a further block when fewer than 38 decoded bytes are
// left, copies the record out, points *name at its name bytes (not terminated) and
// moves past the name and the skipped bytes. Returns 0, -11 for a directory that is
// damaged or ends early, or the block reader's failure.
ResultCode parse_next_entry(uint8_t* staging, EntryRecord* entry, const uint8_t** name);

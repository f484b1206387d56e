// The standard reflected CRC-32 (polynomial 0xEDB88320), without built-in inversion.
#pragma once

#include <cstdint>

// Fills archive_reader.crc_table.
void crc_build_table();
// Runs the register over the bytes; the caller chooses the start value and the end.
uint32_t crc_update(const void* data, uint32_t length, uint32_t crc);

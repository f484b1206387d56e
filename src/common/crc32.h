// The standard reflected CRC-32 (polynomial 0xEDB88320), without built-in inversion: the
// installer's self-check and member checks, and the packer's member CRCs and stamping.
#pragma once

#include <cstdint>

// The register's one-byte table; filled by crc_build_table.
extern uint32_t crc_table[256];

// Fills the tables, once per process before the first crc_update.
void crc_build_table();
// Runs the register over the bytes; the caller chooses the start value and the end.
uint32_t crc_update(const void* data, uint32_t length, uint32_t crc);

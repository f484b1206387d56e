// The installer file as a whole: the stub's IntegrityRecord, the self-check, and the
// 42-byte archive header behind the stub.
#pragma once

#include <cstdint>

#include "codec/result.h"

// Stored in the stub's initialised data right behind kIntegrityTag, so that the packer
// can find and stamp it in any stub built by this project.
struct IntegrityRecord {
  uint32_t stub_length;       // also the file offset of the archive
  uint32_t crc_field_offset;  // file offset of expected_crc itself
  uint32_t expected_crc;      // CRC register after the stub, field taken as zero, not inverted
};

inline constexpr char kIntegrityTag[16] = {'Z', 'P', 'X', '-', 'I', 'N', 'T', 'E',
                                           'G', 'R', 'I', 'T', 'Y', '-', 'v', '1'};
inline constexpr uint32_t kIntegrityTagSize = 16;

struct IntegrityBlock {
  char tag[16];
  IntegrityRecord record;
};

// The stub's own record (defined with the entry routine of each build).
extern volatile IntegrityBlock integrity_block;

struct ArchiveHeader {
  uint8_t magic[4];
  uint32_t directory_offset;
  uint32_t entry_count;
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t archive_length;
  uint32_t data_length;
  uint8_t reserved3[12];
  uint16_t trailer;
} __attribute__((packed));
static_assert(sizeof(ArchiveHeader) == 42);

extern ArchiveHeader archive_header;

// 0 when the stub is intact (archive_base is then set); -2, -6, or -1 after the warning.
ResultCode check_installer_image();
// Reads the 42 bytes at archive_base into archive_header: 0, -17 when a seek fails, -6
// when fewer bytes are there.
ResultCode read_archive_header();

// The installer file as a whole: the stub's IntegrityRecord, the self-check, and the
// 42-byte archive header behind the stub.
#pragma once

#include <cstdint>

#include "codec/format.h"
#include "codec/result.h"

// The stub's IntegrityRecord lies in its initialised data right behind kIntegrityTag, so
// that the packer can find and stamp it in any stub built by this project.
struct IntegrityBlock {
  char tag[kIntegrityTagSize];
  IntegrityRecord record;
};

// The stub's own record (defined with the entry routine of each build).
extern volatile IntegrityBlock integrity_block;

extern ArchiveHeader archive_header;

// Checks the stub at the start of archive_file against the record: 0 when it is intact
// (archive_base is then the stub's length), -2, -6, or kResultImageModified. Shows nothing:
// the caller reports the result.
ResultCode check_image(const IntegrityRecord& record);
// The running stub's check against its own record.
ResultCode check_installer_image();
// Reads the 42 bytes at archive_base into archive_header: 0, -17 when a seek fails, -6
// when fewer bytes are there.
ResultCode read_archive_header();

// A small archive writer for tests: every stream and directory block is stored (block
// type 0), so archives of any shape can be built by hand without the compressor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/installer_image.h"

struct TestEntry {
  std::string name;
  std::string contents;
  bool folder = false;
  uint16_t attributes = 0x20;
  uint8_t flags = 0;  // the folder bit is added for folders
  int stream = 0;     // entries with the same number share one solid stream
  uint16_t creation_date = 0, creation_time = 0;
  uint16_t write_date = 0, write_time = 0;
  uint32_t crc_xor = 0;        // non-zero: the recorded CRC is wrong
  std::string skipped;         // bytes behind the name that the reader passes over
  uint32_t name_length = ~0u;  // when set, recorded instead of name.size()
  uint32_t size = ~0u;         // when set, the directory's size instead of contents.size()
  int shares = -1;             // when set, the index of an earlier file whose member this one uses
};

struct TestArchiveOptions {
  uint32_t block_size = 4096;            // largest stored block of a stream
  uint32_t directory_block_size = 8000;  // largest directory block (data bytes)
  int32_t entry_count = -1;              // when set, recorded instead of the real count
};

// The archive (header, streams, directory) as bytes.
std::string build_test_archive(const std::vector<TestEntry>& entries,
                               const TestArchiveOptions& options = {});

// An installer file: `stub_length` bytes of stub holding a valid IntegrityRecord behind
// kIntegrityTag, then the archive. `record` receives the values the stub carries.
std::string build_test_installer(const std::string& archive, uint32_t stub_length,
                                 IntegrityRecord* record);

// The standard CRC-32 (with both inversions), computed bit by bit.
uint32_t test_crc32(const std::string& bytes);

// Common ground of the tests that read the archive's directory: entry records and
// directory blocks as written, and a reader positioned on a directory behind any prefix.
#pragma once

#include <cstdint>
#include <string>

#include "archive/directory.h"
#include "support/bit_writer.h"
#include "support/reader_fixture.h"

// One entry record (38 bytes) with its name and `short_extra` + `extra` skipped bytes.
Bytes record(uint32_t stream_offset, uint32_t position, uint32_t size, const std::string& name,
             uint8_t short_extra = 0, uint16_t extra = 0, uint8_t flags = 0);
// The directory block signature.
Bytes signature();
// A directory block: its signature, then one last chunk holding `decoded`.
Bytes directory_block(const Bytes& decoded, bool stored);

class DirectoryTest : public ReaderTest {
 protected:
  void SetUp() override;
  // An archive of `prefix` then the directory; the reader positioned for it.
  void open_directory(const Bytes& prefix, const Bytes& directory);
  ResultCode next(EntryRecord& e, std::string& name);

  Bytes staging_;
  uint32_t file_size_ = 0;
};

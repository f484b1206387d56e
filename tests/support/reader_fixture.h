// Common ground of the reader tests: a fresh ArchiveReader with its input buffer, the
// CRC table, and archive files on disk.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/archive_reader.h"
#include "codec/format.h"
#include "state/install_state.h"
#include "support/bit_writer.h"

// Resets the ArchiveReader and the install state; owns the input buffer and the files.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Places bytes in the input buffer as the whole of a chunk's data.
  void load_input(const Bytes& bytes);
  // Writes an archive file and makes it the reader's archive_file (position 0).
  void open_archive(const Bytes& bytes);
  // Writes a file and returns its path.
  std::string write_file(const std::string& name, const Bytes& bytes);
  static Bytes read_file(const std::string& path);

  std::vector<uint8_t> input_;
  std::string dir_;
  int archive_fd_ = -1;
};

// The standard CRC-32 of bytes, computed bit by bit (independent of the table).
uint32_t reference_crc(const Bytes& bytes);

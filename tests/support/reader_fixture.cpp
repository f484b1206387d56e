#include "support/reader_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "codec/archive_reader.h"
#include "codec/format.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/fake_ui.h"
#include "support/process_records.h"

void ReaderTest::SetUp() {
  reset_process_records();
  input_.assign(format::kInputBufferSize, 0xCC);
  archive_reader.input_buffer = input_.data();
  archive_reader.stream_start = -1;
  crc_build_table();
  char tmpl[] = "/tmp/zarpex-reader-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
}

void ReaderTest::TearDown() {
  if (archive_reader.history != nullptr) mem_free(archive_reader.history);
  archive_reader.history = nullptr;
  if (archive_fd_ >= 0) close(archive_fd_);
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
}

void ReaderTest::load_input(const Bytes& bytes) {
  ASSERT_LE(bytes.size(), size_t(format::kInputFillMax));
  std::memcpy(input_.data(), bytes.data(), bytes.size());
  std::memset(input_.data() + bytes.size(), 0, format::kInputReadAhead);
  archive_reader.cursor = input_.data();
  archive_reader.bit_offset = 0;
  archive_reader.input_end = input_.data() + bytes.size();
  archive_reader.chunk_unread = 0;
}

std::string ReaderTest::write_file(const std::string& name, const Bytes& bytes) {
  const std::string path = dir_ + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

Bytes ReaderTest::read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReaderTest::open_archive(const Bytes& bytes) {
  const std::string path = write_file("archive.bin", bytes);
  if (archive_fd_ >= 0) close(archive_fd_);
  archive_fd_ = open(path.c_str(), O_RDONLY);
  ASSERT_GE(archive_fd_, 0);
  archive_reader.archive_file = archive_fd_;
  archive_reader.file_position = 0;
}

uint32_t reference_crc(const Bytes& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

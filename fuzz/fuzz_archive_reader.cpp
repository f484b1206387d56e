// Feeds fuzzer input to the archive readers as the installer's own file.
//
// Input: byte 0 selects the walk (bit 0: the directory walk, else one stream; with bit 0,
// bit 1: the rest is a whole archive whose header names the directory, else the rest
// starts with the directory), bytes 1 to 4 a stream position and 5 to 8 a size for the
// single-stream walk; the rest is the archive (archive_base 0). The walks extract with
// kNoFile, so nothing is written.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/directory.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/format.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

constexpr uint32_t kMaxEntries = 64;
// Bounds the work per input, not the decoder; above one block (1 MB), so that a stream's
// later blocks keep part of the earlier ones as their window.
constexpr uint32_t kMaxSize = 1u << 21;

int archive_fd() {
  static const int fd = memfd_create("archive", 0);
  return fd;
}

uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const int fd = archive_fd();
  if (fd < 0 || ftruncate(fd, 0) != 0) abort();
  const size_t body = size - 9;
  if (body != 0 && pwrite(fd, data + 9, body, 0) != static_cast<ssize_t>(body)) abort();
  if (lseek(fd, 0, SEEK_SET) != 0) abort();

  std::memset(&archive_reader, 0, sizeof archive_reader);
  crc_build_table();
  install_state.cancel_requested = 0;

  // Exact sizes (the POSIX mem_alloc is malloc), so that ASan sees any access past them.
  uint8_t* staging = static_cast<uint8_t*>(std::malloc(format::kEntryStagingSize));
  archive_reader.archive_file = fd;
  if (begin_reading(staging, 0) != 0) abort();

  if (data[0] & 1) {
    if ((data[0] & 2) && body >= format::kHeaderSize) {
      archive_reader.directory_position = le32(data + 9 + format::kHeaderDirectoryOffset);
      archive_reader.file_position = static_cast<uint32_t>(-1);  // the first read seeks
    }
    for (uint32_t i = 0; i < kMaxEntries; ++i) {
      EntryRecord entry;
      const uint8_t* name = nullptr;
      if (parse_next_entry(staging, &entry, &name) != 0) break;
      if (entry.flags & format::kFlagFolder) continue;
      const uint32_t n = entry.size < kMaxSize ? entry.size : kMaxSize;
      extract_stream(kNoFile, entry.stream_offset, entry.stream_position, n, entry.flags);
    }
  } else {
    const uint32_t position = le32(data + 1) % (1u << 20);
    const uint32_t n = le32(data + 5) % kMaxSize;
    // Twice: the second call continues or restarts the stream held by the first.
    extract_stream(kNoFile, 0, position, n, data[0] >> 1);
    extract_stream(kNoFile, 0, position + n / 2, n, data[0] >> 1);
  }

  end_reading();
  std::free(staging);
  return 0;
}

// Decode speed: one solid stream compressed by the packer, decoded from a file in the
// page cache with extract_stream (kNoFile: decode, CRC, no writes), plus the CRC alone.
// Prints MB/s of decoded output.
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "builder/stream_encoder.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/crc32.h"
#include "codec/format.h"
#include "installer/install_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// Text-like data with repeats, and a stretch of noise that stays mostly literal.
std::vector<uint8_t> sample(size_t size) {
  static const char* words[] = {"installer", "archive", "stream", "block", "window", "the", "of",
                                "decode",    "table",   "symbol", "match", "entry",  "and", "a"};
  std::mt19937 rng(1);
  std::vector<uint8_t> out;
  while (out.size() < size * 7 / 8) {
    const std::string w = words[rng() % 14];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
  }
  while (out.size() < size) out.push_back(uint8_t(rng()));
  return out;
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
  const size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) << 20 : 8u << 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::vector<uint8_t> data = sample(size);

  // The member: header (contents length, name length 0, ...), contents, CRC.
  std::vector<uint8_t> stream(11, 0);
  for (int i = 0; i < 4; ++i) stream[i] = uint8_t(data.size() >> (8 * i));
  stream.insert(stream.end(), data.begin(), data.end());
  stream.insert(stream.end(), 4, 0);

  builder::StreamOptions options;
  options.level = 5;
  const auto t0 = Clock::now();
  const std::vector<uint8_t> chunks = builder::compress_stream(
      stream.data(), uint32_t(stream.size()), builder::block_starts(uint32_t(stream.size()), options.block_size), options);
  std::printf("compressed %zu bytes to %zu (%.1f%%) in %.2f s\n", stream.size(), chunks.size(),
              100.0 * double(chunks.size()) / double(stream.size()), seconds_since(t0));

  const int fd = memfd_create("bench", 0);
  if (fd < 0 || write(fd, "ZPXLH", 6) != 6 ||
      write(fd, chunks.data(), chunks.size()) != ssize_t(chunks.size())) {
    std::perror("memfd");
    return 1;
  }

  crc_build_table();
  std::vector<uint8_t> input(format::kInputBufferSize);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    archive_reader.archive_file = fd;
    archive_reader.input_buffer = input.data();
    archive_reader.stream_start = -1;
    archive_reader.archive_base = 0;
    const auto t = Clock::now();
    const ResultCode rc = extract_stream(kNoFile, 0, 0, uint32_t(data.size()), 0);
    const double s = seconds_since(t);
    if (rc != 0 || archive_reader.running_crc != ~crc_update(data.data(), uint32_t(data.size()), 0xFFFFFFFFu)) {
      std::fprintf(stderr, "decode failed: %d\n", rc);
      return 1;
    }
    if (s < best) best = s;
    mem_free(archive_reader.history);
    archive_reader.history = nullptr;
  }
  std::printf("decode + CRC: %.1f MB/s (best of %d, %zu MiB)\n", double(data.size()) / best / 1e6, rounds, size >> 20);

  best = 1e9;
  uint32_t sink = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto t = Clock::now();
    sink ^= crc_update(data.data(), uint32_t(data.size()), 0xFFFFFFFFu);
    const double s = seconds_since(t);
    if (s < best) best = s;
  }
  std::printf("CRC alone: %.1f MB/s (%08x)\n", double(data.size()) / best / 1e6, sink);
  close(fd);
  return 0;
}

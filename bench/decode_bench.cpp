// Decode speed against zlib: each input is compressed once by the packer (one solid
// stream, decoded from a file in the page cache with extract_stream; kNoFile: decode and
// CRC, no writes) and once by zlib at level 9 (decoded by inflate alone, no CRC). Prints
// MB/s of decoded output for both and their ratio, then the CRC alone.
//
// Inputs: a synthetic text-like sample, C++ library headers (text) and MinGW runtime
// DLLs (executables), read from the same paths on every Debian build machine.
// Usage: decode_bench [MiB per input, default 4] [rounds, default 7] [one input's name]
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "builder/stream_encoder.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/crc32.h"
#include "codec/format.h"
#include "state/install_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Text-like data with repeats, and a stretch of noise that stays mostly literal.
std::vector<uint8_t> synthetic(size_t size) {
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

// Concatenates the files (in the given order), at most per_file bytes of each, until size.
std::vector<uint8_t> concatenate(const std::vector<fs::path>& files, size_t size, size_t per_file) {
  std::vector<uint8_t> out;
  for (const fs::path& p : files) {
    if (out.size() >= size) break;
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    const size_t take = std::min({bytes.size(), per_file, size - out.size()});
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
  }
  return out;
}

std::vector<fs::path> files_under(const fs::path& root, const std::string& suffix) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) && (suffix.empty() || it->path().string().ends_with(suffix)))
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The C++ headers as text.
std::vector<uint8_t> text_input(size_t size) {
  return concatenate(files_under("/usr/include/c++/12", ""), size, size);
}

// The MinGW runtime DLLs of one compiler variant and the toolchain's own DLLs, at most
// 1 MiB of each so that several files take part.
std::vector<uint8_t> executable_input(size_t size) {
  std::vector<fs::path> files;
  std::vector<fs::path> variants;
  std::error_code ec;
  if (fs::is_directory("/usr/lib/gcc/i686-w64-mingw32", ec)) {
    for (const auto& e : fs::directory_iterator("/usr/lib/gcc/i686-w64-mingw32", ec))
      variants.push_back(e.path());
  }
  std::sort(variants.begin(), variants.end());
  if (!variants.empty()) {
    for (const fs::path& p : files_under(variants.front(), ".dll")) files.push_back(p);
  }
  for (const fs::path& p : files_under("/usr/i686-w64-mingw32/lib", ".dll")) files.push_back(p);
  return concatenate(files, size, 1u << 20);
}

struct Figures {
  double ours = 0;  // MB/s, decode + CRC
  double zlib = 0;  // MB/s, inflate
  size_t ours_size = 0;
  size_t zlib_size = 0;
};

// Decodes the packer's stream of data and zlib's, alternating rounds so that both see
// the same load on a shared machine; keeps the best round of each. false on any failure.
bool measure(const std::vector<uint8_t>& data, int rounds, Figures& f) {
  // The member: header (contents length, name length 0, ...), contents, CRC.
  std::vector<uint8_t> stream(11, 0);
  for (int i = 0; i < 4; ++i) stream[i] = uint8_t(data.size() >> (8 * i));
  stream.insert(stream.end(), data.begin(), data.end());
  stream.insert(stream.end(), 4, 0);

  builder::StreamOptions options;
  const std::vector<uint8_t> chunks = builder::compress_stream(
      stream.data(), uint32_t(stream.size()),
      builder::block_starts(uint32_t(stream.size()), options.block_size), options);
  f.ours_size = chunks.size();

  uLongf zsize = compressBound(uLong(data.size()));
  std::vector<uint8_t> zdata(zsize);
  if (compress2(zdata.data(), &zsize, data.data(), uLong(data.size()), 9) != Z_OK) return false;
  zdata.resize(zsize);
  f.zlib_size = zsize;

  const int fd = memfd_create("bench", 0);
  if (fd < 0 || write(fd, "ZPXLH", 6) != 6 ||
      write(fd, chunks.data(), chunks.size()) != ssize_t(chunks.size())) {
    std::perror("memfd");
    return false;
  }

  const uint32_t expected_crc = ~crc_update(data.data(), uint32_t(data.size()), 0xFFFFFFFFu);
  std::vector<uint8_t> input(format::kInputBufferSize);
  std::vector<uint8_t> inflated(data.size());
  double best_ours = 1e9, best_zlib = 1e9;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    archive_reader.archive_file = fd;
    archive_reader.input_buffer = input.data();
    archive_reader.stream_start = -1;
    archive_reader.archive_base = 0;
    auto t = Clock::now();
    const ResultCode rc = extract_stream(kNoFile, 0, 0, uint32_t(data.size()), 0);
    double s = seconds_since(t);
    if (rc != 0 || archive_reader.running_crc != expected_crc) {
      std::fprintf(stderr, "decode failed: %d\n", rc);
      ok = false;
    }
    best_ours = std::min(best_ours, s);
    mem_free(archive_reader.history);
    archive_reader.history = nullptr;

    uLongf out_size = uLongf(inflated.size());
    t = Clock::now();
    const int zrc = uncompress(inflated.data(), &out_size, zdata.data(), uLong(zdata.size()));
    s = seconds_since(t);
    if (zrc != Z_OK || out_size != data.size() || inflated != data) {
      std::fprintf(stderr, "inflate failed: %d\n", zrc);
      ok = false;
    }
    best_zlib = std::min(best_zlib, s);
  }
  close(fd);
  f.ours = double(data.size()) / best_ours / 1e6;
  f.zlib = double(data.size()) / best_zlib / 1e6;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) << 20 : 4u << 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  crc_build_table();

  struct Input {
    const char* name;
    std::vector<uint8_t> data;
  };
  Input inputs[] = {{"synthetic", synthetic(size)},
                    {"text", text_input(size)},
                    {"executable", executable_input(size)}};

  std::printf("%-11s %9s %8s %8s %12s %12s %7s\n", "input", "bytes", "ours %", "zlib %",
              "ours MB/s", "inflate MB/s", "ratio");
  int status = 0;
  for (const Input& in : inputs) {
    if (argc > 3 && std::string(argv[3]) != in.name) continue;
    if (in.data.empty()) {
      std::printf("%-11s (no files found)\n", in.name);
      continue;
    }
    Figures f;
    if (!measure(in.data, rounds, f)) status = 1;
    std::printf("%-11s %9zu %7.1f%% %7.1f%% %12.1f %12.1f %6.2fx\n", in.name, in.data.size(),
                100.0 * double(f.ours_size) / double(in.data.size()),
                100.0 * double(f.zlib_size) / double(in.data.size()), f.ours, f.zlib,
                f.ours / f.zlib);
    std::fflush(stdout);
  }

  const std::vector<uint8_t>& data = inputs[0].data;
  double best = 1e9;
  uint32_t sink = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto t = Clock::now();
    sink += crc_update(data.data(), uint32_t(data.size()), 0xFFFFFFFFu);
    best = std::min(best, seconds_since(t));
  }
  std::printf("CRC alone: %.1f MB/s (%08x)\n", double(data.size()) / best / 1e6, sink);
  return status;
}

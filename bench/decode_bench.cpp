// Decode speed against zlib: each input is compressed once by the packer (one solid
// stream, decoded from a file in the page cache with extract_stream; kNoFile: decode and
// CRC, no writes) and once by zlib at level 9 (decoded by inflate alone, no CRC). Prints
// MB/s of decoded output for both and their ratio, then the CRC alone.
//
// Inputs: a synthetic text-like sample, C++ library headers (text) and MinGW runtime
// DLLs (executables), read from the same paths on every Debian build machine.
// Usage: decode_bench [MiB per input, default 4] [rounds, default 7] [one input's name]
//
// Archive mode, also built for Win32 (the i686 build decodes with the stub's own code
// paths and compiler flags): decodes every file of each archive as the installer does,
// output discarded, CRCs checked, and prints MB/s of the files' bytes (best round).
// Usage: decode_bench --archive [--rounds N] FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/directory.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/format.h"
#include "common/crc32.h"
#include "platform/fs.h"

#if ZARPEX_BENCH_ZLIB
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "builder/stream_encoder.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Decodes every file of the archive at path once; adds the files' bytes to *bytes.
// false when the archive cannot be read or a CRC differs.
bool decode_archive(const char* path, uint64_t* bytes) {
  std::string name = path;
#if !defined(_WIN32)
  std::replace(name.begin(), name.end(), '/', '\\');  // the file layer takes Windows paths
#endif
  const FileHandle file = fs_open_existing(name.c_str(), kGenericRead);
  if (file == kNoFile) return false;
  uint8_t header[format::kHeaderSize];
  const bool read = fs_read(file, header, sizeof header) == static_cast<int32_t>(sizeof header);
  std::memset(&archive_reader, 0, sizeof archive_reader);
  archive_reader.archive_file = file;
  archive_reader.stream_start = -1;
  std::memcpy(&archive_reader.directory_position, header + format::kHeaderDirectoryOffset, 4);
  uint32_t count = 0;
  std::memcpy(&count, header + format::kHeaderEntryCount, 4);
  crc_build_table();
  std::vector<uint8_t> input(format::kInputBufferSize);
  std::vector<uint8_t> staging(format::kEntryStagingSize);
  archive_reader.input_buffer = input.data();
  archive_reader.entry_read_pointer = archive_reader.entry_end_pointer = staging.data();
  bool ok = read;
  for (uint32_t i = 0; i < count && ok; ++i) {
    EntryRecord entry;
    const uint8_t* entry_name;
    if (parse_next_entry(staging.data(), &entry, &entry_name) != 0) {
      ok = false;
    } else if (!(entry.flags & format::kFlagFolder)) {
      ok = extract_stream(kNoFile, entry.stream_offset, entry.stream_position, entry.size,
                          entry.flags) == 0 &&
           archive_reader.running_crc == entry.crc;
      *bytes += entry.size;
    }
  }
  if (archive_reader.history != nullptr) mem_free(archive_reader.history);
  archive_reader.history = nullptr;
  fs_close(file);
  return ok;
}

int archive_mode(int argc, char** argv) {
  int rounds = 7;
  int first = 2;
  if (argc > 3 && std::strcmp(argv[2], "--rounds") == 0) {
    rounds = std::atoi(argv[3]);
    first = 4;
  }
  std::printf("%-40s %12s %10s\n", "archive", "file bytes", "MB/s");
  int status = 0;
  for (int a = first; a < argc; ++a) {
    double best = 1e30;
    uint64_t bytes = 0;
    for (int r = 0; r < rounds; ++r) {
      bytes = 0;
      const auto t = Clock::now();
      if (!decode_archive(argv[a], &bytes)) {
        std::fprintf(stderr, "%s: not decoded\n", argv[a]);
        status = 1;
        break;
      }
      best = std::min(best, seconds_since(t));
    }
    std::printf("%-40s %12llu %10.1f\n", argv[a], static_cast<unsigned long long>(bytes),
                double(bytes) / best / 1e6);
    std::fflush(stdout);
  }
  return status;
}

#if ZARPEX_BENCH_ZLIB
namespace fs = std::filesystem;

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

#endif  // ZARPEX_BENCH_ZLIB

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--archive") == 0) return archive_mode(argc, argv);
#if ZARPEX_BENCH_ZLIB
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
#else
  std::fprintf(stderr, "usage: decode_bench --archive [--rounds N] FILE...\n");
  return 2;
#endif
}

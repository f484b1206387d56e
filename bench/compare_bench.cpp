// Compression ratio, compression speed per level, and decode + CRC speed of the packer
// and the installer's engine, side by side with zlib -9, libdeflate -12, zstd -19 with a
// long window, and xz -9 (with its x86 filter on the executables). Everything runs in
// memory except that the engine reads its archive from a file in /dev/shm, as the
// installer reads its own file. Prints markdown tables.
//
//   compare_bench CORPUS_DIR [--levels 1,5,9]
//
// CORPUS_DIR holds the folders executables, text and mixed (scripts/bench-corpus.sh).
#include <fcntl.h>
#include <libdeflate.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/directory.h"
#include "builder/archive_writer.h"
#include "builder/source_tree.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/format.h"
#include "common/crc32.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double seconds_of(const std::function<void()>& run, int repeats) {
  double best = 1e30;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

double mb_per_s(size_t bytes, double s) {
  return static_cast<double>(bytes) / 1e6 / s;
}

struct Corpus {
  std::string name;
  std::vector<builder::SourceEntry> entries;  // contents in memory
  Bytes joined;                               // all contents in directory order
};

bool load(const std::string& dir, const std::string& name, Corpus* c) {
  std::string error;
  c->name = name;
  if (!builder::scan_tree(dir + "/" + name, &c->entries, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  for (auto& e : c->entries) {
    if (e.folder) continue;
    FILE* f = std::fopen(e.path.c_str(), "rb");
    if (!f) return false;
    e.contents.resize(e.size);
    if (e.size && std::fread(e.contents.data(), 1, e.size, f) != e.size) return false;
    std::fclose(f);
    e.path.clear();
    c->joined.insert(c->joined.end(), e.contents.begin(), e.contents.end());
  }
  return true;
}

// Decodes every file of the archive with the installer's engine, output discarded,
// checking each CRC. Returns false on any failure.
bool engine_extract_all(const std::string& path, uint32_t* files) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  uint8_t header[42];
  if (pread(fd, header, 42, 0) != 42) return false;
  uint32_t directory_offset, count;
  std::memcpy(&directory_offset, header + 4, 4);
  std::memcpy(&count, header + 8, 4);
  std::memset(&archive_reader, 0, sizeof archive_reader);
  archive_reader.archive_file = fd;
  archive_reader.input_buffer = static_cast<uint8_t*>(mem_alloc(format::kInputBufferSize));
  archive_reader.stream_start = -1;
  archive_reader.directory_position = directory_offset;
  crc_build_table();
  static uint8_t staging[format::kEntryStagingSize];
  archive_reader.entry_read_pointer = archive_reader.entry_end_pointer = staging;
  bool ok = true;
  *files = 0;
  for (uint32_t i = 0; i < count && ok; ++i) {
    EntryRecord r;
    const uint8_t* name;
    if (parse_next_entry(staging, &r, &name) != 0)
      ok = false;
    else if (!(r.flags & format::kFlagFolder)) {
      ok = extract_stream(kNoFile, r.stream_offset, r.stream_position, r.size, r.flags) == 0 &&
           archive_reader.running_crc == r.crc;
      ++*files;
    }
  }
  if (archive_reader.history) mem_free(archive_reader.history);
  mem_free(archive_reader.input_buffer);
  close(fd);
  return ok;
}

struct Result {
  size_t size = 0;
  double compress_mbs = 0, decode_mbs = 0;
};

Result run_zlib(const Bytes& in) {
  Result r;
  Bytes out(compressBound(in.size()));
  uLongf n = 0;
  r.compress_mbs = mb_per_s(in.size(), seconds_of(
                                           [&] {
                                             n = out.size();
                                             compress2(out.data(), &n, in.data(), in.size(), 9);
                                           },
                                           1));
  r.size = n;
  Bytes back(in.size());
  r.decode_mbs = mb_per_s(in.size(), seconds_of(
                                         [&] {
                                           uLongf m = back.size();
                                           uncompress(back.data(), &m, out.data(), n);
                                           volatile uLong crc =
                                               crc32(0, back.data(), static_cast<uInt>(m));
                                           (void)crc;
                                         },
                                         3));
  if (back != in) std::fprintf(stderr, "zlib round trip failed\n");
  return r;
}

Result run_libdeflate(const Bytes& in) {
  Result r;
  libdeflate_compressor* c = libdeflate_alloc_compressor(12);
  Bytes out(libdeflate_deflate_compress_bound(c, in.size()));
  r.compress_mbs = mb_per_s(in.size(), seconds_of(
                                           [&] {
                                             r.size = libdeflate_deflate_compress(
                                                 c, in.data(), in.size(), out.data(), out.size());
                                           },
                                           1));
  libdeflate_free_compressor(c);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  Bytes back(in.size());
  r.decode_mbs = mb_per_s(in.size(), seconds_of(
                                         [&] {
                                           size_t m = 0;
                                           libdeflate_deflate_decompress(
                                               d, out.data(), r.size, back.data(), back.size(), &m);
                                           volatile uint32_t crc =
                                               libdeflate_crc32(0, back.data(), m);
                                           (void)crc;
                                         },
                                         3));
  libdeflate_free_decompressor(d);
  if (back != in) std::fprintf(stderr, "libdeflate round trip failed\n");
  return r;
}

Result run_zstd(const Bytes& in) {
  Result r;
  Bytes out(ZSTD_compressBound(in.size()));
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 19);
  ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
  ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 27);
  r.compress_mbs = mb_per_s(
      in.size(),
      seconds_of([&] { r.size = ZSTD_compress2(c, out.data(), out.size(), in.data(), in.size()); },
                 1));
  ZSTD_freeCCtx(c);
  ZSTD_DCtx* d = ZSTD_createDCtx();
  ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, 27);
  Bytes back(in.size());
  r.decode_mbs = mb_per_s(in.size(), seconds_of(
                                         [&] {
                                           const size_t m = ZSTD_decompressDCtx(
                                               d, back.data(), back.size(), out.data(), r.size);
                                           volatile uLong crc =
                                               crc32(0, back.data(), static_cast<uInt>(m));
                                           (void)crc;
                                         },
                                         3));
  ZSTD_freeDCtx(d);
  if (back != in) std::fprintf(stderr, "zstd round trip failed\n");
  return r;
}

Result run_xz(const Bytes& in, bool x86) {
  Result r;
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 9);
  lzma_filter filters[3];
  int f = 0;
  if (x86) filters[f++] = {LZMA_FILTER_X86, nullptr};
  filters[f++] = {LZMA_FILTER_LZMA2, &options};
  filters[f] = {LZMA_VLI_UNKNOWN, nullptr};
  Bytes out(lzma_stream_buffer_bound(in.size()));
  r.compress_mbs =
      mb_per_s(in.size(), seconds_of(
                              [&] {
                                size_t pos = 0;
                                if (lzma_stream_buffer_encode(filters, LZMA_CHECK_NONE, nullptr,
                                                              in.data(), in.size(), out.data(),
                                                              &pos, out.size()) != LZMA_OK)
                                  std::fprintf(stderr, "xz compression failed\n");
                                r.size = pos;
                              },
                              1));
  Bytes back(in.size());
  r.decode_mbs =
      mb_per_s(in.size(),
               seconds_of(
                   [&] {
                     uint64_t limit = UINT64_MAX;
                     size_t in_pos = 0, out_pos = 0;
                     if (lzma_stream_buffer_decode(&limit, 0, nullptr, out.data(), &in_pos, r.size,
                                                   back.data(), &out_pos, back.size()) != LZMA_OK)
                       std::fprintf(stderr, "xz decompression failed\n");
                     volatile uLong crc = crc32(0, back.data(), static_cast<uInt>(out_pos));
                     (void)crc;
                   },
                   3));
  if (back != in) std::fprintf(stderr, "xz round trip failed\n");
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: compare_bench CORPUS_DIR [--levels 1,5,9]\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<int> levels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  if (argc >= 4 && std::strcmp(argv[2], "--levels") == 0) {
    levels.clear();
    for (const char* p = argv[3]; *p; ++p)
      if (*p >= '1' && *p <= '9') levels.push_back(*p - '0');
  }
  const int best = levels.back();
  const std::string shm = "/dev/shm/zarpex-bench-" + std::to_string(getpid()) + ".zpx";

  struct Row {
    std::string name;
    size_t input;
    std::vector<std::pair<int, Result>> ours;
    Result zlib, deflate, zstd, xz;
  };
  std::vector<Row> rows;
  for (const char* name : {"executables", "text", "mixed"}) {
    Corpus corpus;
    if (!load(dir, name, &corpus)) {
      std::fprintf(stderr, "cannot load corpus %s/%s (run scripts/bench-corpus.sh)\n", dir.c_str(),
                   name);
      return 1;
    }
    Row row;
    row.name = name;
    row.input = corpus.joined.size();
    std::fprintf(stderr, "%s: %zu bytes\n", name, row.input);
    for (int level : levels) {
      Result r;
      Bytes archive;
      builder::PackStats stats;
      std::string error;
      builder::PackOptions options;
      options.level = level;
      options.threads = 1;  // as the others: one thread
      r.compress_mbs = mb_per_s(
          row.input, seconds_of(
                         [&] {
                           std::vector<builder::SourceEntry> entries = corpus.entries;
                           if (!builder::build_archive(entries, options, &archive, &stats, &error))
                             std::fprintf(stderr, "%s\n", error.c_str());
                         },
                         1));
      r.size = archive.size();
      FILE* f = std::fopen(shm.c_str(), "wb");
      std::fwrite(archive.data(), 1, archive.size(), f);
      std::fclose(f);
      bool ok = true;
      r.decode_mbs = mb_per_s(row.input, seconds_of(
                                             [&] {
                                               uint32_t files;
                                               ok = ok && engine_extract_all(shm, &files);
                                             },
                                             3));
      if (!ok) std::fprintf(stderr, "level %d: the engine did not read the archive back\n", level);
      std::fprintf(stderr, "  level %d: %zu bytes, %.2f MB/s, decode + CRC %.1f MB/s\n", level,
                   r.size, r.compress_mbs, r.decode_mbs);
      row.ours.push_back({level, r});
    }
    std::remove(shm.c_str());
    row.zlib = run_zlib(corpus.joined);
    row.deflate = run_libdeflate(corpus.joined);
    row.zstd = run_zstd(corpus.joined);
    row.xz = run_xz(corpus.joined, std::string(name) == "executables");
    rows.push_back(row);
  }

  auto pct = [](size_t a, size_t b) {
    return 100.0 * static_cast<double>(a) / static_cast<double>(b);
  };
  std::printf("### Compressed size (bytes, %% of input)\n\n");
  std::printf(
      "| Corpus | Input | zpx -%d | zlib -9 | libdeflate -12 | zstd -19 --long | xz -9%s |\n", best,
      "");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Row& r : rows) {
    const Result& ours = r.ours.back().second;
    std::printf(
        "| %s | %zu | %zu (%.1f%%) | %zu (%.1f%%) | %zu (%.1f%%) | %zu (%.1f%%) | %zu (%.1f%%)%s "
        "|\n",
        r.name.c_str(), r.input, ours.size, pct(ours.size, r.input), r.zlib.size,
        pct(r.zlib.size, r.input), r.deflate.size, pct(r.deflate.size, r.input), r.zstd.size,
        pct(r.zstd.size, r.input), r.xz.size, pct(r.xz.size, r.input),
        r.name == "executables" ? " (x86 filter)" : "");
  }
  std::printf("\n### Compression speed (MB/s of input, one thread)\n\n| Corpus |");
  for (int level : levels) std::printf(" zpx -%d |", level);
  std::printf(" zlib -9 | libdeflate -12 | zstd -19 | xz -9 |\n|---|");
  for (size_t i = 0; i < levels.size() + 4; ++i) std::printf("---:|");
  std::printf("\n");
  for (const Row& r : rows) {
    std::printf("| %s |", r.name.c_str());
    for (const auto& [level, res] : r.ours) std::printf(" %.2f |", res.compress_mbs);
    std::printf(" %.2f | %.2f | %.2f | %.2f |\n", r.zlib.compress_mbs, r.deflate.compress_mbs,
                r.zstd.compress_mbs, r.xz.compress_mbs);
  }
  std::printf("\n### Size by level (bytes)\n\n| Corpus |");
  for (int level : levels) std::printf(" -%d |", level);
  std::printf("\n|---|");
  for (size_t i = 0; i < levels.size(); ++i) std::printf("---:|");
  std::printf("\n");
  for (const Row& r : rows) {
    std::printf("| %s |", r.name.c_str());
    for (const auto& [level, res] : r.ours) std::printf(" %zu |", res.size);
    std::printf("\n");
  }
  std::printf("\n### Decode + CRC-32 (MB/s of output)\n\n");
  std::printf("| Corpus | zpx engine (-%d archive) | zlib inflate | libdeflate | zstd | xz |\n",
              best);
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const Row& r : rows)
    std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %.1f |\n", r.name.c_str(),
                r.ours.back().second.decode_mbs, r.zlib.decode_mbs, r.deflate.decode_mbs,
                r.zstd.decode_mbs, r.xz.decode_mbs);
  std::printf("\n### Targets\n\n");
  for (const Row& r : rows) {
    const Result& ours = r.ours.back().second;
    std::printf("- %s: zpx -%d is %.1f%% smaller than libdeflate -12 (target: at least 10%%)",
                r.name.c_str(), best, 100.0 - pct(ours.size, r.deflate.size));
    if (r.name == "executables")
      std::printf("; %.1f%% of zstd -19 (target: at most 100%%)", pct(ours.size, r.zstd.size));
    std::printf("; decode + CRC %.2fx zlib (target: at least 2x)\n",
                ours.decode_mbs / r.zlib.decode_mbs);
  }
  return 0;
}

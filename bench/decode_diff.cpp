// Prints what the decoder makes of archives and of damaged copies of them, one line per
// copy, so that two builds of the decoder (another revision, 32- or 64-bit words) can be
// compared with diff: scripts/decode-diff.sh builds this file against two revisions and
// compares their lines.
//
// For each input and each copy (copy 0 is the input itself, the others are changed by a
// seeded mutation: flipped bits, overwritten or copied ranges, a cut-off end), the line
// holds a hash over
//   - the archive walk: every entry of the directory, then for every file entry the
//     result and CRC register of extract_stream and the output of the block in the
//     HistoryBuffer after it;
//   - one block decoded straight from the copy's bytes at a chosen offset, behind 4 KB of
//     earlier output: the result, the output, where the cursor stands.
// Usage: decode_diff [--mutations N] [--seed S] [--skip BYTES] [--fuzz-reader 1] FILE...
// (--skip: a prefix before the archive, 4 for the extraction fuzz target's inputs;
// --fuzz-reader 1: inputs of the archive reader's fuzz target, prefix included.)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/directory.h"
#include "codec/archive_reader.h"
#include "codec/block_decoder.h"
#include "codec/block_stream.h"
#if __has_include("common/crc32.h")  // the CRC-32 moved below the codec
#include "common/crc32.h"
#else
#include "codec/crc32.h"
#endif
#include "codec/format.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint64_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
};

struct Hash {
  uint64_t value = 0xCBF29CE484222325ull;
  // Eight bytes a step, then the rest one by one.
  void add(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (; n >= 8; n -= 8, p += 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      value = (value ^ v) * 0x9E3779B97F4A7C15ull;
      value ^= value >> 29;
    }
    for (; n != 0; --n) value = (value ^ *p++) * 0x100000001B3ull;
  }
  void add32(uint32_t v) { add(&v, sizeof v); }
};

void mutate(Bytes& b, Random& rng) {
  if (b.empty()) return;
  switch (rng.below(5)) {
    case 0:
    case 1: {  // a few flipped bits
      const uint32_t n = 1 + rng.below(4);
      for (uint32_t i = 0; i < n; ++i) b[rng.below(b.size())] ^= uint8_t(1u << rng.below(8));
      break;
    }
    case 2: {  // a short range of random bytes
      const uint32_t at = rng.below(b.size());
      const uint32_t n = 1 + rng.below(16);
      for (uint32_t i = 0; i < n && at + i < b.size(); ++i) b[at + i] = uint8_t(rng.next());
      break;
    }
    case 3: {  // a range copied from elsewhere in the file
      const uint32_t from = rng.below(b.size()), to = rng.below(b.size());
      uint32_t n = 1 + rng.below(4096);
      if (n > b.size() - from) n = uint32_t(b.size() - from);
      if (n > b.size() - to) n = uint32_t(b.size() - to);
      std::memmove(b.data() + to, b.data() + from, n);
      break;
    }
    default:  // the end cut off
      b.resize(rng.below(b.size()));
      break;
  }
}

int archive_fd() {
  static const int fd = memfd_create("archive", 0);
  return fd;
}

// The stream block whose output was hashed last: a block that serves several entries is
// hashed once.
struct Hashed {
  int32_t stream = -1;
  uint32_t start = 0, size = 0;
} hashed;

void hash_extract(uint32_t stream_offset, uint32_t position, uint32_t size, uint8_t flags,
                  Hash& h) {
  const ResultCode rc = extract_stream(kNoFile, stream_offset, position, size, flags);
  const ArchiveReader& r = archive_reader;
  h.add32(uint32_t(rc));
  h.add32(r.running_crc);
  h.add32(r.block_start);
  h.add32(r.block_size);
  if (r.history != nullptr && (r.stream_start != hashed.stream || r.block_start != hashed.start ||
                               r.block_size != hashed.size)) {
    h.add(r.history + r.block_offset, r.block_size);
    hashed = {r.stream_start, r.block_start, r.block_size};
  }
}

// The archive walk over the copy, as the installer's extraction reads it (nothing
// written): the directory from its position, at most count entries.
void walk(const Bytes& archive, uint32_t directory, uint32_t count, Hash& h) {
  const int fd = archive_fd();
  if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
  if (!archive.empty() && pwrite(fd, archive.data(), archive.size(), 0) != ssize_t(archive.size()))
    std::abort();

  std::memset(&archive_reader, 0, sizeof archive_reader);
  crc_build_table();
  install_state.cancel_requested = 0;
  archive_reader.archive_file = fd;
  hashed = {};
  Bytes staging(format::kEntryStagingSize);
  if (begin_reading(staging.data(), directory) != 0) std::abort();
  for (uint32_t i = 0; i < count && i < 4096; ++i) {
    EntryRecord entry;
    const uint8_t* name = nullptr;
    const ResultCode parsed = parse_next_entry(staging.data(), &entry, &name);
    h.add32(uint32_t(parsed));
    if (parsed != 0) break;
    h.add(&entry, sizeof entry);
    h.add(name, entry.name_length);
    if (entry.flags & format::kFlagFolder) continue;
    const uint32_t size = entry.size < (64u << 20) ? entry.size : (64u << 20);
    hash_extract(entry.stream_offset, entry.stream_position, size, entry.flags, h);
  }
  end_reading();
}

// The inputs of the fuzz target over the archive reader: a 9-byte prefix chooses the
// directory walk or one stream read twice (see fuzz/fuzz_archive_reader.cpp).
void fuzz_reader_input(const Bytes& input, Hash& h) {
  if (input.size() < 9) return;
  const Bytes archive(input.begin() + 9, input.end());
  uint32_t a = 0, b = 0;
  std::memcpy(&a, input.data() + 1, 4);
  std::memcpy(&b, input.data() + 5, 4);
  if (input[0] & 1) {
    uint32_t directory = 0;
    if ((input[0] & 2) && archive.size() >= format::kHeaderSize)
      std::memcpy(&directory, archive.data() + format::kHeaderDirectoryOffset, 4);
    walk(archive, directory, 64, h);
    return;
  }
  walk(archive, 0, 0, h);  // writes the file and sets the reader up
  std::memset(&archive_reader, 0, sizeof archive_reader);
  crc_build_table();
  archive_reader.archive_file = archive_fd();
  hashed = {};
  Bytes staging(format::kEntryStagingSize);
  if (begin_reading(staging.data(), 0) != 0) std::abort();
  const uint32_t position = a % (1u << 20), n = b % (1u << 21);
  hash_extract(0, position, n, uint8_t(input[0] >> 1), h);
  hash_extract(0, position + n / 2, n, uint8_t(input[0] >> 1), h);
  end_reading();
}

// One block straight from the copy's bytes at a chosen offset.
void raw_block(const Bytes& archive, Random& rng, Hash& h) {
  if (archive.empty()) return;
  Bytes input(format::kInputBufferSize, 0);
  const uint32_t at = rng.below(archive.size());
  uint32_t n = uint32_t(archive.size() - at);
  if (n > format::kInputFillMax) n = format::kInputFillMax;
  std::memcpy(input.data(), archive.data() + at, n);
  std::memset(&archive_reader, 0, sizeof archive_reader);
  install_state.cancel_requested = 0;
  ArchiveReader& r = archive_reader;
  r.input_buffer = input.data();
  r.cursor = input.data();
  r.bit_offset = rng.below(8);
  r.input_end = input.data() + n;
  const uint32_t history = 4096;
  const uint32_t size = 1 + rng.below(1u << 18);
  Bytes out(history + size + 64);
  for (uint32_t i = 0; i < history; ++i) out[i] = uint8_t(i * 7 + (i >> 5));
  const ResultCode rc = decode_block(out.data(), history, size);
  h.add32(uint32_t(rc));
  h.add(out.data(), history + (rc > 0 ? uint32_t(rc) : 0));
  h.add32(uint32_t(r.cursor - input.data()));
  h.add32(r.bit_offset);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t mutations = 100;
  uint64_t seed = 1;
  uint32_t skip = 0;
  bool fuzz_reader = false;
  int first = 1;
  while (first + 1 < argc && argv[first][0] == '-') {
    if (std::strcmp(argv[first], "--mutations") == 0) {
      mutations = uint32_t(std::strtoul(argv[first + 1], nullptr, 10));
    } else if (std::strcmp(argv[first], "--seed") == 0) {
      seed = std::strtoull(argv[first + 1], nullptr, 10);
    } else if (std::strcmp(argv[first], "--skip") == 0) {
      skip = uint32_t(std::strtoul(argv[first + 1], nullptr, 10));
    } else if (std::strcmp(argv[first], "--fuzz-reader") == 0) {
      fuzz_reader = std::strcmp(argv[first + 1], "1") == 0;
    } else {
      break;
    }
    first += 2;
  }
  for (int a = first; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    Bytes original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    original.erase(original.begin(), original.begin() + (skip < original.size() ? skip : 0));
    for (uint32_t k = 0; k <= mutations; ++k) {
      Random rng{seed * 0x100000001B3ull + uint64_t(a) * 0x10001ull + k};
      Bytes copy = original;
      if (k != 0) {
        const uint32_t rounds = 1 + rng.below(3);
        for (uint32_t i = 0; i < rounds; ++i) mutate(copy, rng);
      }
      Hash h;
      if (fuzz_reader) {
        fuzz_reader_input(copy, h);
      } else if (copy.size() >= format::kHeaderSize) {
        uint32_t directory = 0, count = 0;
        std::memcpy(&directory, copy.data() + format::kHeaderDirectoryOffset, 4);
        std::memcpy(&count, copy.data() + format::kHeaderEntryCount, 4);
        walk(copy, directory, count < 4096 ? count : 4096, h);
      }
      raw_block(copy, rng, h);
      std::printf("%s %u %016llx\n", argv[a], k, static_cast<unsigned long long>(h.value));
    }
  }
  return 0;
}

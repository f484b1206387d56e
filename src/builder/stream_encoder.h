// Compression of one solid stream: the stream's bytes arrive in order, are cut into
// blocks, and every block is parsed and entropy coded by itself (on as many threads as
// asked), seeing only the window the decoder keeps in front of it; the chunks leave in
// order as soon as they are final. The chunks do not depend on the thread count.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codec/format.h"

namespace builder {

// Largest block: its stored chunk (7 bytes of header and padding, then the data) still
// fits the 20-bit chunk length.
inline constexpr uint32_t kMaxStreamBlock = format::kMaxChunkLength - format::kStoredDataOffset;

struct StreamOptions {
  int level = 7;
  uint32_t block_size = kMaxStreamBlock;
  uint32_t max_sets = format::kMaxTableSets;
  uint32_t threads = 1;  // blocks compressed at the same time
};

// Stream positions where blocks begin, the first being 0 (none for an empty stream).
std::vector<uint32_t> block_starts(uint32_t size, uint32_t block_size);

using ProgressFn = std::function<void(uint64_t done)>;
// Receives the chunks in stream order; returns false to stop (a failed write).
using ChunkSink = std::function<bool(const uint8_t* data, size_t size)>;

class StreamEncoder {
 public:
  // A stream of `size` bytes cut at `starts` (block_starts); the chunks go to `sink`
  // (the stream's 6 leading bytes are not included), `progress` hears of every block
  // written with the stream bytes done.
  StreamEncoder(uint32_t size, std::vector<uint32_t> starts, const StreamOptions& options,
                ChunkSink sink, ProgressFn progress = {});
  ~StreamEncoder();
  StreamEncoder(const StreamEncoder&) = delete;
  StreamEncoder& operator=(const StreamEncoder&) = delete;

  // Appends the next bytes of the stream. false once the sink has failed.
  bool append(const uint8_t* data, size_t count);
  // After all `size` bytes: compresses and writes what is left. false if the sink failed.
  bool finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The whole stream at once, for tests and benchmarks: returns the chunks.
std::vector<uint8_t> compress_stream(const uint8_t* data, uint32_t size,
                                     const std::vector<uint32_t>& starts,
                                     const StreamOptions& options, const ProgressFn& progress = {});

// One block of at most kDirectoryChunkMax framed bytes for the directory: compressed with
// two distance tables when that is smaller, else stored.
std::vector<uint8_t> compress_directory_block(const uint8_t* data, uint32_t size);

}  // namespace builder

// Compression of one solid stream: block boundaries, parsing with the reach the
// decoder's history allows, entropy coding, and the chunk framing of every block.
#pragma once

#include <cstdint>
#include <functional>
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
};

// Stream positions where blocks begin, the first being 0 (none for an empty stream).
std::vector<uint32_t> block_starts(uint32_t size, uint32_t block_size);

using ProgressFn = std::function<void(uint64_t done)>;

// Compresses data as one stream cut at the given block starts; returns the chunks (the
// stream's 6 leading bytes are not included).
std::vector<uint8_t> compress_stream(const uint8_t* data, uint32_t size,
                                     const std::vector<uint32_t>& starts,
                                     const StreamOptions& options, const ProgressFn& progress = {});

// One block of at most kDirectoryChunkMax framed bytes for the directory: compressed with
// two distance tables when that is smaller, else stored.
std::vector<uint8_t> compress_directory_block(const uint8_t* data, uint32_t size);

}  // namespace builder

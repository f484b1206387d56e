#include "builder/stream_encoder.h"

#include <algorithm>
#include <memory>

#include "builder/bit_writer.h"
#include "builder/block_encoder.h"
#include "builder/parse.h"
#include "builder/parse_optimal.h"
#include "codec/format.h"

namespace builder {
namespace {

struct ChunkFields {
  uint32_t type;
  bool last;
  uint32_t size;
  uint32_t selector;
};

void put_chunk_header(BitWriter& w, const ChunkFields& f) {
  w.put(f.type, 4);
  w.put(f.last ? 1 : 0, 1);
  w.put(f.size, format::kBlockSizeBits);
  w.put(0, 20);  // chunk length, patched once known
  w.put(f.selector, 5);
}

// Stores the chunk length into bits 25..44 of a finished chunk.
void patch_chunk_length(std::vector<uint8_t>& chunk) {
  const uint64_t length = chunk.size();
  uint8_t head[8] = {};
  const size_t n = std::min<size_t>(8, chunk.size());
  std::copy(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n), head);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | head[i];
  v &= ~(0xFFFFFull << 25);
  v |= (length & 0xFFFFF) << 25;
  for (size_t i = 0; i < n; ++i) chunk[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> stored_chunk(const uint8_t* data, uint32_t size, bool last) {
  BitWriter w;
  put_chunk_header(w, {format::kBlockTypeStored, last, size, 0});
  w.align();
  std::vector<uint8_t> chunk = std::move(w.bytes());
  chunk.insert(chunk.end(), data, data + size);
  patch_chunk_length(chunk);
  return chunk;
}

// The smallest window that keeps `needed` bytes, as a selector.
uint32_t window_selector_for(uint32_t needed, uint32_t* window) {
  uint32_t best_selector = (7u << 2) | 2, best = format::kMaxWindow;
  for (uint32_t row : {0u, 2u}) {
    for (uint32_t column = 0; column < 8; ++column) {
      const uint32_t w = format::kWindowSizeTable[row][column];
      if (w >= needed && w < best) {
        best = w;
        best_selector = (column << 2) | row;
      }
    }
  }
  *window = best;
  return best_selector;
}

// Frames a compressed payload; picks the fixed set when that codes the tokens in fewer
// bits than the transmitted sets.
std::vector<uint8_t> compressed_chunk(const std::vector<Token>& tokens, uint32_t tables,
                                      uint32_t max_sets, const ChunkFields& fields) {
  BitWriter dynamic;
  put_chunk_header(dynamic, fields);
  encode_block(dynamic, tokens, tables, max_sets);
  BitWriter* chosen = &dynamic;
  BitWriter fixed;
  if (fixed_set_codable(tokens)) {
    put_chunk_header(fixed, fields);
    encode_block_fixed(fixed, tokens);
    if (fixed.bit_count() < dynamic.bit_count()) chosen = &fixed;
  }
  chosen->align();
  std::vector<uint8_t> chunk = std::move(chosen->bytes());
  patch_chunk_length(chunk);
  return chunk;
}

}  // namespace

std::vector<uint32_t> block_starts(uint32_t size, uint32_t block_size) {
  std::vector<uint32_t> starts;
  block_size = std::clamp<uint32_t>(block_size, 1, kMaxStreamBlock);
  for (uint64_t p = 0; p < size; p += block_size) starts.push_back(static_cast<uint32_t>(p));
  return starts;
}

std::vector<uint8_t> compress_stream(const uint8_t* data, uint32_t size,
                                     const std::vector<uint32_t>& starts,
                                     const StreamOptions& options, const ProgressFn& progress) {
  std::vector<uint8_t> out;
  const LevelParams params = level_params(options.level);
  HashChainFinder finder(data, size, params.depth, params.nice_length);
  std::unique_ptr<OptimalParser> optimal;
  if (params.optimal) optimal = std::make_unique<OptimalParser>(finder, data, params);
  // What the decoder holds before the next block: a compressed block keeps the last W
  // bytes (W from its selector) of what came before; a stored block keeps everything.
  uint32_t held = 0;
  std::vector<Token> tokens;
  for (size_t b = 0; b < starts.size(); ++b) {
    const uint32_t start = starts[b];
    const uint32_t end = b + 1 < starts.size() ? starts[b + 1] : size;
    const uint32_t block_size = end - start;
    const bool last = b + 1 == starts.size();
    const BlockSpan span{start, end, b == 0 ? 0 : std::min(held, format::kMaxWindow), 3};
    tokens.clear();
    uint32_t needed = 0;
    if (optimal) {
      optimal->parse(span, tokens, &needed);
    } else {
      parse_lazy(finder, data, span, params, tokens, &needed);
    }
    uint32_t window = 0;
    const uint32_t selector = b == 0 ? 0 : window_selector_for(needed, &window);
    std::vector<uint8_t> chunk = compressed_chunk(
        tokens, 3, options.max_sets, {format::kBlockTypeCompressed, last, block_size, selector});
    if (chunk.size() >= block_size + 7u || chunk.size() > format::kMaxChunkLength) {
      chunk = stored_chunk(data + start, block_size, last);
      held += block_size;
    } else {
      held = (b == 0 ? 0 : std::min(held, window)) + block_size;
    }
    out.insert(out.end(), chunk.begin(), chunk.end());
    if (progress) progress(end);
  }
  return out;
}

std::vector<uint8_t> compress_directory_block(const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> chunk = stored_chunk(data, size, true);
  if (size == 0) return chunk;
  const LevelParams params = level_params(9);
  HashChainFinder finder(data, size, params.depth, params.nice_length);
  std::vector<Token> tokens;
  uint32_t needed = 0;
  parse_lazy(finder, data, {0, size, 0, 2}, level_params(6), tokens, &needed);
  std::vector<uint8_t> packed = compressed_chunk(tokens, 2, format::kMaxTableSets,
                                                 {format::kBlockTypeCompressed, true, size, 0});
  if (packed.size() < chunk.size()) return packed;
  return chunk;
}

}  // namespace builder

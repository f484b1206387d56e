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

// Room for the chunk header's fields: the payload follows from bit 50 on.
void reserve_chunk_header(BitWriter& w) {
  w.put(0, format::kPayloadBitOffset / 2);
  w.put(0, format::kPayloadBitOffset - format::kPayloadBitOffset / 2);
}

// Stores the header into a finished chunk, whose length is now known.
void finish_chunk(std::vector<uint8_t>& chunk, format::ChunkHeader header) {
  header.chunk_length = static_cast<uint32_t>(chunk.size());
  format::write_chunk_header(chunk.data(), header);
}

std::vector<uint8_t> stored_chunk(const uint8_t* data, uint32_t size, bool last) {
  BitWriter w;
  reserve_chunk_header(w);
  w.align();
  std::vector<uint8_t> chunk = std::move(w.bytes());
  chunk.insert(chunk.end(), data, data + size);
  finish_chunk(chunk, {format::kBlockTypeStored, last ? 1u : 0u, size, 0, 0});
  return chunk;
}

// The smallest window that keeps `needed` bytes, as a selector.
uint32_t window_selector_for(uint32_t needed, uint32_t* window) {
  uint32_t best_selector = format::window_selector(2, format::kWindowColumns - 1);
  uint32_t best = format::kMaxWindow;
  for (uint32_t row : {0u, 2u}) {  // row 1 repeats row 0
    for (uint32_t column = 0; column < format::kWindowColumns; ++column) {
      const uint32_t w = format::kWindowSizeTable[row][column];
      if (w >= needed && w < best) {
        best = w;
        best_selector = format::window_selector(row, column);
      }
    }
  }
  *window = best;
  return best_selector;
}

// Frames a compressed payload; picks the fixed set when that codes the tokens in fewer
// bits than the transmitted sets.
std::vector<uint8_t> compressed_chunk(const std::vector<Token>& tokens, uint32_t tables,
                                      uint32_t max_sets, const format::ChunkHeader& header) {
  BitWriter dynamic;
  reserve_chunk_header(dynamic);
  encode_block(dynamic, tokens, tables, max_sets);
  BitWriter* chosen = &dynamic;
  BitWriter fixed;
  if (fixed_set_codable(tokens)) {
    reserve_chunk_header(fixed);
    encode_block_fixed(fixed, tokens);
    if (fixed.bit_count() < dynamic.bit_count()) chosen = &fixed;
  }
  chosen->align();
  std::vector<uint8_t> chunk = std::move(chosen->bytes());
  finish_chunk(chunk, header);
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
    const BlockSpan span{start, end, b == 0 ? 0 : std::min(held, format::kMaxWindow),
                         format::kDistanceTables};
    tokens.clear();
    uint32_t needed = 0;
    if (optimal) {
      optimal->parse(span, tokens, &needed);
    } else {
      parse_lazy(finder, data, span, params, tokens, &needed);
    }
    uint32_t window = 0;
    const uint32_t selector = b == 0 ? 0 : window_selector_for(needed, &window);
    std::vector<uint8_t> chunk =
        compressed_chunk(tokens, format::kDistanceTables, options.max_sets,
                         {format::kBlockTypeCompressed, last ? 1u : 0u, block_size, 0, selector});
    if (chunk.size() >= block_size + format::kStoredDataOffset ||
        chunk.size() > format::kMaxChunkLength) {
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
                                                 {format::kBlockTypeCompressed, 1, size, 0, 0});
  if (packed.size() < chunk.size()) return packed;
  return chunk;
}

}  // namespace builder

#include "builder/stream_encoder.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "builder/bit_writer.h"
#include "builder/block_encoder.h"
#include "builder/incompressible.h"
#include "builder/levels.h"
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

// Stores a window selector into a finished chunk.
void patch_window_selector(std::vector<uint8_t>& chunk, uint32_t selector) {
  format::write_field(chunk.data(), format::kWindowSelector, selector);
}

// One block and the window in front of it, and what became of it.
struct BlockJob {
  uint32_t start = 0;    // stream position of the block
  uint32_t size = 0;     // its bytes
  uint32_t history = 0;  // window bytes in front of it in `data`
  bool last = false;
  std::vector<uint8_t> data;
  // Results.
  std::vector<uint8_t> chunk;
  uint32_t needed = 0;  // farthest reach of a match before the block's start
  bool stored = false;
  bool done = false;
};

// What one thread needs to compress blocks; kept from block to block.
class BlockCompressor {
 public:
  BlockCompressor(const LevelParams& params, uint32_t max_sets)
      : params_(params), max_sets_(max_sets) {
    if (params.store) return;  // no match finder, no parser
    finder_ =
        std::make_unique<MatchFinder>(nullptr, 0, params.depth, params.nice_length, params.tree);
    if (params.optimal) optimal_ = std::make_unique<OptimalParser>(params, max_sets);
  }

  void run(BlockJob& job) {
    const uint8_t* data = job.data.data();
    const uint32_t end = job.history + job.size;
    // Data that cannot compress is neither searched nor offered as a match, and a block
    // of nothing else is stored at once.
    if (!params_.store) skip_ = find_incompressible(data, job.history, end);
    if (params_.store || covered(skip_, job.history, end)) {
      job.chunk = stored_chunk(data + job.history, job.size, job.last);
      job.stored = true;
      job.needed = 0;
      std::vector<uint8_t>().swap(job.data);
      return;
    }
    BlockSpan span{job.history, end, job.history, format::kDistanceTables};
    if (!skip_.empty()) span.skip = &skip_;
    finder_->reset(data, end);
    finder_->set_skip(span.skip);
    tokens_.clear();
    if (optimal_) {
      optimal_->parse(*finder_, data, span, tokens_, &job.needed);
    } else {
      parse_lazy(*finder_, data, span, params_, tokens_, &job.needed);
    }
    // The selector is set once the later blocks' reach is known.
    job.chunk =
        compressed_chunk(tokens_, format::kDistanceTables, max_sets_,
                         {format::kBlockTypeCompressed, job.last ? 1u : 0u, job.size, 0, 0});
    job.stored = job.chunk.size() >= job.size + format::kStoredDataOffset ||
                 job.chunk.size() > format::kMaxChunkLength;
    if (job.stored) {
      job.chunk = stored_chunk(data + job.history, job.size, job.last);
      job.needed = 0;
    }
    std::vector<uint8_t>().swap(job.data);
  }

 private:
  LevelParams params_;
  uint32_t max_sets_;
  std::unique_ptr<MatchFinder> finder_;
  std::unique_ptr<OptimalParser> optimal_;
  std::vector<Token> tokens_;
  std::vector<SkipRange> skip_;
};

}  // namespace

std::vector<uint32_t> block_starts(uint32_t size, uint32_t block_size) {
  std::vector<uint32_t> starts;
  block_size = std::clamp<uint32_t>(block_size, 1, kMaxStreamBlock);
  for (uint64_t p = 0; p < size; p += block_size) starts.push_back(static_cast<uint32_t>(p));
  return starts;
}

// Every block is parsed with the whole window its position allows (kMaxWindow bytes, or
// the stream so far). Whether the decoder really keeps that much in front of a block
// depends on the selectors of the blocks before it, so a chunk is written only when the
// reach of every block that could look past its start is known: its selector keeps what
// it needs itself and what those later blocks need across it.
struct StreamEncoder::Impl {
  uint32_t size;
  std::vector<uint32_t> starts;
  StreamOptions options;
  LevelParams params;
  ChunkSink sink;
  ProgressFn progress;
  bool failed = false;

  // The block being filled, with its window in front.
  size_t next_block = 0;  // index of the block being filled
  std::vector<uint8_t> filling;
  uint32_t filling_history = 0;

  // Blocks handed out and not yet written, in stream order.
  std::deque<std::unique_ptr<BlockJob>> pending;
  size_t submitted = 0;
  size_t limit = 1;  // most blocks pending at once

  // Threads: none for one thread (blocks are compressed by the caller).
  std::unique_ptr<BlockCompressor> local;
  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable work_ready, work_done;
  std::deque<BlockJob*> queue;
  bool stopping = false;

  uint32_t block_end(size_t b) const { return b + 1 < starts.size() ? starts[b + 1] : size; }

  void worker() {
    BlockCompressor compressor(params, options.max_sets);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      work_ready.wait(lock, [&] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      BlockJob* job = queue.front();
      queue.pop_front();
      lock.unlock();
      compressor.run(*job);
      lock.lock();
      job->done = true;
      work_done.notify_all();
    }
  }

  void start_block() {
    const uint32_t start = starts[next_block];
    filling_history = std::min(start, format::kMaxWindow);
    filling.reserve(filling_history + (block_end(next_block) - start));
  }

  void submit() {
    auto job = std::make_unique<BlockJob>();
    job->start = starts[next_block];
    job->size = block_end(next_block) - job->start;
    job->history = filling_history;
    job->last = next_block + 1 == starts.size();
    // The next block's window: the last kMaxWindow bytes of this one and its window.
    std::vector<uint8_t> window;
    if (!job->last) {
      const size_t keep = std::min<size_t>(filling.size(), format::kMaxWindow);
      window.assign(filling.end() - static_cast<std::ptrdiff_t>(keep), filling.end());
    }
    job->data = std::move(filling);
    filling = std::move(window);
    ++next_block;
    ++submitted;
    BlockJob* raw = job.get();
    if (workers.empty()) {
      local->run(*raw);
      raw->done = true;
      pending.push_back(std::move(job));
    } else {
      std::lock_guard<std::mutex> lock(mutex);
      pending.push_back(std::move(job));
      queue.push_back(raw);
      work_ready.notify_one();
    }
    if (next_block < starts.size()) start_block();
  }

  // Writes the blocks at the front that are final. With `all`, every block has been
  // handed out and the caller waits for each.
  void write_final(bool all) {
    std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
    if (!workers.empty()) lock.lock();
    while (!pending.empty()) {
      BlockJob& front = *pending.front();
      // The blocks whose matches may reach past this block's start.
      const uint64_t horizon = static_cast<uint64_t>(front.start) + format::kMaxWindow;
      size_t in_range = 0;
      while (in_range < pending.size() && pending[in_range]->start < horizon) ++in_range;
      const bool range_handed_out =
          in_range < pending.size() || next_block >= starts.size() || starts[next_block] >= horizon;
      if (!range_handed_out) return;
      for (size_t i = 0; i < in_range; ++i) {
        if (pending[i]->done) continue;
        if (!all && pending.size() < limit) return;
        work_done.wait(lock, [&] { return pending[i]->done; });
      }
      uint32_t reach = 0;  // bytes before front.start that it or a later block uses
      for (size_t i = 0; i < in_range; ++i) {
        const BlockJob& b = *pending[i];
        const uint32_t ahead = b.start - front.start;
        if (b.needed > ahead) reach = std::max(reach, b.needed - ahead);
      }
      if (!front.stored && front.start != 0)
        patch_window_selector(front.chunk, window_selector(reach));
      std::unique_ptr<BlockJob> job = std::move(pending.front());
      pending.pop_front();
      // The workers go on while the chunk is written.
      if (lock.owns_lock()) lock.unlock();
      if (!failed && !sink(job->chunk.data(), job->chunk.size())) failed = true;
      if (progress && !failed) progress(job->start + job->size);
      job.reset();
      if (!workers.empty()) lock.lock();
    }
  }

  static uint32_t window_selector(uint32_t needed) {
    uint32_t window;
    return window_selector_for(needed, &window);
  }

  void stop_workers() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      queue.clear();  // nothing is left to do after finish(); after a failure, nothing is wanted
    }
    work_ready.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
  }
};

StreamEncoder::StreamEncoder(uint32_t size, std::vector<uint32_t> starts,
                             const StreamOptions& options, ChunkSink sink, ProgressFn progress)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.size = size;
  m.starts = std::move(starts);
  m.options = options;
  m.params = level_params(options.level);
  m.sink = std::move(sink);
  m.progress = std::move(progress);
  const uint32_t threads = std::max<uint32_t>(1, options.threads);
  // Enough blocks in hand for every thread, plus the blocks that one block's selector
  // waits for: the most that begin within a window's reach after a block's start.
  size_t within_window = 0;
  for (size_t b = 0, e = 0; b < m.starts.size(); ++b) {
    while (e < m.starts.size() &&
           m.starts[e] < static_cast<uint64_t>(m.starts[b]) + format::kMaxWindow)
      ++e;
    within_window = std::max(within_window, e - b);
  }
  m.limit = threads + within_window + 1;
  if (threads == 1 || m.starts.size() < 2) {
    m.local = std::make_unique<BlockCompressor>(m.params, options.max_sets);
  } else {
    for (uint32_t t = 0; t < std::min<size_t>(threads, m.starts.size()); ++t)
      m.workers.emplace_back([&m] { m.worker(); });
  }
  if (!m.starts.empty()) m.start_block();
}

StreamEncoder::~StreamEncoder() {
  impl_->stop_workers();
}

bool StreamEncoder::append(const uint8_t* data, size_t count) {
  Impl& m = *impl_;
  while (count > 0 && m.next_block < m.starts.size()) {
    const size_t block_bytes = m.block_end(m.next_block) - m.starts[m.next_block];
    const size_t have = m.filling.size() - m.filling_history;
    const size_t take = std::min(count, block_bytes - have);
    m.filling.insert(m.filling.end(), data, data + take);
    data += take;
    count -= take;
    if (have + take == block_bytes) {
      m.submit();
      m.write_final(false);
    }
  }
  return !m.failed;
}

bool StreamEncoder::finish() {
  Impl& m = *impl_;
  if (m.next_block < m.starts.size()) m.failed = true;  // fewer bytes than announced
  m.write_final(true);
  m.stop_workers();
  return !m.failed;
}

std::vector<uint8_t> compress_stream(const uint8_t* data, uint32_t size,
                                     const std::vector<uint32_t>& starts,
                                     const StreamOptions& options, const ProgressFn& progress) {
  std::vector<uint8_t> out;
  StreamEncoder encoder(
      size, starts, options,
      [&](const uint8_t* chunk, size_t n) {
        out.insert(out.end(), chunk, chunk + n);
        return true;
      },
      progress);
  encoder.append(data, size);
  encoder.finish();
  return out;
}

std::vector<uint8_t> compress_directory_block(const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> chunk = stored_chunk(data, size, true);
  if (size == 0) return chunk;
  // Directory blocks are small: a deep chain search costs little.
  constexpr uint32_t kDepth = 256;
  constexpr uint32_t kNiceLength = 1024;
  MatchFinder finder(data, size, kDepth, kNiceLength);
  std::vector<Token> tokens;
  uint32_t needed = 0;
  parse_lazy(finder, data, {0, size, 0, 2}, level_params(6), tokens, &needed);
  std::vector<uint8_t> packed = compressed_chunk(tokens, 2, format::kMaxTableSets,
                                                 {format::kBlockTypeCompressed, 1, size, 0, 0});
  if (packed.size() < chunk.size()) return packed;
  return chunk;
}

}  // namespace builder

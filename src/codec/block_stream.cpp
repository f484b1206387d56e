#include "codec/block_stream.h"

#include "codec/archive_reader.h"
#include "codec/block_decoder.h"
#include "codec/block_stream_internal.h"
#include "codec/chunk_input.h"
#include "codec/format.h"
#include "codec/output_filter.h"
#include "common/crc32.h"
#include "common/machine_word.h"
#include "state/install_state.h"

namespace {

// 64-bit hosts (not the stubs) move the window to the front of the HistoryBuffer only when the next
// block does not fit behind it, and give the buffer room for a few more blocks: the window of up to
// 512 KB is then moved about every fourth block instead of before every one. The decoder is handed
// the window's start as its buffer's, so that it sees the same earlier output either way. The stub
// moves the window before every block.
constexpr bool kMoveLate = ZARPEX_FAST_DECODE;
constexpr uint32_t kLateRoom = 3 * format::kMaxBlockSize;

}  // namespace

ResultCode grow_history(uint32_t base, uint32_t size) {
  ArchiveReader& r = archive_reader;
  const uint32_t need = base + size;
  if (need <= r.history_capacity) return kResultOk;
  const uint32_t capacity = need + format::kHistorySlack + (kMoveLate ? kLateRoom : 0);
  void* grown = mem_resize(r.history, capacity);
  if (grown == nullptr) return kResultNoMemory;
  r.history = static_cast<uint8_t*>(grown);
  r.history_capacity = capacity;
  return kResultOk;
}

namespace {

// Keeps only the last `window` bytes of earlier output in front of the next block, of
// `size` bytes.
void keep_window(uint32_t window, uint32_t size) {
  ArchiveReader& r = archive_reader;
  if constexpr (kMoveLate) {
    if (r.block_offset - r.window_start > window) r.window_start = r.block_offset - window;
    if (r.window_start == 0 || r.block_offset + size <= r.history_capacity) return;
    copy_forward(r.history, r.history + r.window_start, r.block_offset - r.window_start);
    r.block_offset -= r.window_start;
    r.window_start = 0;
  } else {
    (void)size;
    if (r.block_offset <= window) return;
    copy_forward(r.history, r.history + r.block_offset - window, window);
    r.block_offset = window;
  }
}

void restart_stream(uint32_t key) {
  ArchiveReader& r = archive_reader;
  r.block_offset = 0;
  if constexpr (kMoveLate) r.window_start = 0;
  r.block_size = 0;
  r.block_start = 0;
  r.last_block = 0;
  r.stream_started = 0;
  r.block_pending = 0;
  r.stream_start = static_cast<int32_t>(key);
  if (r.history != nullptr) {
    mem_free(r.history);
    r.history = nullptr;
  }
  r.history_capacity = 0;
  reset_input();
}

// Loads and decodes the stream's next block behind the current one. block_size counts
// the new block only once it has loaded: a broken-off load leaves nothing behind that a
// later entry could take for output.
ResultCode load_next_block() {
  ArchiveReader& r = archive_reader;
  ResultCode rc = refill_input(true);
  if (rc < 0) return rc;
  r.block_offset += r.block_size;
  r.block_start += r.block_size;
  r.block_size = 0;

  const format::ChunkHeader header = format::read_chunk_header(r.cursor);
  const uint32_t type = header.block_type;
  if (type > format::kBlockTypeCompressed) return kResultDamaged;
  if (header.last_block) r.last_block = 1;
  const uint32_t size = header.block_size;

  if (r.history == nullptr) {
    r.history = static_cast<uint8_t*>(mem_alloc(size + format::kHistorySlack));
    if (r.history == nullptr) return kResultNoMemory;
    r.history_capacity = size + format::kHistorySlack;
  }
  // The block's own data begin at bit 50 of the chunk.
  r.cursor += format::kPayloadBitOffset / 8;
  r.bit_offset = format::kPayloadBitOffset % 8;

  if (type == format::kBlockTypeCompressed) {
    if (r.stream_started) keep_window(format::window_size(header.window_selector), size);
  } else {
    // A stored block keeps every byte a later block's window may reach, instead of
    // overwriting the end of the earlier output.
    keep_window(format::kMaxWindow, size);
  }
  rc = grow_history(r.block_offset, size);
  if (rc < 0) return rc;

  const uint32_t window_start = kMoveLate ? r.window_start : 0;
  rc = type == format::kBlockTypeCompressed
           ? decode_block(r.history + window_start, r.block_offset - window_start, size)
           : copy_stored(r.history + r.block_offset, size);
  if (rc < 0) return rc;
  const uint32_t produced = static_cast<uint32_t>(rc);
  if (produced < size) r.last_block = 1;  // a short block ends the stream
  r.block_size = produced;
  return kResultOk;
}

// Sets the reader up for the stream at stream_offset, unless it is there already and has
// not yet passed stream_position.
[[gnu::always_inline]] inline ResultCode place_stream(uint32_t stream_offset,
                                                      uint32_t stream_position) {
  ArchiveReader& r = archive_reader;
  const uint32_t key = r.archive_base + stream_offset + format::kStreamLeadSize;
  if (static_cast<int32_t>(key) != r.stream_start || stream_position < r.block_start) {
    restart_stream(key);
    const uint32_t pos = fs_seek(r.archive_file, static_cast<int32_t>(key), kFileBegin);
    if (pos == kSeekFailed) {
      r.stream_start = -1;
      return kResultReadFailed;
    }
    r.file_position = pos;
    r.resume_position = pos;
  }
  return kResultOk;
}

constexpr ResultCode kStreamEnded = 1;

// Decodes the block behind the current one: kResultOk, kStreamEnded after the last block,
// or the failure. A block whose load broke off before is damage.
[[gnu::always_inline]] inline ResultCode advance_block() {
  ArchiveReader& r = archive_reader;
  if (r.block_pending) return kResultDamaged;
  if (r.last_block) return kStreamEnded;
  r.block_pending = 1;
  const ResultCode rc = load_next_block();
  if (rc < 0) return rc;
  r.block_pending = 0;
  r.stream_started = 1;
  return kResultOk;
}

}  // namespace

ResultCode extract_stream(FileHandle output, uint32_t stream_offset, uint32_t stream_position,
                          uint32_t size, uint8_t flags) {
  ArchiveReader& r = archive_reader;
  r.running_crc = 0xFFFFFFFFu;
  if (size == 0) {
    r.running_crc = ~r.running_crc;
    return kResultOk;
  }

  uint32_t remaining = size;
  uint32_t handed = 0;
  uint8_t member_header[format::kMemberHeaderSize];
  uint32_t header_gathered = 0;
  uint32_t name_passed = 0;
  r.filter_width = (flags & format::kFlagCall16) ? 2 : (flags & format::kFlagCall32) ? 4 : 0;

  const ResultCode placed = place_stream(stream_offset, stream_position);
  if (placed < 0) return placed;

  for (;;) {
    if (remaining == 0) break;
    const uint32_t block_end = r.block_start + r.block_size;
    if (stream_position < block_end) {
      const uint8_t* at = r.history + r.block_offset + (stream_position - r.block_start);
      const uint32_t available = block_end - stream_position;
      if (header_gathered < format::kMemberHeaderSize) {
        uint32_t n = format::kMemberHeaderSize - header_gathered;
        if (n > available) n = available;
        copy_forward(member_header + header_gathered, at, n);
        header_gathered += n;
        stream_position += n;
        continue;
      }
      const uint32_t name_length = format::read_member_name_length(member_header);
      if (name_passed < name_length) {
        uint32_t n = name_length - name_passed;
        if (n > available) n = available;
        name_passed += n;
        stream_position += n;
        continue;
      }
      const uint32_t n = available < remaining ? available : remaining;
      if (r.filter_width != 0) {
        const ResultCode rc = filter_output_run(output, at, n, handed, size);
        if (rc < 0) return rc;
        handed += n;
      } else {
        r.running_crc = crc_update(at, n, r.running_crc);
        if (output != kNoFile && fs_write(output, at, n) != static_cast<int32_t>(n)) {
          return kResultWriteFailed;
        }
      }
      remaining -= n;
      stream_position += n;
    }
    if (remaining == 0) break;
    if (install_state.cancel_requested) return kResultCancelled;
    // The stream ended before the entry did. That is damage even when the bytes handed
    // so far happen to match the entry's CRC (an empty start matches a CRC of 0).
    const ResultCode rc = advance_block();
    if (rc < 0) return rc;
    if (rc == kStreamEnded) return kResultDamaged;
  }
  r.running_crc = ~r.running_crc;
  return kResultOk;
}

ResultCode read_stream(uint32_t stream_offset, uint32_t stream_position, uint8_t* out,
                       uint32_t count) {
  ArchiveReader& r = archive_reader;
  const ResultCode placed = place_stream(stream_offset, stream_position);
  if (placed < 0) return placed;
  uint32_t copied = 0;
  while (copied < count) {
    const uint32_t block_end = r.block_start + r.block_size;
    if (stream_position < block_end) {
      uint32_t n = block_end - stream_position;
      if (n > count - copied) n = count - copied;
      copy_forward(out + copied, r.history + r.block_offset + (stream_position - r.block_start), n);
      copied += n;
      stream_position += n;
      continue;
    }
    const ResultCode rc = advance_block();
    if (rc < 0) return rc;
    if (rc == kStreamEnded) break;
  }
  return static_cast<ResultCode>(copied);
}

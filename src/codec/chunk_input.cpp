#include "codec/chunk_input.h"

#include "codec/archive_reader.h"
#include "codec/format.h"
#include "common/machine_word.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

// The end of what the buffer holds of the current chunk: input_end plus the look-ahead
// bytes while the chunk goes on.
const uint8_t* loaded_end() {
  ArchiveReader& r = archive_reader;
  return r.input_end + (r.chunk_unread != 0 ? format::kLookAhead : 0);
}

// Once a chunk's data end inside the buffer, the bit readers may still load words a
// few bytes past them: make those bytes zero rather than left over from earlier fills.
void clear_read_ahead(uint8_t* data_end) {
  uint8_t* const limit = archive_reader.input_buffer + format::kInputBufferSize;
  uint32_t n = format::kInputReadAhead;
  if (data_end + n > limit) n = static_cast<uint32_t>(limit - data_end);
  fill_bytes(data_end, 0, n);
}

// After a fill: symbols may begin only where a whole look-ahead follows, except in the
// chunk's last fill, whose end is the end of its data (nothing stale lies behind it).
void end_fill(uint8_t* data_end) {
  ArchiveReader& r = archive_reader;
  if (r.chunk_unread == 0) {
    r.input_end = data_end;
    clear_read_ahead(data_end);
  } else {
    r.input_end = data_end - format::kLookAhead;
  }
}

}  // namespace

uint32_t unconsumed_input() {
  const ArchiveReader& r = archive_reader;
  const uint8_t* const end = loaded_end();
  // A block that read past its data (a damaged or truncated chunk) left nothing behind.
  return r.cursor < end ? static_cast<uint32_t>(end - r.cursor) : 0;
}

void reset_input() {
  ArchiveReader& r = archive_reader;
  r.cursor = r.input_buffer;
  r.input_end = r.input_buffer;
  r.bit_offset = 0;
  r.chunk_unread = 0;
}

void park_stream_input() {
  archive_reader.resume_position -= unconsumed_input();
  reset_input();
}

ResultCode refill_input(bool next_chunk) {
  ArchiveReader& r = archive_reader;
  uint8_t* const buffer = r.input_buffer;

  if (!next_chunk) {
    if (r.chunk_unread == 0) return kResultNoMoreInput;
    if (install_state.cancel_requested) return kResultCancelled;
    const uint32_t beyond =
        r.cursor > r.input_end ? static_cast<uint32_t>(r.cursor - r.input_end) : 0;
    // The look-ahead bytes the readers could not yet start in move to the front.
    copy_forward(buffer, r.input_end, format::kInputCarry);
    const uint32_t want =
        r.chunk_unread < format::kInputFillMax ? r.chunk_unread : format::kInputFillMax;
    const int32_t got = archive_read(buffer + format::kInputCarry, want);
    if (got < 0) return got;
    const uint32_t count = static_cast<uint32_t>(got);
    r.resume_position += count;
    // A file that ends inside the chunk ends the chunk's data.
    r.chunk_unread = count < want ? 0 : r.chunk_unread - count;
    end_fill(buffer + format::kInputCarry + count);
    r.cursor = buffer + beyond;
    return kResultOk;
  }

  // The stream resumes where it stood, whoever moved the file pointer since.
  if (r.resume_position != r.file_position) {
    const uint32_t pos =
        fs_seek(r.archive_file, static_cast<int32_t>(r.resume_position), kFileBegin);
    if (pos == kSeekFailed) return kResultReadFailed;
    r.file_position = pos;
  }
  // The next chunk begins right behind the last byte the previous block consumed.
  const uint32_t back = unconsumed_input();
  if (back != 0) {
    const uint32_t pos = fs_seek(r.archive_file, -static_cast<int32_t>(back), kFileCurrent);
    if (pos == kSeekFailed) return kResultReadFailed;
    r.file_position = pos;
  }
  const int32_t head = archive_read(buffer, format::kChunkHeaderSize);
  if (head < 0) return head;
  if (head < static_cast<int32_t>(format::kChunkHeaderMinimum)) return kResultDamaged;
  const uint32_t length = format::read_chunk_header(buffer).chunk_length;
  if (length > format::kChunkHeaderSize && head == static_cast<int32_t>(format::kChunkHeaderSize)) {
    const uint32_t rest = length - format::kChunkHeaderSize;
    const uint32_t want = rest < format::kInputFillMax ? rest : format::kInputFillMax;
    const int32_t got = archive_read(buffer + format::kInputCarry, want);
    if (got < 0) return got;
    const uint32_t count = static_cast<uint32_t>(got);
    r.chunk_unread = count < want ? 0 : rest - count;
    end_fill(buffer + format::kInputCarry + count);
  } else {
    r.chunk_unread = 0;
    r.input_end = buffer + head;
    clear_read_ahead(buffer + head);
  }
  r.cursor = buffer;
  r.bit_offset = 0;
  r.resume_position = r.file_position;
  return kResultOk;
}

ResultCode copy_stored(uint8_t* dest, uint32_t count) {
  ArchiveReader& r = archive_reader;
  if (r.bit_offset != 0) {
    ++r.cursor;
    r.bit_offset = 0;
  }
  const uint8_t* const end = loaded_end();
  uint32_t available = r.cursor < end ? static_cast<uint32_t>(end - r.cursor) : 0;
  if (available > count) available = count;
  copy_forward(dest, r.cursor, available);
  r.cursor += available;
  if (install_state.cancel_requested) return kResultCancelled;
  if (available == count) return static_cast<ResultCode>(count);

  uint32_t want = count - available;
  if (want > r.chunk_unread) want = r.chunk_unread;
  uint32_t got = 0;
  if (want != 0) {
    const int32_t n = archive_read(dest + available, want);
    if (n < 0) return n;
    got = static_cast<uint32_t>(n);
    r.chunk_unread = got < want ? 0 : r.chunk_unread - got;
    r.resume_position += got;
  }
  // The buffer is used up: nothing of it lies between the cursor and the file position.
  r.input_end = r.cursor - (r.chunk_unread != 0 ? format::kLookAhead : 0);
  return static_cast<ResultCode>(available + got);
}

void copy_forward(void* dest, const void* src, uint32_t count) {
#if ZARPEX_HOST_FAST
  // The C library's copy, many bytes per step (the window moves up to 512 KB per block).
  __builtin_memmove(dest, src, count);
#else
  uint8_t* d = static_cast<uint8_t*>(dest);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  while (count >= 8) {
    uint64_t v;
    __builtin_memcpy(&v, s, 8);
    __builtin_memcpy(d, &v, 8);
    d += 8;
    s += 8;
    count -= 8;
  }
  while (count-- != 0) *d++ = *s++;
#endif
}

void fill_bytes(void* dest, uint32_t value, uint32_t count) {
  uint8_t* d = static_cast<uint8_t*>(dest);
  const uint8_t b = static_cast<uint8_t>(value);
  while (count-- != 0) *d++ = b;
}

#include "archive/directory.h"

#include "codec/archive_reader.h"
#include "codec/block_decoder.h"
#include "codec/chunk_input.h"
#include "codec/format.h"
#include "platform/fs.h"

namespace {

bool same_bytes(const uint8_t* a, const char* b, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (a[i] != static_cast<uint8_t>(b[i])) return false;
  }
  return true;
}

ResultCode decode_directory_block(uint8_t* staging) {
  ArchiveReader& r = archive_reader;
  if (r.file_position != r.directory_position) {
    const uint32_t pos =
        fs_seek(r.archive_file, static_cast<int32_t>(r.directory_position), kFileBegin);
    if (pos == kSeekFailed) return kResultReadFailed;
    r.file_position = pos;
  }
  r.entry_read_pointer = staging;
  r.entry_end_pointer = staging;

  uint8_t signature[format::kDirectorySignatureSize];
  const int32_t got_signature = archive_read(signature, sizeof signature);
  if (got_signature < 0) return got_signature;
  if (got_signature != static_cast<int32_t>(sizeof signature) ||
      !same_bytes(signature, format::kDirectorySignature, sizeof signature)) {
    return kResultDamaged;
  }

  uint8_t* const buffer = r.input_buffer;
  const int32_t got = archive_read(buffer, format::kDirectoryChunkMax);
  if (got < 0) return got;
  // The decoder sees exactly the bytes read; its read-ahead behind them finds zeros.
  const uint32_t count = static_cast<uint32_t>(got);
  fill_bytes(buffer + count, 0, format::kInputReadAhead);
  r.cursor = buffer;
  r.bit_offset = 0;
  r.chunk_unread = 0;
  r.input_end = buffer + count;
  if (count < format::kChunkHeaderSize) return kResultDamaged;

  const format::ChunkHeader header = format::read_chunk_header(buffer);
  const uint32_t type = header.block_type;
  if (type > format::kBlockTypeCompressed) return kResultDamaged;
  const uint32_t length = header.block_size;
  // Nothing may be written past the staging area.
  if (length > format::kEntryStagingSize) return kResultDamaged;

  r.cursor = buffer + format::kPayloadBitOffset / 8;
  r.bit_offset = format::kPayloadBitOffset % 8;
  const ResultCode produced = type == format::kBlockTypeCompressed
                                  ? decode_block(staging, 0, length)
                                  : copy_stored(staging, length);
  if (produced < 0) return produced;
  r.entry_end_pointer += produced;

  // A block whose last symbols needed bytes behind the ones read was decoded from the
  // zeros there: the directory is cut short, and its entries cannot be trusted.
  const uint32_t consumed = static_cast<uint32_t>(r.cursor - buffer);
  if (consumed > count) return kResultDamaged;
  r.directory_position += format::kDirectorySignatureSize + consumed;
  return kResultOk;
}

}  // namespace

ResultCode read_directory_block(uint8_t* staging) {
  ArchiveReader& r = archive_reader;
  // A stream held between two of its entries continues where it stood: its place is
  // kept in resume_position while the directory uses the buffer and the file.
  if (r.stream_start != -1) park_stream_input();
  const ResultCode rc = decode_directory_block(staging);
  reset_input();
  return rc;
}

ResultCode parse_next_entry(uint8_t* staging, EntryRecord* entry, const uint8_t** name) {
  ArchiveReader& r = archive_reader;
  if (r.entry_read_pointer > r.entry_end_pointer) return kResultDamaged;
  if (r.entry_end_pointer - r.entry_read_pointer < static_cast<intptr_t>(format::kEntrySize)) {
    const ResultCode rc = read_directory_block(staging);
    if (rc != 0) return rc;
    if (r.entry_end_pointer - r.entry_read_pointer < static_cast<intptr_t>(format::kEntrySize)) {
      return kResultDamaged;
    }
  }
  format::read_entry_record(r.entry_read_pointer, entry);
  r.entry_read_pointer += format::kEntrySize;
  const uint32_t left = static_cast<uint32_t>(r.entry_end_pointer - r.entry_read_pointer);
  if (entry->name_length > left) return kResultDamaged;
  *name = r.entry_read_pointer;
  // Skipped bytes that run past the decoded bytes are damage, found at the next entry.
  uint32_t skip = uint32_t(entry->name_length) + entry->short_extra_length + entry->extra_length;
  if (skip > left) skip = left + 1;
  r.entry_read_pointer += skip;
  return kResultOk;
}

#include "codec/archive_reader.h"

#include "codec/format.h"

ArchiveReader archive_reader;

int32_t archive_read(void* buffer, uint32_t count) {
  const int32_t done = fs_read(archive_reader.archive_file, buffer, count);
  if (done != -1) archive_reader.file_position += static_cast<uint32_t>(done);
  return done;
}

ResultCode begin_reading(uint8_t* staging, uint32_t directory_position) {
  ArchiveReader& r = archive_reader;
  r.input_buffer = static_cast<uint8_t*>(mem_alloc(format::kInputBufferSize));
  if (r.input_buffer == nullptr) return kResultNoMemory;
  r.history = nullptr;
  r.history_capacity = 0;
  r.stream_start = -1;
  r.entry_read_pointer = staging;
  r.entry_end_pointer = staging;
  r.directory_position = directory_position;
  // A failed seek leaves file_position apart from directory_position: the first directory
  // read seeks again and reports it.
  r.file_position = fs_seek(r.archive_file, static_cast<int32_t>(directory_position), kFileBegin);
  return kResultOk;
}

void end_reading() {
  ArchiveReader& r = archive_reader;
  if (r.history != nullptr) mem_free(r.history);
  r.history = nullptr;
  r.history_capacity = 0;
  mem_free(r.input_buffer);
  r.input_buffer = nullptr;
}

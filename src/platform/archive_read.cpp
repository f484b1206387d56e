#include "codec/archive_reader.h"
#include "platform/fs.h"

uint32_t last_os_error;

int32_t archive_read(void* buffer, uint32_t count) {
  const int32_t done = fs_read(archive_reader.archive_file, buffer, count);
  if (done != -1) archive_reader.file_position += static_cast<uint32_t>(done);
  return done;
}

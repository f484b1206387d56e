#include "codec/output_filter.h"

#include "codec/archive_reader.h"
#include "codec/format.h"
#include "common/call_operand.h"
#include "common/crc32.h"
#include "common/machine_word.h"
#include "state/install_state.h"

#if ZARPEX_HOST_FAST
#include <cstring>
#endif

ResultCode filter_output_run(FileHandle handle, const uint8_t* data, uint32_t length,
                             uint32_t run_offset, uint32_t file_size) {
  ArchiveReader& r = archive_reader;
  const uint32_t width = r.filter_width;
  // One batch tests at most this many positions; with one operand it stages at most
  // kFilterStagingSize - 1 bytes.
  const uint32_t batch_positions = kFilterStagingSize - 1 - width;
  uint8_t staging[kFilterStagingSize];
  uint32_t crc = r.running_crc;
  uint32_t p = 0;
  const uint32_t scan_end = length > width ? length - width : 0;

  while (p < scan_end) {
    const uint32_t batch_end = scan_end - p < batch_positions ? scan_end : p + batch_positions;
    uint32_t n = 0;
    while (p < batch_end) {
#if ZARPEX_HOST_FAST
      // Whole spans up to the next opcode at once.
      const void* hit = std::memchr(data + p, format::kCallOpcode, batch_end - p);
      const uint32_t span_end =
          hit != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - data) + 1
                         : batch_end;
      std::memcpy(staging + n, data + p, span_end - p);
      n += span_end - p;
      p = span_end;
      if (hit == nullptr) break;
#else
      const uint8_t b = data[p++];
      staging[n++] = b;
      if (b != format::kCallOpcode) continue;
#endif
      uint32_t stored = 0;
      for (uint32_t i = 0; i < width; ++i) stored |= uint32_t(data[p + i]) << (8 * i);
      const uint32_t restored = restored_call_operand(stored, width, run_offset + p, file_size);
      for (uint32_t i = 0; i < width; ++i) staging[n++] = static_cast<uint8_t>(restored >> (8 * i));
      p += width;
    }
    crc = crc_update(staging, n, crc);
    if (install_state.cancel_requested) {
      r.running_crc = crc;
      return kResultCancelled;
    }
    if (handle != kNoFile && fs_write(handle, staging, n) != static_cast<int32_t>(n)) {
      r.running_crc = crc;
      return kResultWriteFailed;
    }
  }

  // The tail: too short to hold an opcode with its whole operand.
  const uint32_t tail = length - p;
  if (tail != 0) {
    crc = crc_update(data + p, tail, crc);
    if (handle != kNoFile) {
      if (install_state.cancel_requested) {
        r.running_crc = crc;
        return kResultCancelled;
      }
      if (fs_write(handle, data + p, tail) != static_cast<int32_t>(tail)) {
        r.running_crc = crc;
        return kResultWriteFailed;
      }
    }
  }
  r.running_crc = crc;
  return kResultOk;
}

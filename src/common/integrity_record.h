// Installer file: the stub, then the archive. The stub carries an IntegrityRecord in its
// initialised data, behind kIntegrityTag, so that the packer finds and stamps it and a
// reader finds it in an installer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"

struct IntegrityRecord {
  uint32_t stub_length;       // also the file offset of the archive
  uint32_t crc_field_offset;  // file offset of expected_crc itself
  uint32_t expected_crc;      // CRC register after the stub, field taken as zero, not inverted
};

inline constexpr char kIntegrityTag[16] = {'Z', 'P', 'X', '-', 'I', 'N', 'T', 'E',
                                           'G', 'R', 'I', 'T', 'Y', '-', 'v', '1'};
inline constexpr uint32_t kIntegrityTagSize = 16;

namespace format {

inline constexpr uint32_t kIntegrityStubLength = 0;
inline constexpr uint32_t kIntegrityCrcFieldOffset = 4;
inline constexpr uint32_t kIntegrityExpectedCrc = 8;
inline constexpr uint32_t kIntegrityRecordSize = 12;
static_assert(offsetof(IntegrityRecord, stub_length) == kIntegrityStubLength);
static_assert(offsetof(IntegrityRecord, crc_field_offset) == kIntegrityCrcFieldOffset);
static_assert(offsetof(IntegrityRecord, expected_crc) == kIntegrityExpectedCrc);
static_assert(sizeof(IntegrityRecord) == kIntegrityRecordSize);
static_assert(sizeof kIntegrityTag == kIntegrityTagSize);

// The CRC register runs over the stub from this value, without the final inversion.
inline constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

inline IntegrityRecord read_integrity_record(const uint8_t* p) {
  return {load_le32(p + kIntegrityStubLength), load_le32(p + kIntegrityCrcFieldOffset),
          load_le32(p + kIntegrityExpectedCrc)};
}
inline void write_integrity_record(uint8_t* p, const IntegrityRecord& record) {
  store_le32(p + kIntegrityStubLength, record.stub_length);
  store_le32(p + kIntegrityCrcFieldOffset, record.crc_field_offset);
  store_le32(p + kIntegrityExpectedCrc, record.expected_crc);
}

}  // namespace format

// Where the next integrity tag begins in the `length` bytes at `data`, at `from` or after;
// `length` when none does.
inline size_t find_integrity_tag(const uint8_t* data, size_t length, size_t from) {
  for (size_t i = from; i + kIntegrityTagSize <= length; ++i) {
    if (data[i] != static_cast<uint8_t>(kIntegrityTag[0])) continue;
    size_t k = 1;
    while (k < kIntegrityTagSize && data[i + k] == static_cast<uint8_t>(kIntegrityTag[k])) ++k;
    if (k == kIntegrityTagSize) return i;
  }
  return length;
}

// A stamped record counts only where it describes itself: behind a tag at file offset
// `tag_at`, its CRC field lies right where the record puts it, inside the stub it
// measures, in a file of `file_size` bytes.
inline bool integrity_record_in_place(const IntegrityRecord& record, uint64_t tag_at,
                                      uint64_t file_size) {
  const uint64_t record_end = tag_at + kIntegrityTagSize + format::kIntegrityRecordSize;
  return record.crc_field_offset == tag_at + kIntegrityTagSize + format::kIntegrityExpectedCrc &&
         record.stub_length >= record_end && record.stub_length <= file_size;
}

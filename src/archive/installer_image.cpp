#include "archive/installer_image.h"

#include "codec/archive_reader.h"
#include "common/crc32.h"
#include "platform/fs.h"

// In initialised data, behind its tag, so that the packer finds and stamps it in the
// finished stub; volatile so that the compiler never folds the zeros into the code. A
// section of its own, so that the Win32 link can keep it with the data the stub only
// reads (cmake/stub_win32.ld); elsewhere it is ordinary initialised data.
__attribute__((section(".data.integrity"))) volatile IntegrityBlock integrity_block = {
    {'Z', 'P', 'X', '-', 'I', 'N', 'T', 'E', 'G', 'R', 'I', 'T', 'Y', '-', 'v', '1'}, {0, 0, 0}};

ArchiveHeader archive_header;

ResultCode check_image(const IntegrityRecord& record, SignatureFields fields) {
  ArchiveReader& r = archive_reader;
  const uint32_t stub_length = record.stub_length;
  const uint32_t field = record.crc_field_offset;
  const uint32_t expected = record.expected_crc;

  uint8_t* const stub = static_cast<uint8_t*>(mem_alloc(stub_length != 0 ? stub_length : 1));
  if (stub == nullptr) return kResultNoMemory;
  r.file_position = fs_seek(r.archive_file, 0, kFileBegin);
  const int32_t got = fs_read(r.archive_file, stub, stub_length);
  if (got != static_cast<int32_t>(stub_length)) {
    mem_free(stub);
    return kResultShortRead;
  }
  r.file_position += stub_length;

  // A record whose field lies outside the stub cannot describe this image.
  bool intact = stub_length >= 4 && field <= stub_length - 4;
  if (intact) {
    clear_unchecked_fields(stub, stub_length, field, fields);
    intact = crc_update(stub, stub_length, format::kCrcStart) == expected;
  }
  mem_free(stub);
  if (!intact) return kResultImageModified;
  r.archive_base = stub_length;
  return kResultOk;
}

ResultCode check_installer_image() {
  const IntegrityRecord own = {integrity_block.record.stub_length,
                               integrity_block.record.crc_field_offset,
                               integrity_block.record.expected_crc};
  return check_image(own, own_signature_fields());
}

ResultCode read_archive_header() {
  ArchiveReader& r = archive_reader;
  const uint32_t end = fs_seek(r.archive_file, 0, kFileEnd);
  if (end == kSeekFailed) return kResultReadFailed;
  r.file_position = end;
  const uint32_t pos = fs_seek(r.archive_file, static_cast<int32_t>(r.archive_base), kFileBegin);
  if (pos == kSeekFailed) return kResultReadFailed;
  r.file_position = pos;
  const int32_t got = archive_read(&archive_header, sizeof archive_header);
  if (got != static_cast<int32_t>(sizeof archive_header)) return kResultShortRead;
  return kResultOk;
}

#include "archive/installer_image.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"
#include "codec/crc32.h"
#include "platform/fs.h"

// In initialised data, behind its tag, so that the packer finds and stamps it in the
// finished stub; volatile so that the compiler never folds the zeros into the code. A
// section of its own, so that the Win32 link can keep it with the data the stub only
// reads (cmake/stub_win32.ld); elsewhere it is ordinary initialised data.
__attribute__((section(".data.integrity"))) volatile IntegrityBlock integrity_block = {
    {'Z', 'P', 'X', '-', 'I', 'N', 'T', 'E', 'G', 'R', 'I', 'T', 'Y', '-', 'v', '1'}, {0, 0, 0}};

ArchiveHeader archive_header;

namespace {

// PE headers: the DOS header's pointer to the PE signature, then the 20-byte file header,
// then the optional header, whose layout differs between PE32 and PE32+.
constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kOptionalHeader = 24;       // from the PE signature
constexpr uint32_t kChecksumField = 64;        // from the optional header, in both forms
constexpr uint32_t kPe32Magic = 0x10B;
constexpr uint32_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kPe32Directories = 96;  // from the optional header
constexpr uint32_t kPe32PlusDirectories = 112;
constexpr uint32_t kCertificateDirectory = 4;
// From the PE signature to the end of the certificate-table entry of PE32+, the longer form.
constexpr uint32_t kHeadersNeeded =
    kOptionalHeader + kPe32PlusDirectories + 8 * kCertificateDirectory + kCertificateEntrySize;

}  // namespace

SignatureFields find_signature_fields(const uint8_t* image, uint32_t length) {
  SignatureFields fields = {0, 0};
  if (length < kHeadersNeeded || image[0] != 'M' || image[1] != 'Z') return fields;
  const uint32_t pe = load_le32(image + kPeOffsetField);
  if (pe > length - kHeadersNeeded || load_le32(image + pe) != kPeSignature) return fields;
  const uint32_t optional = pe + kOptionalHeader;
  const uint32_t magic = load_le16(image + optional);
  uint32_t directories;
  if (magic == kPe32Magic) {
    directories = optional + kPe32Directories;
  } else if (magic == kPe32PlusMagic) {
    directories = optional + kPe32PlusDirectories;
  } else {
    return fields;
  }
  // The count of data directories stands right before them; without a fifth one the image
  // has no certificate-table entry.
  if (load_le32(image + directories - 4) <= kCertificateDirectory) return fields;
  fields.checksum_offset = optional + kChecksumField;
  fields.certificate_entry_offset = directories + 8 * kCertificateDirectory;
  return fields;
}

CertificateTable find_certificate_table(const uint8_t* image, uint32_t length) {
  const SignatureFields fields = find_signature_fields(image, length);
  CertificateTable table = {0, 0};
  if (fields.certificate_entry_offset != 0) {
    table.offset = load_le32(image + fields.certificate_entry_offset);
    table.size = load_le32(image + fields.certificate_entry_offset + 4);
  }
  return table;
}

void clear_unchecked_fields(uint8_t* stub, uint32_t stub_length, uint32_t crc_field_offset,
                            SignatureFields fields) {
  __builtin_memset(stub + crc_field_offset, 0, 4);
  // Both fields lie in the headers, the CheckSum first; a stub too short for them (a
  // damaged record) has nothing there to pass over.
  if (fields.checksum_offset != 0 && fields.certificate_entry_offset < stub_length &&
      stub_length - fields.certificate_entry_offset >= kCertificateEntrySize) {
    __builtin_memset(stub + fields.checksum_offset, 0, 4);
    __builtin_memset(stub + fields.certificate_entry_offset, 0, kCertificateEntrySize);
  }
}

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

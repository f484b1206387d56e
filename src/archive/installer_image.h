// The installer file as a whole: the stub's IntegrityRecord, the self-check, and the
// 42-byte archive header behind the stub.
#pragma once

#include <cstdint>

#include "codec/format.h"
#include "codec/result.h"

// The stub's IntegrityRecord lies in its initialised data right behind kIntegrityTag, so
// that the packer can find and stamp it in any stub built by this project.
struct IntegrityBlock {
  char tag[kIntegrityTagSize];
  IntegrityRecord record;
};

// The stub's own record (defined with the entry routine of each build).
extern volatile IntegrityBlock integrity_block;

extern ArchiveHeader archive_header;

// What a code signature writes into a PE image besides the certificate table it appends
// to the file: the optional header's CheckSum and the certificate-table entry of the data
// directories (index 4: the table's file offset and size). File offsets of both fields;
// both 0 when the image is not a PE32 or PE32+ image (the POSIX stub, a damaged header).
struct SignatureFields {
  uint32_t checksum_offset;
  uint32_t certificate_entry_offset;
};
inline constexpr uint32_t kCertificateEntrySize = 8;
// From the first `length` bytes of an image of either form; the headers must lie inside
// them. For the packer and zpx, which read stubs of both forms.
SignatureFields find_signature_fields(const uint8_t* image, uint32_t length);
// The same for the running installer's own stub, as its build knows it: the Win32 stub
// from its own loaded headers, which are mapped as they lie in the file, in its own
// format (PE32 for i686, PE32+ for x86_64); none for the POSIX installer, no PE image.
SignatureFields own_signature_fields();

// The certificate table a signature appended: its file offset and size, as the image's
// certificate-table entry gives them; both 0 when the image carries no signature.
struct CertificateTable {
  uint32_t offset;
  uint32_t size;
};
CertificateTable find_certificate_table(const uint8_t* image, uint32_t length);

// Takes as zero, in a copy of the stub, the bytes the self-check does not count: the four
// bytes at crc_field_offset (which must lie inside the stub), and the CheckSum and
// certificate-table entry that `fields` name, which signing the finished installer
// changes. Every other byte of the stub counts.
void clear_unchecked_fields(uint8_t* stub, uint32_t stub_length, uint32_t crc_field_offset,
                            SignatureFields fields);

// Checks the stub at the start of archive_file against the record, passing over the
// signature's fields: 0 when it is intact (archive_base is then the stub's length), -2, -6,
// or kResultImageModified. Shows nothing: the caller reports the result.
ResultCode check_image(const IntegrityRecord& record, SignatureFields fields);
// The running stub's check against its own record and its own signature fields.
ResultCode check_installer_image();
// Reads the 42 bytes at archive_base into archive_header: 0, -17 when a seek fails, -6
// when fewer bytes are there.
ResultCode read_archive_header();

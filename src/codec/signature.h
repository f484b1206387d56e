// What a code signature changes in a PE image, for the installer's self-check, the packer's
// stamping and zpx alike: where the CheckSum and the certificate-table entry lie, and the
// certificate table a signature appended.
#pragma once

#include <cstdint>

#include "common/byte_order.h"
#include "common/pe_header.h"

// What a code signature writes into a PE image besides the certificate table it appends
// to the file: the optional header's CheckSum and the certificate-table entry of the data
// directories (index 4: the table's file offset and size). File offsets of both fields;
// both 0 when the image is not a PE32 or PE32+ image (the POSIX stub, a damaged header).
struct SignatureFields {
  uint32_t checksum_offset;
  uint32_t certificate_entry_offset;
};
inline constexpr uint32_t kCertificateEntrySize = 8;
// The certificate table a signature appended: its file offset and size.
struct CertificateTable {
  uint32_t offset;
  uint32_t size;
};

namespace pe {

// After the PE signature (common/pe_header.h) the 20-byte file header, then the optional
// header, whose layout differs between PE32 and PE32+.
inline constexpr uint32_t kOptionalHeader = 24;  // from the PE signature
inline constexpr uint32_t kChecksumField = 64;   // from the optional header, in both forms
inline constexpr uint32_t kPe32Magic = 0x10B;
inline constexpr uint32_t kPe32PlusMagic = 0x20B;
inline constexpr uint32_t kPe32Directories = 96;  // from the optional header
inline constexpr uint32_t kPe32PlusDirectories = 112;
inline constexpr uint32_t kCertificateDirectory = 4;
// From the PE signature to the end of the certificate-table entry of PE32+, the longer form.
inline constexpr uint32_t kHeadersNeeded =
    kOptionalHeader + kPe32PlusDirectories + 8 * kCertificateDirectory + kCertificateEntrySize;

}  // namespace pe

// The one rule for where the signature's fields lie, for the Win32 stub (which knows its
// own format) and for the packer and zpx (which read the format from the headers): fixed
// places from the PE signature at `headers`, by the optional header's form alone. The
// count of data directories is not looked at: the stub's own check passes over these
// bytes whatever that count says, so everything that stamps or checks a stub must too.
inline constexpr SignatureFields signature_fields_at(uint32_t headers, bool pe32_plus) {
  return {headers + pe::kOptionalHeader + pe::kChecksumField,
          headers + pe::kOptionalHeader +
              (pe32_plus ? pe::kPe32PlusDirectories : pe::kPe32Directories) +
              8 * pe::kCertificateDirectory};
}

// From the first `length` bytes of an image of either form; the headers must lie inside
// them. For the packer and zpx, which read stubs of both forms.
inline SignatureFields find_signature_fields(const uint8_t* image, uint32_t length) {
  using namespace pe;
  const uint32_t headers = pe_header_offset(image, length, kHeadersNeeded);
  if (headers == 0 || load_le32(image + headers) != kPeSignature) return {0, 0};
  const uint32_t magic = load_le16(image + headers + kOptionalHeader);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return {0, 0};
  return signature_fields_at(headers, magic == kPe32PlusMagic);
}

// The certificate table as the image's certificate-table entry gives it; both 0 when the
// image carries no signature.
inline CertificateTable find_certificate_table(const uint8_t* image, uint32_t length) {
  const SignatureFields fields = find_signature_fields(image, length);
  CertificateTable table = {0, 0};
  if (fields.certificate_entry_offset != 0) {
    table.offset = load_le32(image + fields.certificate_entry_offset);
    table.size = load_le32(image + fields.certificate_entry_offset + 4);
  }
  return table;
}

// WIN_CERTIFICATE, the header of each certificate in the table: its length (header
// included), revision and type.
namespace win_certificate {
inline constexpr uint32_t kHeaderSize = 8;
inline constexpr uint16_t kRevision = 0x0200;
inline constexpr uint16_t kTypeX509 = 0x0001;
inline constexpr uint16_t kTypePkcsSignedData = 0x0002;
}  // namespace win_certificate

// Takes as zero, in a copy of the stub, the bytes the self-check does not count: the four
// bytes at crc_field_offset (which must lie inside the stub), and the CheckSum and
// certificate-table entry that `fields` name, which signing the finished installer
// changes. Every other byte of the stub counts.
inline void clear_unchecked_fields(uint8_t* stub, uint32_t stub_length, uint32_t crc_field_offset,
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

#include "builder/stamp.h"

#include <algorithm>

#include "builder/checksum.h"
#include "codec/format.h"
#include "codec/signature.h"

namespace builder {

bool stamp_stub(std::vector<uint8_t>& stub, std::string* error) {
  const size_t first = find_integrity_tag(stub.data(), stub.size(), 0);
  if (first == stub.size()) {
    *error = "no integrity record in the stub (tag \"ZPX-INTEGRITY-v1\" not found)";
    return false;
  }
  if (find_integrity_tag(stub.data(), stub.size(), first + 1) != stub.size()) {
    *error = "the stub holds the integrity tag more than once";
    return false;
  }
  const size_t record = first + kIntegrityTagSize;
  if (record + format::kIntegrityRecordSize > stub.size()) {
    *error = "the stub ends inside its integrity record";
    return false;
  }
  if (stub.size() > 0xFFFFFFFFu) {
    *error = "the stub is too large";
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(stub.size());
  const CertificateTable signature = find_certificate_table(stub.data(), length);
  if (signature.offset != 0 || signature.size != 0) {
    *error =
        "the stub is signed; sign the finished installer instead (signing must be the last "
        "step: a signature covers the whole file, archive included)";
    return false;
  }
  // The CRC runs over the stub with the record in place and, as the self-check sees it,
  // its CRC field and what signing the installer may change later taken as zero.
  IntegrityRecord stamped{length, static_cast<uint32_t>(record + format::kIntegrityExpectedCrc), 0};
  format::write_integrity_record(stub.data() + record, stamped);
  std::vector<uint8_t> checked = stub;
  clear_unchecked_fields(checked.data(), length, stamped.crc_field_offset,
                         find_signature_fields(checked.data(), length));
  crc_ready();
  stamped.expected_crc = crc_update(checked.data(), length, format::kCrcStart);
  format::write_integrity_record(stub.data() + record, stamped);
  return true;
}

}  // namespace builder

#include "builder/stamp.h"

#include <algorithm>

#include "archive/installer_image.h"
#include "builder/checksum.h"

namespace builder {
namespace {

void store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool stamp_stub(std::vector<uint8_t>& stub, std::string* error) {
  const uint8_t* tag = reinterpret_cast<const uint8_t*>(kIntegrityTag);
  auto first = std::search(stub.begin(), stub.end(), tag, tag + kIntegrityTagSize);
  if (first == stub.end()) {
    *error = "no integrity record in the stub (tag \"ZPX-INTEGRITY-v1\" not found)";
    return false;
  }
  if (std::search(first + 1, stub.end(), tag, tag + kIntegrityTagSize) != stub.end()) {
    *error = "the stub holds the integrity tag more than once";
    return false;
  }
  const size_t record = static_cast<size_t>(first - stub.begin()) + kIntegrityTagSize;
  if (record + sizeof(IntegrityRecord) > stub.size()) {
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
  const uint32_t crc_field = static_cast<uint32_t>(record + 8);
  store32(stub.data() + record, length);
  store32(stub.data() + record + 4, crc_field);
  // The register over the stub as the self-check sees it: with the field itself and what
  // signing the installer may change later taken as zero.
  std::vector<uint8_t> checked = stub;
  clear_unchecked_fields(checked.data(), length, crc_field,
                         find_signature_fields(checked.data(), length));
  store32(stub.data() + crc_field, crc32_update(0xFFFFFFFFu, checked.data(), checked.size()));
  return true;
}

}  // namespace builder

#include "builder/stamp.h"

#include <algorithm>

#include "builder/checksum.h"
#include "codec/format.h"

namespace builder {

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
  if (record + format::kIntegrityRecordSize > stub.size()) {
    *error = "the stub ends inside its integrity record";
    return false;
  }
  if (stub.size() > 0xFFFFFFFFu) {
    *error = "the stub is too large";
    return false;
  }
  // The CRC runs over the stub with the record in place and its CRC field zero.
  IntegrityRecord stamped{static_cast<uint32_t>(stub.size()),
                          static_cast<uint32_t>(record + format::kIntegrityExpectedCrc), 0};
  format::write_integrity_record(stub.data() + record, stamped);
  stamped.expected_crc = crc32_update(format::kCrcStart, stub.data(), stub.size());
  format::write_integrity_record(stub.data() + record, stamped);
  return true;
}

}  // namespace builder

// Installer images: a stub followed by an archive, with the stub's IntegrityRecord
// filled in so that the installer's self-check passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace builder {

// Fills in the stub's record (its length, the place of the CRC field, the CRC register
// over the stub with the bytes the self-check does not count taken as zero). Fails, with
// the reason in *error, when the record's tag is missing or appears more than once, or
// when the stub already carries a signature (it would not cover the archive).
bool stamp_stub(std::vector<uint8_t>& stub, std::string* error);

}  // namespace builder

// The packer checksums with the common CRC-32 (common/crc32.h), whose tables are built
// once per process whatever thread asks first.
#pragma once

#include <cstdint>

#include "common/crc32.h"

namespace builder {

// Builds the CRC tables unless built; call before the first crc_update.
void crc_ready();

}  // namespace builder

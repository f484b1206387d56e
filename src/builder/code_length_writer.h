// Transmission of the code lengths of a block's table sets: the 21-symbol code-length
// alphabet sent as 5-bit fields, then every length as a delta against the previous set
// (or the running value), with zero runs and repeat runs.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/bit_writer.h"

namespace builder {

// Writes set_count sets of set_length lengths each (all at most 16).
void write_code_lengths(BitWriter& out, const std::vector<uint8_t>& lengths, uint32_t set_length);

}  // namespace builder

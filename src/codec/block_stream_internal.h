// Parts of the block stream that tests exercise directly.
#pragma once

#include <cstdint>

#include "codec/result.h"

// Makes room for size bytes at base in the HistoryBuffer (plus the slack every
// allocation keeps); -2 when it cannot grow.
ResultCode grow_history(uint32_t base, uint32_t size);

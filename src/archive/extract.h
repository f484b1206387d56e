// The extraction driver: installs the whole archive into install_state.install_folder.
#pragma once

#include <cstdint>

#include "codec/result.h"
#include "ui/ui.h"

// Runs inside the main dialog's Install command; `dialog` owns every window it opens.
ResultCode extract_all(Window dialog);

// 1 when the last extract_all ended before its last entry: Cancel, a stop chosen at a
// reported failure, or an install folder that cannot be created. Its result stays 0 in
// those cases; the main dialog uses this flag so that nothing is registered.
extern uint8_t extraction_interrupted;

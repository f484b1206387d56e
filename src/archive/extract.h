// The extraction driver: installs the whole archive into install_state.install_folder.
#pragma once

#include "codec/result.h"
#include "ui/ui.h"

// Runs inside the main dialog's Install command; `dialog` owns every window it opens.
ResultCode extract_all(Window dialog);

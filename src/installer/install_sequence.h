// Start-up, the main dialog, registration and launch. Always returns 0.
#pragma once

#include "codec/result.h"

int install_sequence(void* instance);

// Shows why the start-up ends: the self-check's warning for kResultImageModified, else the
// error reporter's message with the installer's own file name.
void report_start_up_failure(ResultCode failure);

// Leaves the proposed install folder in install_state.install_folder (never empty).
void find_default_folder();
// Registers the program installed under install_state.install_folder (folder and
// backslash) and starts it.
void register_and_launch();

// Start-up, the main dialog, registration and launch.
#pragma once

#include "codec/result.h"

// Returns the process's exit code: 0, except after a failed silent installation (/S),
// where it is the ResultCode that stopped it, made positive (1 for a changed stub).
int install_sequence(void* instance);

// Shows why the start-up ends: the self-check's warning for kResultImageModified, else the
// error reporter's message with the installer's own file name.
void report_start_up_failure(ResultCode failure);

// Leaves the proposed install folder in install_state.install_folder (never empty).
void find_default_folder();
// Registers the program installed under install_state.install_folder (folder and
// backslash) and starts it, with its full path in quotes; a silent installation does not
// start it.
void register_and_launch();

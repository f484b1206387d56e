// Start-up, the main dialog, registration and launch. Always returns 0.
#pragma once

int install_sequence(void* instance);

// Leaves the proposed install folder in install_state.install_folder (never empty).
void find_default_folder();
// Registers the program installed under install_state.install_folder (folder and
// backslash) and starts it.
void register_and_launch();

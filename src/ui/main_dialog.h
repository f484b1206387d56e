// The main dialog's commands, shared by every front end: the front end reads its
// controls, calls these, and shows what they leave in install_state.
#pragma once

#include <cstdint>

#include "ui/ui.h"

inline constexpr char kInstructionText[] =
    "Click the Install button to install Zarpex 1.2 to the folder below.\n"
    "If the folder does not exist, it will be created.";

// main_dialog_install: see ui/ui.h.
// What main_dialog_install returns when an extraction is already running: the command
// is refused and the dialog must not end.
inline constexpr int32_t kInstallRefused = INT32_MIN;
// True while main_dialog_install runs (front ends may disable their controls).
bool main_dialog_installing();

// Browse: turns the chooser's folder (260-byte buffer) into the proposed install folder
// (trailing backslashes removed, "\Zarpex" appended where it fits and is not there yet).
void main_dialog_browse_result(char* folder);

// The file-dialog form of the folder chooser, on OK: turns the folder typed in its
// "Selected Folder:" box (at most 259 characters, in a buffer of 261 bytes, room for its
// separator) into the file name that dialog accepts, the folder, a separator where
// needed and "x"; an empty text when that is longer than 259 characters.
void chooser_file_name(char* folder);

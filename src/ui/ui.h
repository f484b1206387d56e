// User interface: the error reporter and message pump shared by every build, and the
// few window operations the core needs. Each build links one implementation of the
// ui_* operations: Win32 dialogs (ui/win32), the terminal (ui/posix) or the quiet
// batch front end of zpx (ui/batch).
#pragma once

#include <cstdint>

#include "codec/result.h"

using Window = void*;  // HWND on Windows; an opaque token elsewhere

inline constexpr char kCaption[] = "Zarpex Installation";

// Message box styles and answers (the Windows values).
inline constexpr uint32_t kMbOk = 0x00;
inline constexpr uint32_t kMbOkCancel = 0x01;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Overwrite prompt answers.
inline constexpr int kAnswerYesToAll = 108;
inline constexpr int kAnswerYes = 109;
inline constexpr int kAnswerNo = 110;

// Shared text buffer for messages, the overwrite question and the progress line; sized
// so that the longest message ("Cannot create folder" + 259-character path + the
// longest reason) fits whole.
inline constexpr int kMessageTextSize = 320;
extern char message_text[kMessageTextSize];

// Shows the message for a ResultCode; returns 1 when the caller is to stop, 0 to go on.
// In a silent installation it shows nothing, keeps the first failure in
// install_state.silent_failure and always says stop.
int report_error(Window owner, ResultCode result, const char* path, int ask);
// "" or "\n" + the reason for last_os_error.
const char* os_error_suffix();
// --- Provided by each front end ---
// Handles every pending window message (or terminal event) without waiting.
void drain_messages();
// Returns kIdOk or kIdCancel (anything else counts as not OK).
int ui_message_box(Window owner, const char* text, const char* caption, uint32_t style);
// Asks "File %s already exists. Overwrite?" for install_state.install_folder.
int ui_overwrite_prompt(Window owner);
// Shows a progress line (control 102 of the main dialog).
void ui_set_progress(Window owner, const char* text);
// Runs the main dialog modally; returns its result (-1 after Cancel).
int32_t ui_main_dialog();
// --- Provided by the main dialog's shared commands (ui/main_dialog.cpp) ---
// Install: install_state.install_folder and overwrite_all already hold the dialog's
// choices. Runs the extraction, reports a negative result, and returns the value the
// dialog ends with (-1 when nothing is to be registered). A silent installation runs it
// without any dialog (null window).
int32_t main_dialog_install(Window dialog);
// Folder chooser: path holds 260 bytes; nonzero when a folder was chosen.
int ui_choose_folder(Window owner, char* path);

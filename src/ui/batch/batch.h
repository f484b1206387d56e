// The quiet front end of zpx: the installer's driver runs without asking. Message boxes go
// to standard error with the installer's text and are answered OK, so the run goes on
// wherever the installer would let the user go on; the overwrite prompt answers No (the
// existing file is kept) unless --overwrite set overwrite_all; Ctrl+C cancels the run at
// the next drain_messages. A progress bar is drawn on standard error when it is a terminal.
#pragma once

#include <cstdint>

// Starts a run: the number of files the progress bar counts to, and the Ctrl+C handler.
void batch_begin(uint32_t files);
// Ends the progress bar.
void batch_end();

// Messages shown so far (each one a failure of the run).
uint32_t batch_failures();
// Existing files kept because the overwrite question was answered No.
uint32_t batch_kept();
// True once Ctrl+C has been pressed during the run.
bool batch_interrupted();

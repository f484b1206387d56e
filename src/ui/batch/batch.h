// The quiet front end of zpx: the installer's driver runs without asking. Message boxes are
// passed on to standard error with the installer's text, paths in their POSIX form, once
// per cause: a later message of the same cause (the same text but for the path, and for
// damaged data the same stream) only adds its entry to the list shown by batch_end. Every
// box is answered OK, so the run goes on wherever the installer would let the user go
// on. The overwrite prompt answers No (the file is kept) unless `overwrite` is set, which
// clears the existing file's read-only, hidden and system attributes and answers Yes.
// Ctrl+C cancels the run at the next drain_messages. The progress bar counts bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BatchSettings {
  uint32_t files = 0;  // files the run will extract, and their bytes (for the progress bar)
  uint64_t bytes = 0;
  bool overwrite = false;
};

// Starts a run: the progress bar and the Ctrl+C handler.
void batch_begin(const BatchSettings& settings);
// Ends the progress bar and reports, for every cause met more than once, the entries it
// took down (all of them with -v, else the first few).
void batch_end();

// Entries reported as failed (every one of a cause counts).
uint32_t batch_failures();
// Files written whole, and folders made (entries handled without a message).
uint32_t batch_files_done();
uint32_t batch_folders_done();
// Existing files kept because the overwrite question was answered No (POSIX paths).
const std::vector<std::string>& batch_kept();
// True once Ctrl+C has been pressed during the run.
bool batch_interrupted();

// The entry the driver is about to handle: its size and stream, so that failures can be
// grouped by stream and the bar can count bytes.
void batch_entry(uint32_t size, uint32_t stream_offset, bool folder);

// The terminal front end of the POSIX installer: the main dialog, message boxes, the
// overwrite prompt and the folder chooser, driven by lines on standard input so that an
// installation can be scripted. Ctrl+C acts as the main dialog's Cancel button.
#pragma once

#include <cstddef>

// Installs the Ctrl+C handler; called by the entry routine before anything else, so that
// an interrupt during start-up cancels instead of killing the process.
void terminal_begin();

namespace terminal {

enum class LineResult { kLine, kEnd, kInterrupted };

// Waits for the next line of standard input (without its line end and surrounding
// blanks). kInterrupted when Ctrl+C was pressed (the interrupt is taken); kEnd at end
// of input.
LineResult read_line(char* out, size_t size);

// Takes a pending Ctrl+C: true once per press.
bool take_interrupt();

// True when standard input is a terminal (which echoes what is typed itself).
bool input_is_terminal();

// Text to standard output, flushed at once; ends a pending in-place progress line first.
void print(const char* text);
void printf_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A progress line: rewritten in place on a terminal, one line each otherwise.
void show_progress(const char* text);

}  // namespace terminal

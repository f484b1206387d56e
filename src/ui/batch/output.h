// What zpx prints: messages with the "zpx:" prefix on standard error, results on the report
// stream, names made safe for a terminal, the verbosity chosen on the command line, and
// the progress bar. Nothing but a command's data ever goes to standard output when that
// data is an archive (-o -): results then go to standard error too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum class Verbosity { kQuiet, kNormal, kVerbose };

// -q: errors only; -v: every file.
extern Verbosity verbosity;

// Standard output carries data (an archive written with -o -): results go to standard error.
void set_data_on_stdout(bool on);
// Where a command's results and summaries go: standard output, or standard error when
// standard output carries data.
FILE* report_stream();

// "zpx: " + text + line feed on standard error, always shown.
void print_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "zpx: warning: " + text, hidden by -q.
void print_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "zpx: " + text on standard error, hidden by -q (notes and summaries of trouble that is
// no failure, such as kept files).
void print_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A result line on the report stream, hidden by -q.
void print_result(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A line for each file on the report stream, shown with -v only.
void print_detail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "1 file", "2 files": a count with its noun in the right number.
std::string counted(uint64_t n, const char* one, const char* many);

// A name or path made safe for a terminal: control bytes (C0, DEL, and C1 written as
// UTF-8) and bytes that are no valid UTF-8 become '?', so no escape sequence of a hostile
// name reaches the terminal.
std::string shown(const std::string& text);
// The POSIX form of a Windows path of the core, made safe for a terminal.
std::string shown_windows_path(const char* windows_path);

// The progress bar on standard error, drawn only when standard error is a terminal and
// -q is not given. Long runs show the rate and the time left.
void progress_start(uint64_t total, bool bytes);
void progress_set_total(uint64_t total);
void progress_update(uint64_t done, const std::string& label);
// Removes the bar from the screen (every print_* does this first); the next update draws
// it again.
void progress_clear();
void progress_end();

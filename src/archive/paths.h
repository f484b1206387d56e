// Byte-string and path routines shared by the whole installer. Paths are Windows-style
// texts in the ANSI code page: backslash separators, an optional drive letter and colon,
// at most 260 characters and a terminator. Nothing here allocates; the core uses these
// instead of the C library so that the stub needs none.
#pragma once

#include <cstdint>

// Last occurrence of c in text (searching for '\0' gives the terminator), or nullptr.
char* find_last_char(char* text, char c);
const char* find_last_char(const char* text, char c);
// First byte equal to value among the next count bytes, or nullptr.
const uint8_t* scan_bytes(const void* start, uint8_t value, uint32_t count);
// 0 when equal, -1 / 1 by the first differing unsigned byte.
int compare_bytes(const void* a, const void* b, uint32_t count);
// Where the file name of path begins.
char* file_name_part(char* path);
const char* file_name_part(const char* path);
// Adds one backslash unless the text is empty or ends in '\' or ':'; returns the terminator.
char* append_separator(char* path);
// Removes trailing backslashes (a drive root and a lone backslash stay); returns the terminator.
char* strip_separators(char* path);
// Creates path and every missing folder above it: 1 when the folder exists afterwards,
// 0 otherwise with last_os_error holding the reason (161 for a path of 260 or more).
int create_folder_chain(const char* path);

// 1 when path, or a folder of it below `from`, is a link (a junction or a symbolic link,
// even one to nothing), which could lead out of the folder it lies in; access denied is
// then recorded. What lies before `from` (the install folder) is not looked at: the user
// chose it, link or not.
int link_below(char* path, char* from);

// Text helpers.
uint32_t text_length(const char* text);
// Copies text into out (size bytes); false and a truncated copy when it does not fit.
bool text_copy(char* out, uint32_t size, const char* text);
// Appends text to the terminated text in out (size bytes); false, unchanged, when it does not fit.
bool text_append(char* out, uint32_t size, const char* text);
// Case-insensitive comparison of ASCII letters: 0 when equal.
int text_compare_nocase(const char* a, const char* b);
// Formats fmt into out (size bytes, always terminated), replacing each "%s" with the next
// of the given texts. Returns the length written.
uint32_t format_text(char* out, uint32_t size, const char* fmt, const char* first,
                     const char* second = nullptr);

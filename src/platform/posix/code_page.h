// Names as Windows programs read them: single-byte (or, for the East Asian code pages,
// double-byte) texts of the ANSI code page, converted to and from the UTF-8 of this
// system. The conversions are glibc's iconv.
#pragma once

#include <cstddef>
#include <cstdint>

// The Western code page, what most Windows systems use for programs without Unicode.
inline constexpr uint32_t kDefaultCodePage = 1252;

// Code page of the names inside the core, used where paths cross to the system
// (path_map.h); 0: the bytes pass unchanged.
extern uint32_t ansi_code_page;

// True for the code pages names can be converted to: 874, 932, 936, 949, 950 and 1250 to
// 1257.
bool code_page_known(uint32_t code_page);
// True when the code page writes some characters in two bytes (932, 936, 949, 950).
bool code_page_double_byte(uint32_t code_page);

// UTF-8 to the code page and back, `size` bytes of `in` into `out` (always terminated).
// Return the length written, or -1 when a character has no form in the target (a
// character the code page lacks, a byte that is no character of it, no valid UTF-8) or
// the result does not fit.
long code_page_encode(uint32_t code_page, const char* in, size_t size, char* out, size_t out_size);
long code_page_decode(uint32_t code_page, const char* in, size_t size, char* out, size_t out_size);

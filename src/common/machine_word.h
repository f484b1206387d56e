// The word the decoder's bit buffer and the CRC's slicing work in. The i686 stub uses
// 32 bits; ZARPEX_NARROW_WORD selects the same on 64-bit hosts, so that the sanitizer
// build's tests run the stub's own code paths.
//
// ZARPEX_HOST_FAST is 1 on 64-bit x86 hosts outside the stubs (POSIX builds with wide
// words): paths there that the stubs leave out for their size (the carry-less multiply
// CRC, the call filter's scan with the C library's memchr).
#pragma once

#include <cstdint>

#if defined(ZARPEX_NARROW_WORD)
using MachineWord = uint32_t;
#else
using MachineWord = uintptr_t;
#endif

#if !defined(_WIN32) && !defined(ZARPEX_NARROW_WORD) && defined(__x86_64__)
#define ZARPEX_HOST_FAST 1
#else
#define ZARPEX_HOST_FAST 0
#endif

// ZARPEX_FAST_DECODE is 1 on 64-bit builds outside the Win32 stubs: the decoder's fast
// loop, primary tables filled by doubling and the window moved only when a block does not
// fit behind it, which the stubs leave out for their size.
#if !defined(_WIN32) && !defined(ZARPEX_NARROW_WORD) && UINTPTR_MAX > 0xFFFFFFFFu
#define ZARPEX_FAST_DECODE 1
#else
#define ZARPEX_FAST_DECODE 0
#endif

// The word the decoder's bit buffer and the CRC's slicing work in. The i686 stub uses
// 32 bits; ZARPEX_NARROW_WORD selects the same on 64-bit hosts, so that the sanitizer
// build's tests run the stub's own code paths.
#pragma once

#include <cstdint>

#if defined(ZARPEX_NARROW_WORD)
using MachineWord = uint32_t;
#else
using MachineWord = uintptr_t;
#endif

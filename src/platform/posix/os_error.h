// errno to Windows error numbers.
#pragma once

#include <cstdint>

// posix_path, when given, tells a missing file (2) from a missing folder above it (3).
uint32_t windows_error_from_errno(int error, const char* posix_path);

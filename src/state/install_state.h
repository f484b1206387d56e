// Process-wide installer settings shared by the dialogs, the extraction driver and
// the decoding loops. One thread: the flags are plain bytes. The record lies below every
// layer that uses it, so that the decoder reads cancel_requested without knowing the
// installer.
#pragma once

#include <cstdint>

inline constexpr int kPathBufferSize = 261;  // 260 characters and a terminator
inline constexpr int kWorkPathSize = 260;

struct InstallState {
  char install_folder[kPathBufferSize];
  uint8_t cancel_requested;
  uint8_t overwrite_all;
  int8_t os_major_version;
  void* instance_handle;
  char module_name[kWorkPathSize];
  // Unattended installation (/S): no window at all; the first failure ends it, and its
  // ResultCode, made positive, becomes the exit code.
  uint8_t silent;
  int32_t silent_failure;  // 0, or the first failure of a silent installation
  // The install folder given with /D= (the rest of the command line), or none.
  const char* folder_argument;
};

extern InstallState install_state;

// What the installer needs of the system beyond files: version, own path, registry,
// profile file and starting a program. Win32 (installer/win32) passes each call to the
// Windows function of the same role; POSIX (installer/posix) keeps a file-backed
// registry and profile of its own and starts the program detached.
#pragma once

#include <cstdint>

using RegKey = void*;
enum RegHive : uint32_t { kHiveLocalMachine, kHiveCurrentUser };
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kSwShowNormal = 1;

uint32_t sys_get_version();  // low byte: the OS major version
// The installer's own full path (Windows form); returns its length, 0 on failure.
uint32_t sys_module_file_name(void* instance, char* out, uint32_t size);

// The command line as Windows gives it: the program's name, then the arguments.
const char* sys_command_line();
#if !defined(_WIN32)
// POSIX: builds that command line from main's arguments. --silent stands for /S and
// "--dir DIR" for /D=DIR; a folder that is a POSIX path (starting with '/') becomes its
// Windows name.
void sys_set_arguments(int count, char** arguments);
#endif

// Registry: results are Windows error numbers, 0 on success.
long sys_reg_open_key(RegHive hive, const char* subkey, RegKey* key);  // query access
long sys_reg_query_value(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
long sys_reg_create_key(RegHive hive, const char* subkey, RegKey* key);  // set access
long sys_reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size);
void sys_reg_close_key(RegKey key);

// Profile file (a bare file name lies in the Windows folder).
uint32_t sys_profile_get_string(const char* section, const char* key, const char* fallback,
                                char* out, uint32_t size, const char* file);
int sys_profile_write_string(const char* section, const char* key, const char* value,
                             const char* file);

// Full path of path into out (size bytes); returns its length (no terminator), or the
// size needed when it does not fit, or 0 on failure.
uint32_t sys_full_path_name(const char* path, uint32_t size, char* out);
// Starts a program with the command line; result above 31 means started.
uint32_t sys_win_exec(const char* command_line, uint32_t show);

// The installer's system calls over Win32: version, own path, registry, profile file,
// full path names and starting a program, each passed to the Windows call of that role.
#include <windows.h>

#include "installer/system.h"

namespace {

HKEY hive_key(RegHive hive) {
  return hive == kHiveLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

uint32_t sys_get_version() {
  return GetVersion();
}

const char* sys_command_line() {
  return GetCommandLineA();
}

uint32_t sys_module_file_name(void* instance, char* out, uint32_t size) {
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(instance), out, size);
  if (length != 0 && length < size) return length;
  // Failed, or cut short: Windows XP then leaves the text without its terminator.
  if (size != 0) out[length == 0 ? 0 : size - 1] = '\0';
  return 0;
}

long sys_reg_open_key(RegHive hive, const char* subkey, RegKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExA(hive_key(hive), subkey, 0, KEY_QUERY_VALUE, &opened);
  *key = opened;
  return status;
}

long sys_reg_query_value(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  DWORD value_type = 0;
  DWORD value_size = *size;
  const LONG status = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &value_type,
                                       static_cast<BYTE*>(data), &value_size);
  *type = value_type;
  *size = value_size;
  return status;
}

long sys_reg_create_key(RegHive hive, const char* subkey, RegKey* key) {
  HKEY created = nullptr;
  const LONG status = RegCreateKeyExA(hive_key(hive), subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_SET_VALUE, nullptr, &created, nullptr);
  *key = created;
  return status;
}

long sys_reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size) {
  return RegSetValueExA(static_cast<HKEY>(key), name, 0, type, static_cast<const BYTE*>(data),
                        size);
}

void sys_reg_close_key(RegKey key) {
  RegCloseKey(static_cast<HKEY>(key));
}

uint32_t sys_profile_get_string(const char* section, const char* key, const char* fallback,
                                char* out, uint32_t size, const char* file) {
  return GetPrivateProfileStringA(section, key, fallback, out, size, file);
}

int sys_profile_write_string(const char* section, const char* key, const char* value,
                             const char* file) {
  return WritePrivateProfileStringA(section, key, value, file);
}

uint32_t sys_full_path_name(const char* path, uint32_t size, char* out) {
  return GetFullPathNameA(path, size, out, nullptr);
}

uint32_t sys_win_exec(const char* command_line, uint32_t show) {
  return WinExec(command_line, show);
}

// A DLL planted beside the installer under the name of a DLL that Windows loads by name
// (uxtheme.dll, ...): when it is loaded, it leaves "<its file name>.loaded" beside itself,
// and nothing else. Built without any runtime, so that it imports only kernel32.
#include <windows.h>

extern "C" BOOL WINAPI planted_entry(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyA(path + length, ".loaded");
  const HANDLE marker =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

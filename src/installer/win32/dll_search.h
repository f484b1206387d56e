// Where DLLs loaded after start-up may come from: the stub's first act. The installer
// runs from a downloads folder, often as administrator; a DLL dropped there under a name
// that a system DLL loads by name later would run inside it.
#pragma once

#include <windows.h>

#include "archive/paths.h"

// 1: the DLL search restricted. Test builds only: 0 leaves it open (to show what the
// restriction prevents), 2 takes the way of the systems without SetDefaultDllDirectories.
#if !defined(ZARPEX_DLL_SEARCH)
#define ZARPEX_DLL_SEARCH 1
#endif

// What the system DLLs load by name once the dialogs run: the themed controls' DLL and,
// before it, its own import (seen in a trace of every DLL loaded through the main dialog,
// both Browse forms and an installation). They are loaded first from the system folder,
// so that a later load by name finds them loaded and looks nowhere else: that is all the
// protection there is where SetDefaultDllDirectories is missing, and it also covers a
// loader that resolves delay-loaded imports with the search path of the process's start.
// Each name ends in a zero, the list in a second one; LoadLibrary adds ".dll".
inline constexpr char kPreloadedDlls[] = "msimg32\0uxtheme\0";

// Both calls are looked up by name, since older systems lack them.
__attribute__((always_inline)) inline void restrict_dll_search() {
#if ZARPEX_DLL_SEARCH != 0
  const HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC call = GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (ZARPEX_DLL_SEARCH != 2 && call != nullptr) {
    reinterpret_cast<BOOL(WINAPI*)(DWORD)>(reinterpret_cast<void*>(call))(
        LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // kernel32 always lies in the system folder of the process (SysWOW64 for a 32-bit
  // process on 64-bit Windows): the others are loaded by full path from beside it. That
  // folder's path is far shorter than MAX_PATH, so every name fits behind it.
  char path[MAX_PATH + sizeof kPreloadedDlls];
  if (GetModuleFileNameA(kernel, path, MAX_PATH) != 0) {
    char* const name = file_name_part(path);
    for (const char* dll = kPreloadedDlls; *dll != '\0';) {
      char* out = name;
      while ((*out++ = *dll++) != '\0') {
      }
      LoadLibraryA(path);
    }
  }
  // The current folder leaves the search too.
  call = GetProcAddress(kernel, "SetDllDirectoryA");
  if (call != nullptr) reinterpret_cast<BOOL(WINAPI*)(LPCSTR)>(reinterpret_cast<void*>(call))("");
#endif
}

// The stub's entry routine: there is no C runtime, so the linker starts the process here.
#include <windows.h>

#include "archive/paths.h"
#include "installer/install_sequence.h"

// 1: the DLL search restricted. Test builds only: 0 leaves it open (to show what the
// restriction prevents), 2 takes the way of the systems without SetDefaultDllDirectories.
#if !defined(ZARPEX_DLL_SEARCH)
#define ZARPEX_DLL_SEARCH 1
#endif

namespace {

// Loaded by name while the dialogs run (the themed controls, the shell's folder browser,
// the file dialog); on systems without SetDefaultDllDirectories they are loaded first from
// the system folder, so that a later load by name finds them there and not beside the
// installer. Each name ends in a zero, the list in a second one; LoadLibrary adds ".dll".
constexpr char kPreloaded[] = "uxtheme\0";

}  // namespace

extern "C" void stub_entry() {
  // First of all, where DLLs loaded later may come from. The installer runs from a
  // downloads folder, often as administrator: a DLL dropped there under a name that a
  // system DLL loads later would run inside it. Both calls are looked up by name, since
  // older systems lack them.
#if ZARPEX_DLL_SEARCH != 0
  const HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC call = GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (ZARPEX_DLL_SEARCH != 2 && call != nullptr) {
    reinterpret_cast<BOOL(WINAPI*)(DWORD)>(reinterpret_cast<void*>(call))(
        LOAD_LIBRARY_SEARCH_SYSTEM32);
  } else {
    // kernel32 always lies in the system folder of the process (SysWOW64 for a 32-bit
    // process on 64-bit Windows): the others are loaded by full path from beside it. That
    // folder's path is far shorter than MAX_PATH, so every name fits behind it.
    char path[MAX_PATH + sizeof kPreloaded];
    if (GetModuleFileNameA(kernel, path, MAX_PATH) != 0) {
      char* const name = file_name_part(path);
      for (const char* dll = kPreloaded; *dll != '\0';) {
        char* out = name;
        while ((*out++ = *dll++) != '\0') {
        }
        LoadLibraryA(path);
      }
    }
  }
  // The current folder leaves the search too.
  call = GetProcAddress(kernel, "SetDllDirectoryA");
  if (call != nullptr) reinterpret_cast<BOOL(WINAPI*)(LPCSTR)>(reinterpret_cast<void*>(call))("");
#endif

  // The exit code is 0 but after a failed silent installation.
  ExitProcess(static_cast<UINT>(install_sequence(GetModuleHandleA(nullptr))));
}

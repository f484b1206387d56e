// The stub's entry routine: there is no C runtime, so the linker starts the process here.
#include <windows.h>

#include "installer/install_sequence.h"
#include "installer/win32/dll_search.h"

extern "C" void stub_entry() {
  restrict_dll_search();  // before anything else
  // The exit code is 0 but after a failed silent installation.
  ExitProcess(static_cast<UINT>(install_sequence(GetModuleHandleA(nullptr))));
}

// The stub's entry routine: there is no C runtime, so the linker starts the process here.
#include <windows.h>

#include "installer/install_sequence.h"

extern "C" void stub_entry() {
  install_sequence(GetModuleHandleA(nullptr));
  ExitProcess(0);  // the exit code is 0 after success, cancel and every failure alike
}

// The stub's DLL search restriction, then a load by bare name of every DLL named on the
// command line, as system DLLs load what they need later. Under Wine the installer's own
// process loads the DLLs it needs by name before its first instruction, or through
// delay-loaded imports that Wine resolves with the search path of the process's start,
// so the restriction is shown here, in a process that loads by name after it.
#include <windows.h>

#include "installer/win32/dll_search.h"

int main(int argc, char** argv) {
  restrict_dll_search();
  for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
  return 0;
}

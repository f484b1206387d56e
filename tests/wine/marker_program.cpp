// A stand-in for the installed program: when started it writes its command line into
// "Zarpex32.started" in its own folder, so that a test can tell it ran and how.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH + 32];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  char* name = path + length;
  while (name > path && name[-1] != '\\') --name;
  lstrcpyA(name, "Zarpex32.started");
  HANDLE marker =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  const char* command_line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(marker, command_line, lstrlenA(command_line), &written, nullptr);
  CloseHandle(marker);
  return 0;
}

// Entry routine of the POSIX installer: the same install sequence as on Windows, with the
// terminal front end. The command line is not read and the exit code is always 0.
#include <sys/stat.h>

#include "installer/install_sequence.h"
#include "platform/posix/path_map.h"
#include "ui/posix/terminal.h"

namespace {

// Drive C: exists on every Windows machine; its folder may not exist yet here (a fresh
// ZARPEX_ROOT), and the folders proposed on it could not be created then.
void ensure_system_drive() {
  char folder[4096];
  if (!drive_folder('c', folder, sizeof folder)) return;
  for (char* p = folder + 1; *p != '\0'; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    mkdir(folder, 0777);
    *p = '/';
  }
  mkdir(folder, 0777);
}

}  // namespace

int main() {
  terminal_begin();
  ensure_system_drive();
  install_sequence(nullptr);
  return 0;
}

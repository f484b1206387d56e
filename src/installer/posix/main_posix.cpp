// Entry routine of the POSIX installer: the same install sequence as on Windows, with the
// terminal front end. It takes the Windows installer's switches (/S, /D=) and also
// --silent and --dir DIR; the exit code is the install sequence's.
#include <sys/stat.h>

#include "installer/arguments.h"
#include "installer/install_sequence.h"
#include "installer/system.h"
#include "platform/posix/path_map.h"
#include "state/install_state.h"
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

int main(int argc, char** argv) {
  sys_set_arguments(argc, argv);
  // A silent installation has no dialog, so Ctrl+C is not its Cancel button: it ends
  // the process at once, as it does for any program without a handler.
  read_arguments(sys_command_line());
  if (!install_state.silent) terminal_begin();
  ensure_system_drive();
  return install_sequence(nullptr);
}

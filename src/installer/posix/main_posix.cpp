// Entry routine of the POSIX installer: the same install sequence as on Windows, with the
// terminal front end. The command line is not read and the exit code is always 0.
#include "installer/install_sequence.h"
#include "ui/posix/terminal.h"

int main() {
  terminal_begin();
  install_sequence(nullptr);
  return 0;
}

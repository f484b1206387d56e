// Entry routine of the POSIX installer: the same install sequence as on Windows, with the
// terminal front end. It takes the Windows installer's switches (/S, /D=) and also
// --silent and --dir DIR; the exit code is the install sequence's.
#include <sys/stat.h>

#include <cstdlib>

#include "installer/arguments.h"
#include "installer/install_sequence.h"
#include "installer/system.h"
#include "platform/posix/code_page.h"
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

// The archive's names are texts of a Windows ANSI code page, written here as UTF-8: 1252
// unless ZARPEX_CODE_PAGE names another (0: the names' bytes unchanged).
void choose_code_page() {
  ansi_code_page = kDefaultCodePage;
  const char* given = std::getenv("ZARPEX_CODE_PAGE");
  if (given == nullptr || given[0] == '\0') return;
  const unsigned long code_page = std::strtoul(given, nullptr, 10);
  if (code_page == 0 || code_page_known(static_cast<uint32_t>(code_page)))
    ansi_code_page = static_cast<uint32_t>(code_page);
}

}  // namespace

int main(int argc, char** argv) {
  sys_set_arguments(argc, argv);
  // A silent installation has no dialog, so Ctrl+C is not its Cancel button: it ends
  // the process at once, as it does for any program without a handler.
  read_arguments(sys_command_line());
  if (!install_state.silent) terminal_begin();
  choose_code_page();
  ensure_system_drive();
  return install_sequence(nullptr);
}

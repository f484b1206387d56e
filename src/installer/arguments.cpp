#include "installer/arguments.h"

#include "state/install_state.h"

namespace {

// A blank (space or tab; other control characters count as blanks too) or the end.
bool ends_argument(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

void read_arguments(const char* p) {
  // An argument begins after a blank outside quotes; the program's name, quoted or not,
  // is passed over the same way.
  bool quoted = false;
  for (char c; (c = *p) != '\0'; ++p) {
    quoted ^= c == '"';
    if (quoted || !ends_argument(c) || p[1] != '/') continue;
    const char letter = static_cast<char>(p[2] | 0x20);  // upper or lower case
    if (letter == 'd' && p[3] == '=') {
      install_state.folder_argument = p + 4;
      return;
    }
    if (letter == 's' && ends_argument(p[3])) install_state.silent = 1;
  }
}

// Text bound for a terminal. Names come from the archive, and a name may hold any byte:
// every control byte (below 0x20, and 0x7F) is shown as '?', so that no name can move
// the cursor, rewrite the screen or send an escape sequence. A message's own line feeds
// stay where the caller keeps them.
#pragma once

#include <cstdio>

inline void put_terminal_text(std::FILE* out, const char* text, bool keep_line_feeds) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const bool control = c < 0x20 || c == 0x7F;
    std::fputc(control && !(keep_line_feeds && c == '\n') ? '?' : c, out);
  }
}

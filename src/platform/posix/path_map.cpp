#include "platform/posix/path_map.h"

#include <cstdlib>
#include <cstring>

#include "platform/posix/code_page.h"

namespace {

bool is_drive_prefix(const char* p) {
  const char c = p[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && p[1] == ':';
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool append(char* out, size_t out_size, size_t* used, const char* text, size_t n) {
  if (*used + n + 1 > out_size) return false;
  std::memcpy(out + *used, text, n);
  *used += n;
  out[*used] = '\0';
  return true;
}

// The names part of a path in the other side's encoding: decoded from ansi_code_page on
// the way to POSIX, encoded into it on the way back. Null when it has no form there;
// the text itself when no code page is set or it is plain ASCII.
const char* converted(const char* text, bool to_posix, char* buffer, size_t size) {
  bool ascii = true;
  for (const char* p = text; *p != '\0'; ++p)
    ascii = ascii && static_cast<unsigned char>(*p) < 0x80;
  if (ansi_code_page == 0 || ascii) return text;
  const size_t n = std::strlen(text);
  const long written = to_posix ? code_page_decode(ansi_code_page, text, n, buffer, size)
                                : code_page_encode(ansi_code_page, text, n, buffer, size);
  return written < 0 ? nullptr : buffer;
}

}  // namespace

bool zarpex_root(char* out, size_t out_size) {
  size_t used = 0;
  out[0] = '\0';
  if (const char* root = std::getenv("ZARPEX_ROOT"); root != nullptr && root[0] != '\0') {
    return append(out, out_size, &used, root, std::strlen(root));
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') home = "/tmp";
  return append(out, out_size, &used, home, std::strlen(home)) &&
         append(out, out_size, &used, "/.zarpex", 8);
}

bool drive_folder(char letter, char* out, size_t out_size) {
  letter = lower(letter);
  size_t used = 0;
  out[0] = '\0';
  if (letter == 'z') return append(out, out_size, &used, "", 0);  // "/" minus its slash
  if (!zarpex_root(out, out_size)) return false;
  used = std::strlen(out);
  const char suffix[] = {'/', 'd', 'r', 'i', 'v', 'e', '_', letter};
  return append(out, out_size, &used, suffix, sizeof suffix);
}

bool map_to_posix(const char* windows_path, char* out, size_t out_size) {
  size_t used = 0;
  if (out_size == 0) return false;
  out[0] = '\0';
  const char* rest = windows_path;
  if (is_drive_prefix(windows_path)) {
    if (!drive_folder(windows_path[0], out, out_size)) return false;
    used = std::strlen(out);
    rest = windows_path + 2;
    // "C:" and "C:name" are taken relative to the drive's root.
    if (rest[0] != '\\' && rest[0] != '/' && !append(out, out_size, &used, "/", 1)) return false;
  }
  char decoded[4096];
  rest = converted(rest, true, decoded, sizeof decoded);
  if (rest == nullptr) return false;
  for (const char* p = rest; *p != '\0'; ++p) {
    const char c = (*p == '\\') ? '/' : *p;
    if (!append(out, out_size, &used, &c, 1)) return false;
  }
  return true;
}

bool map_to_windows(const char* posix_path, char* out, size_t out_size) {
  size_t used = 0;
  if (out_size == 0) return false;
  out[0] = '\0';
  char root[4096];
  if (posix_path[0] == '/' && zarpex_root(root, sizeof root)) {
    const size_t n = std::strlen(root);
    // "$ROOT/drive_x/..." is drive X:.
    if (std::strncmp(posix_path, root, n) == 0 && std::strncmp(posix_path + n, "/drive_", 7) == 0 &&
        posix_path[n + 7] >= 'a' && posix_path[n + 7] <= 'y' &&
        (posix_path[n + 8] == '/' || posix_path[n + 8] == '\0')) {
      char drive[2] = {static_cast<char>(posix_path[n + 7] - 'a' + 'A'), ':'};
      if (!append(out, out_size, &used, drive, 2)) return false;
      char encoded[4096];
      const char* rest = converted(posix_path + n + 8, false, encoded, sizeof encoded);
      if (rest == nullptr) return false;
      if (*rest == '\0' && !append(out, out_size, &used, "\\", 1)) return false;
      for (const char* p = rest; *p != '\0'; ++p) {
        const char c = (*p == '/') ? '\\' : *p;
        if (!append(out, out_size, &used, &c, 1)) return false;
      }
      return true;
    }
  }
  if (posix_path[0] == '/' && !append(out, out_size, &used, "Z:", 2)) return false;
  char encoded[4096];
  const char* rest = converted(posix_path, false, encoded, sizeof encoded);
  if (rest == nullptr) return false;
  for (const char* p = rest; *p != '\0'; ++p) {
    const char c = (*p == '/') ? '\\' : *p;
    if (!append(out, out_size, &used, &c, 1)) return false;
  }
  return true;
}

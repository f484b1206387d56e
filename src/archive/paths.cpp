#include "archive/paths.h"

#include "platform/fs.h"
#include "state/install_state.h"

char* find_last_char(char* text, char c) {
  char* found = nullptr;
  for (char* p = text;; ++p) {
    if (*p == c) found = p;
    if (*p == '\0') return found;
  }
}

const char* find_last_char(const char* text, char c) {
  return find_last_char(const_cast<char*>(text), c);
}

const uint8_t* scan_bytes(const void* start, uint8_t value, uint32_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(start);
  for (uint32_t i = 0; i < count; ++i) {
    if (p[i] == value) return p + i;
  }
  return nullptr;
}

int compare_bytes(const void* a, const void* b, uint32_t count) {
  const uint8_t* x = static_cast<const uint8_t*>(a);
  const uint8_t* y = static_cast<const uint8_t*>(b);
  for (uint32_t i = 0; i < count; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

char* file_name_part(char* path) {
  char* slash = find_last_char(path, '\\');
  if (slash != nullptr) return slash + 1;
  if (path[0] != '\0' && path[1] == ':') return path + 2;
  return path;
}

const char* file_name_part(const char* path) {
  return file_name_part(const_cast<char*>(path));
}

char* append_separator(char* path) {
  char* end = path + text_length(path);
  if (end == path || end[-1] == '\\' || end[-1] == ':') return end;
  end[0] = '\\';
  end[1] = '\0';
  return end + 1;
}

char* strip_separators(char* path) {
  char* end = path + text_length(path);
  while (end - path >= 2 && end[-1] == '\\' && end[-2] != ':') {
    --end;
    *end = '\0';
  }
  return end;
}

int create_folder_chain(const char* path) {
  char copy[kWorkPathSize];
  if (!text_copy(copy, sizeof copy, path)) {
    // Longer than the working copy: no folder of that name can be made here.
    last_os_error = kErrorBadPathname;
    return 0;
  }
  strip_separators(copy);
  if (copy[0] == '\0') return 1;
  if (fs_get_attributes(copy) != kInvalidAttributes) return 1;

  uint32_t depth = 0;
  for (;;) {
    if (fs_create_folder(copy) || last_os_error == kErrorFileExists) break;
    char* slash = find_last_char(copy, '\\');
    if (slash == nullptr || slash == copy || slash[-1] == ':') return 0;
    *slash = '\0';
    ++depth;
  }
  for (; depth > 0; --depth) {
    uint8_t* end = const_cast<uint8_t*>(scan_bytes(copy, 0, sizeof copy));
    if (end == nullptr) return 0;
    *end = '\\';
    if (!fs_create_folder(copy)) return 0;
  }
  return 1;
}

int link_below(char* path, char* from) {
  for (char* p = from;; ++p) {
    const char c = *p;
    if (c == '\\' || c == '\0') {
      *p = '\0';
      const uint32_t attributes = fs_get_attributes(path);
      *p = c;
      // Bit 31 is set only in kInvalidAttributes (nothing there).
      if ((attributes & (0x80000000u | kAttributeReparsePoint)) == kAttributeReparsePoint) {
        last_os_error = kErrorAccessDenied;
        return 1;
      }
      if (c == '\0') return 0;
    }
  }
}

uint32_t text_length(const char* text) {
  uint32_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

bool text_copy(char* out, uint32_t size, const char* text) {
  if (size == 0) return false;
  uint32_t i = 0;
  for (; text[i] != '\0'; ++i) {
    if (i + 1 >= size) {
      out[i] = '\0';
      return false;
    }
    out[i] = text[i];
  }
  out[i] = '\0';
  return true;
}

bool text_append(char* out, uint32_t size, const char* text) {
  const uint32_t have = text_length(out);
  const uint32_t add = text_length(text);
  if (have + add + 1 > size || have + add < have) return false;
  for (uint32_t i = 0; i <= add; ++i) out[have + i] = text[i];
  return true;
}

static uint8_t fold_ascii(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + ('a' - 'A')) : c;
}

int text_compare_nocase(const char* a, const char* b) {
  for (uint32_t i = 0;; ++i) {
    const uint8_t x = fold_ascii(static_cast<uint8_t>(a[i]));
    const uint8_t y = fold_ascii(static_cast<uint8_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

uint32_t format_text(char* out, uint32_t size, const char* fmt, const char* first,
                     const char* second) {
  if (size == 0) return 0;
  const char* args[2] = {first, second};
  uint32_t next_arg = 0;
  uint32_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < size) out[n++] = c;
  };
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* arg = next_arg < 2 ? args[next_arg] : nullptr;
      ++next_arg;
      if (arg != nullptr) {
        for (; *arg != '\0'; ++arg) put(*arg);
      }
      ++p;
    } else {
      put(*p);
    }
  }
  out[n] = '\0';
  return n;
}

// Profile files of the installer on POSIX: a bare file name lies in the Windows folder
// C:\Windows, that is $ZARPEX_ROOT/drive_c/windows; the format is the usual "[section]"
// and "key=value".
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "installer/posix/text_store.h"
#include "installer/system.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"

namespace {

std::string profile_path(const char* file) {
  const bool bare = std::strchr(file, '\\') == nullptr && std::strchr(file, '/') == nullptr &&
                    std::strchr(file, ':') == nullptr;
  char out[4096];
  if (bare) {
    if (!drive_folder('C', out, sizeof out)) return std::string();
    return std::string(out) + "/windows/" + file;
  }
  if (!map_to_posix(file, out, sizeof out)) return std::string();
  return out;
}

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  return text.substr(begin, end - begin);
}

bool is_section(const std::string& line, std::string* name) {
  const std::string t = trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = trim(t.substr(1, t.size() - 2));
  return true;
}

bool is_entry(const std::string& line, std::string* key, std::string* value) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  *key = trim(line.substr(0, equals));
  *value = trim(line.substr(equals + 1));
  return true;
}

}  // namespace

uint32_t sys_profile_get_string(const char* section, const char* key, const char* fallback,
                                char* out, uint32_t size, const char* file) {
  if (size == 0) return 0;
  std::string value = fallback != nullptr ? fallback : "";
  const std::string path = profile_path(file);
  std::string current, entry_key, entry_value;
  bool in_section = false;
  for (const std::string& line : read_lines(path)) {
    if (is_section(line, &current)) {
      in_section = equal_nocase(current, section);
    } else if (in_section && is_entry(line, &entry_key, &entry_value) &&
               equal_nocase(entry_key, key)) {
      value = entry_value;
      break;
    }
  }
  const size_t length = value.size() < size ? value.size() : size - 1;
  std::memcpy(out, value.data(), length);
  out[length] = '\0';
  return static_cast<uint32_t>(length);
}

int sys_profile_write_string(const char* section, const char* key, const char* value,
                             const char* file) {
  const std::string path = profile_path(file);
  if (path.empty()) return 0;
  std::vector<std::string> lines = read_lines(path);
  const std::string entry = std::string(key) + "=" + value;
  std::string current, entry_key, entry_value;
  bool in_section = false;
  bool done = false;
  size_t section_end = lines.size();
  bool section_found = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    if (is_section(lines[i], &current)) {
      if (in_section) {
        section_end = i;
        break;
      }
      in_section = equal_nocase(current, section);
      if (in_section) section_found = true;
    } else if (in_section && is_entry(lines[i], &entry_key, &entry_value) &&
               equal_nocase(entry_key, key)) {
      lines[i] = entry_key + "=" + value;  // the key keeps its spelling
      done = true;
    }
  }
  if (!done) {
    if (section_found) {
      // Behind the section's last non-empty line.
      size_t at = section_end;
      while (at > 0 && trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
      lines.push_back(std::string("[") + section + "]");
      lines.push_back(entry);
    }
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_folders(path.substr(0, slash))) return 0;
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return 0;
  bool good = true;
  for (const std::string& line : lines) {
    good = good && std::fputs(line.c_str(), out) >= 0 && std::fputc('\n', out) != EOF;
  }
  good = (std::fclose(out) == 0) && good;
  return good ? 1 : 0;
}

// The system services of the installer on POSIX.
//
// Registry: one store per hive, $ZARPEX_ROOT/registry/machine/store and .../user/store,
// a text file of lines "key<TAB>value name<TAB>type<TAB>byte count<TAB>bytes in hex" (a
// line with the key alone records a key without values; the default value has an empty
// name). Keys and value names compare without regard to ASCII case, as on Windows. A
// hive whose folder or store file lacks the owner-write bit refuses to create keys with
// 5 (access denied), which is how an unprivileged user meets HKEY_LOCAL_MACHINE.
//
// Profile files: a bare file name lies in the Windows folder C:\Windows, that is
// $ZARPEX_ROOT/drive_c/windows; the format is the usual "[section]" and "key=value".
//
// Starting a program: the mapped path is run in a new session, detached from the
// installer (double fork), with its standard streams on /dev/null.
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

#include "installer/system.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"

namespace {

constexpr long kRegOk = 0;

struct RegistryLine {
  std::string key;
  std::string name;  // empty: the key's default value
  bool has_value = false;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct OpenKey {
  RegHive hive;
  std::string key;
  bool writable;
};

bool equal_nocase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Windows key paths: separators collapse and neither end carries one.
std::string normalize_key(const char* subkey) {
  std::string out;
  for (const char* p = subkey; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') {
      if (!out.empty() && out.back() != '\\') out += '\\';
    } else {
      out += *p;
    }
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string hive_folder(RegHive hive) {
  char root[4096];
  if (!zarpex_root(root, sizeof root)) return std::string();
  return std::string(root) + "/registry/" + (hive == kHiveLocalMachine ? "machine" : "user");
}

std::string hive_store(RegHive hive) {
  return hive_folder(hive) + "/store";
}

bool lacks_owner_write(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool hive_writable(RegHive hive) {
  const std::string folder = hive_folder(hive);
  if (folder.empty()) return false;
  return !lacks_owner_write(folder) && !lacks_owner_write(hive_store(hive));
}

bool make_folders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      const std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The lines of a text file; none when it cannot be read.
std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return lines;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  std::fclose(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Reads a hive's store; a missing store is an empty hive. Damaged lines are dropped.
std::vector<RegistryLine> load_hive(RegHive hive) {
  std::vector<RegistryLine> lines;
  for (const std::string& text : read_lines(hive_store(hive))) {
    const std::vector<std::string> fields = split_tabs(text);
    RegistryLine line;
    line.key = fields[0];
    if (line.key.empty()) continue;
    if (fields.size() == 5) {
      line.name = fields[1];
      line.type = static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 10));
      const size_t size = std::strtoul(fields[3].c_str(), nullptr, 10);
      const std::string& hex = fields[4];
      if (hex.size() != size * 2) continue;
      bool good = true;
      for (size_t i = 0; i < size; ++i) {
        const int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) good = false;
        line.data.push_back(static_cast<uint8_t>((hi << 4) | (lo & 15)));
      }
      if (!good) continue;
      line.has_value = true;
    } else if (fields.size() != 1) {
      continue;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// Writes the store through a temporary file, so that a failure leaves the old one.
long save_hive(RegHive hive, const std::vector<RegistryLine>& lines) {
  if (!make_folders(hive_folder(hive))) return kErrorAccessDenied;
  std::string text;
  static const char kHex[] = "0123456789abcdef";
  for (const RegistryLine& line : lines) {
    text += line.key;
    if (line.has_value) {
      text += '\t' + line.name + '\t' + std::to_string(line.type) + '\t' +
              std::to_string(line.data.size()) + '\t';
      for (uint8_t b : line.data) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
      }
    }
    text += '\n';
  }
  const std::string store = hive_store(hive);
  const std::string temporary = store + ".new";
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return windows_error_from_errno(errno, temporary.c_str());
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), store.c_str()) != 0) {
    std::remove(temporary.c_str());
    return kErrorWriteFault;
  }
  return kRegOk;
}

// A key exists when it was created, or when a key below it was (its parents exist too).
bool key_exists(const std::vector<RegistryLine>& lines, const std::string& key) {
  for (const RegistryLine& line : lines) {
    if (equal_nocase(line.key, key)) return true;
    if (line.key.size() > key.size() && line.key[key.size()] == '\\' &&
        equal_nocase(line.key.substr(0, key.size()), key)) {
      return true;
    }
  }
  return false;
}

bool name_is_storable(const std::string& text) {
  return text.find('\t') == std::string::npos && text.find('\n') == std::string::npos;
}

// --- Profile files ---

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

// --- Full path names ---

bool is_drive(const char* p) {
  return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

}  // namespace

uint32_t sys_get_version() {
  if (const char* forced = std::getenv("ZARPEX_OS_VERSION"); forced != nullptr && forced[0]) {
    return static_cast<uint32_t>(std::strtoul(forced, nullptr, 10)) & 0xFF;
  }
  return 6;
}

uint32_t sys_module_file_name(void*, char* out, uint32_t size) {
  if (size == 0) return 0;
  char own[4096];
  // ZARPEX_SELF stands in for the program's own file (tests run the installer from
  // a test binary).
  if (const char* self = std::getenv("ZARPEX_SELF"); self != nullptr && self[0] != '\0') {
    if (std::strlen(self) >= sizeof own) return 0;
    std::strcpy(own, self);
  } else {
    const ssize_t n = readlink("/proc/self/exe", own, sizeof own - 1);
    if (n <= 0) return 0;
    own[n] = '\0';
  }
  char windows[4096];
  if (!map_to_windows(own, windows, sizeof windows)) return 0;
  const size_t length = std::strlen(windows);
  if (length >= size) {  // truncated, like the Windows call
    std::memcpy(out, windows, size - 1);
    out[size - 1] = '\0';
    return size;
  }
  std::memcpy(out, windows, length + 1);
  return static_cast<uint32_t>(length);
}

long sys_reg_open_key(RegHive hive, const char* subkey, RegKey* key) {
  *key = nullptr;
  const std::string name = normalize_key(subkey);
  if (!key_exists(load_hive(hive), name)) return kErrorFileNotFound;
  *key = new OpenKey{hive, name, false};
  return kRegOk;
}

long sys_reg_query_value(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  const OpenKey* open = static_cast<const OpenKey*>(key);
  if (open == nullptr) return 6;  // ERROR_INVALID_HANDLE
  const std::string wanted = name != nullptr ? name : "";
  for (const RegistryLine& line : load_hive(open->hive)) {
    if (!line.has_value || !equal_nocase(line.key, open->key) || !equal_nocase(line.name, wanted)) {
      continue;
    }
    if (type != nullptr) *type = line.type;
    const uint32_t needed = static_cast<uint32_t>(line.data.size());
    if (data != nullptr) {
      if (size == nullptr || *size < needed) {
        if (size != nullptr) *size = needed;
        return 234;  // ERROR_MORE_DATA
      }
      if (needed != 0) std::memcpy(data, line.data.data(), needed);
    }
    if (size != nullptr) *size = needed;
    return kRegOk;
  }
  return kErrorFileNotFound;
}

long sys_reg_create_key(RegHive hive, const char* subkey, RegKey* key) {
  *key = nullptr;
  const std::string name = normalize_key(subkey);
  if (name.empty() || !name_is_storable(name)) return kErrorInvalidParameter;
  if (!hive_writable(hive)) return kErrorAccessDenied;
  std::vector<RegistryLine> lines = load_hive(hive);
  if (!key_exists(lines, name)) {
    RegistryLine line;
    line.key = name;
    lines.push_back(line);
    if (const long error = save_hive(hive, lines); error != kRegOk) return error;
  }
  *key = new OpenKey{hive, name, true};
  return kRegOk;
}

long sys_reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size) {
  const OpenKey* open = static_cast<const OpenKey*>(key);
  if (open == nullptr) return 6;
  if (!open->writable) return kErrorAccessDenied;
  const std::string value_name = name != nullptr ? name : "";
  if (!name_is_storable(value_name)) return kErrorInvalidParameter;
  std::vector<RegistryLine> lines = load_hive(open->hive);
  RegistryLine* target = nullptr;
  for (RegistryLine& line : lines) {
    if (line.has_value && equal_nocase(line.key, open->key) &&
        equal_nocase(line.name, value_name)) {
      target = &line;
    }
  }
  if (target == nullptr) {
    lines.emplace_back();
    target = &lines.back();
    target->key = open->key;
    target->name = value_name;
    target->has_value = true;
  }
  target->type = type;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  target->data.assign(bytes, bytes + (bytes != nullptr ? size : 0));
  return save_hive(open->hive, lines);
}

void sys_reg_close_key(RegKey key) {
  delete static_cast<OpenKey*>(key);
}

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

uint32_t sys_full_path_name(const char* path, uint32_t size, char* out) {
  if (path == nullptr || path[0] == '\0') return 0;
  std::string prefix;  // "X:" of the result
  std::string rest;    // what follows the drive, relative to its root
  if (is_drive(path)) {
    prefix.assign(path, 2);
    prefix[0] = static_cast<char>(prefix[0] >= 'a' ? prefix[0] - 'a' + 'A' : prefix[0]);
    rest = path + 2;
  } else if (path[0] == '\\' || path[0] == '/') {
    prefix = "Z:";
    rest = path;
  } else {
    char cwd[4096];
    char windows[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr || !map_to_windows(cwd, windows, sizeof windows)) {
      return 0;
    }
    prefix.assign(windows, 2);
    rest = std::string(windows + 2) + "\\" + path;
  }
  // Split into components, resolving "." and "..".
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == '\\' || rest[i] == '/') {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += rest[i];
    }
  }
  std::string full = prefix + "\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) full += '\\';
    full += parts[i];
  }
  const char last = rest.empty() ? '\0' : rest.back();
  if (!parts.empty() && (last == '\\' || last == '/')) full += '\\';
  if (full.size() + 1 > size) return static_cast<uint32_t>(full.size() + 1);
  std::memcpy(out, full.c_str(), full.size() + 1);
  return static_cast<uint32_t>(full.size());
}

uint32_t sys_win_exec(const char* command_line, uint32_t) {
  char program[4096];
  if (!map_to_posix(command_line, program, sizeof program)) return kErrorPathNotFound;
  struct stat st;
  if (stat(program, &st) != 0) return windows_error_from_errno(errno, program);
  if (!S_ISREG(st.st_mode)) return 11;  // ERROR_BAD_FORMAT
  // Windows runs a program by its name; an extracted file carries no execute bit, so the
  // program to start gets one wherever it may be read.
  if (access(program, X_OK) != 0) {
    chmod(program, (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2));
    if (access(program, X_OK) != 0) return 11;
  }
  const pid_t child = fork();
  if (child < 0) return 0;
  if (child == 0) {
    // The intermediate child starts a new session and leaves at once, so that the
    // program belongs to neither the installer's session nor its children.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
    char* const argv[] = {program, nullptr};
    execv(program, argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return 33;
}

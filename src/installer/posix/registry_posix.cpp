// The registry of the installer on POSIX: one store per hive, $ZARPEX_ROOT/registry/machine/store
// and .../user/store, a text file of lines "key<TAB>value name<TAB>type<TAB>byte count<TAB>bytes
// in hex" (a line with the key alone records a key without values; the default value has an
// empty name). Keys and value names compare without regard to ASCII case, as on Windows. A
// hive whose folder or store file lacks the owner-write bit refuses to create keys with
// 5 (access denied), which is how an unprivileged user meets HKEY_LOCAL_MACHINE.
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

}  // namespace

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

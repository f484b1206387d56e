// The system services of the installer on POSIX that find things: the OS version, the
// installer's own path and full path names. The registry, the profile files and starting
// a program have files of their own (registry_posix.cpp, profile_posix.cpp,
// launch_posix.cpp).
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

bool is_drive(const char* p) {
  return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

std::string command_line = "zarpex-setup";

// A folder given as a POSIX path (starting with '/') by its Windows name.
std::string windows_folder(const std::string& folder) {
  char windows[4096];
  if (folder.empty() || folder[0] != '/' ||
      !map_to_windows(folder.c_str(), windows, sizeof windows)) {
    return folder;
  }
  return windows;
}

}  // namespace

const char* sys_command_line() {
  return command_line.c_str();
}

void sys_set_arguments(int count, char** arguments) {
  command_line = "zarpex-setup";
  bool has_folder = false;
  std::string folder;
  for (int i = 1; i < count; ++i) {
    const std::string argument = arguments[i];
    if (argument == "--silent") {
      command_line += " /S";
    } else if (argument == "--dir" && i + 1 < count) {
      folder = arguments[++i];
      has_folder = true;
    } else if (argument.size() >= 3 && argument[0] == '/' &&
               (argument[1] == 'D' || argument[1] == 'd') && argument[2] == '=') {
      // The last argument: Windows hands over the rest of the line, so the rest of the
      // arguments, joined by spaces, belong to the folder.
      folder = argument.substr(3);
      while (++i < count) folder += std::string(" ") + arguments[i];
      has_folder = true;
    } else if (argument.find_first_of(" \t") != std::string::npos) {
      command_line += " \"" + argument + "\"";  // one argument, as Windows quotes it
    } else {
      command_line += " " + argument;
    }
  }
  if (has_folder) command_line += " /D=" + windows_folder(folder);
}

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

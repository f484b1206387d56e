#include "support/temp_root.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/posix/path_map.h"

TempRoot::TempRoot() {
  if (const char* old = std::getenv("ZARPEX_ROOT")) {
    had_root_ = true;
    saved_root_ = old;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "zarpex-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  setenv("ZARPEX_ROOT", root_.c_str(), 1);
  std::filesystem::create_directories(root_ + "/drive_c");
}

TempRoot::~TempRoot() {
  std::error_code ignored;
  // Read-only files and folders left by a test must not stop the clean-up.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    chmod(it->path().c_str(), it->is_directory(ignored) ? 0755 : 0644);
  }
  std::filesystem::remove_all(root_, ignored);
  if (had_root_) {
    setenv("ZARPEX_ROOT", saved_root_.c_str(), 1);
  } else {
    unsetenv("ZARPEX_ROOT");
  }
}

std::string TempRoot::posix(const std::string& windows_path) const {
  char out[4096];
  if (!map_to_posix(windows_path.c_str(), out, sizeof out))
    throw std::runtime_error("path too long");
  return out;
}

bool path_exists(const std::string& posix_path) {
  struct stat st;
  return lstat(posix_path.c_str(), &st) == 0;
}

bool is_folder(const std::string& posix_path) {
  struct stat st;
  return stat(posix_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string read_file(const std::string& posix_path) {
  std::ifstream in(posix_path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string& posix_path, const std::string& contents) {
  std::ofstream out(posix_path, std::ios::binary | std::ios::trunc);
  out << contents;
}

time_t local_time(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

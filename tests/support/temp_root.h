// A fresh ZARPEX_ROOT for one test: a temporary folder with drive C: made, removed again
// (with everything in it) when the object goes away.
#pragma once

#include <ctime>
#include <string>

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& root() const { return root_; }
  // POSIX path of a path on drive C: given in Windows form ("C:\a\b" -> ".../drive_c/a/b").
  std::string posix(const std::string& windows_path) const;

 private:
  std::string root_;
  std::string saved_root_;
  bool had_root_ = false;
};

// Small file helpers for tests, on POSIX paths.
bool path_exists(const std::string& posix_path);
bool is_folder(const std::string& posix_path);
std::string read_file(const std::string& posix_path);
void write_file(const std::string& posix_path, const std::string& contents);
// Seconds since the epoch of a local date and time (the way DOS times are read).
time_t local_time(int year, int month, int day, int hour, int minute, int second);

// Where zpx build and zpx wrap write: OUT is checked before any work is done, written to a
// temporary file beside it and renamed into place when everything is there, so a failed
// or interrupted run leaves nothing behind. "-" is standard output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Run first in main: opens /dev/null on any of descriptors 0 to 2 that is closed, so that
// no file zpx opens takes one of them for standard input or output (a closed standard
// output then refuses "-o -").
void guard_standard_descriptors();

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks OUT and creates the temporary file: OUT's folder exists and takes files, OUT
  // is not a folder, an existing OUT is replaced only with `force` and only when it is a
  // regular file or a symbolic link (the link itself is replaced, never its target).
  // Standard output is refused when it is a terminal, unless `force`, and when it was
  // closed at start. False with the reason in *error.
  bool open(const std::string& path, bool force, std::string* error);

  bool to_stdout() const { return stdout_; }
  // OUT (when it exists) and the temporary file, as (device, inode): what a scan of the
  // input leaves out.
  std::vector<std::pair<dev_t, ino_t>> own_files() const { return own_; }

  bool write(const void* data, size_t size, std::string* error);
  // Writes again over bytes already written (not on standard output).
  bool write_at(uint64_t offset, const void* data, size_t size, std::string* error);
  // Renames the temporary file over OUT; an installer (`executable`) gets the execute
  // bits wherever it may be read.
  bool commit(bool executable, std::string* error);

 private:
  std::string shown_;  // OUT as given, for messages
  std::string target_;
  int fd_ = -1;
  bool stdout_ = false;
  std::vector<std::pair<dev_t, ino_t>> own_;
};

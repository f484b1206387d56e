#include "tools/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// The temporary file, removed when the run is interrupted by a signal.
char pending_temporary[PATH_MAX + 64];

void remove_pending_and_die(int signal_number) {
  if (pending_temporary[0] != '\0') unlink(pending_temporary);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void watch_signals() {
  struct sigaction action {};
  action.sa_handler = remove_pending_and_die;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string reason(int error) {
  return std::strerror(error);
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ > 1) {
    close(fd_);
    unlink(pending_temporary);
    pending_temporary[0] = '\0';
  }
}

bool OutputFile::open(const std::string& path, bool force, std::string* error) {
  shown_ = path;
  if (path == "-") {
    if (isatty(STDOUT_FILENO) == 1 && !force) {
      *error = "standard output is a terminal: no archive is written there (-f writes it anyway)";
      return false;
    }
    fd_ = 1;
    struct stat st;
    if (fstat(1, &st) == 0 && S_ISREG(st.st_mode)) own_.emplace_back(st.st_dev, st.st_ino);
    return true;
  }
  target_ = path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = path + ": cannot write: it is a folder";
      return false;
    }
    if (!force) {
      *error = path + ": already exists (-f replaces it)";
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      // -f on a symbolic link replaces what it points to, never the link itself.
      char resolved[PATH_MAX];
      if (realpath(path.c_str(), resolved) == nullptr) {
        *error = path + ": cannot write: a symbolic link to nothing (" + reason(errno) + ")";
        return false;
      }
      target_ = resolved;
      if (stat(resolved, &st) != 0) st.st_mode = 0;
      if (S_ISDIR(st.st_mode)) {
        *error = path + ": cannot write: it is a link to a folder";
        return false;
      }
    }
    if (st.st_mode != 0 && !S_ISREG(st.st_mode)) {
      *error = path + ": not a regular file; zpx replaces only regular files";
      return false;
    }
    if (st.st_mode != 0) own_.emplace_back(st.st_dev, st.st_ino);
  }

  const std::string folder = folder_of(target_);
  struct stat folder_stat;
  if (stat(folder.c_str(), &folder_stat) != 0) {
    *error = path + ": cannot create: " + reason(errno);
    return false;
  }
  if (!S_ISDIR(folder_stat.st_mode)) {
    *error = path + ": cannot create: " + reason(ENOTDIR);
    return false;
  }
  const size_t slash = target_.find_last_of('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  const std::string temporary = folder + "/." + base + ".zpx-XXXXXX";
  if (temporary.size() >= sizeof pending_temporary) {
    *error = path + ": cannot create: " + reason(ENAMETOOLONG);
    return false;
  }
  std::memcpy(pending_temporary, temporary.c_str(), temporary.size() + 1);
  watch_signals();
  fd_ = mkostemp(pending_temporary, O_CLOEXEC);
  if (fd_ < 0) {
    const int saved = errno;
    pending_temporary[0] = '\0';
    *error = path + ": cannot create: " + reason(saved);
    return false;
  }
  if (fstat(fd_, &st) == 0) own_.emplace_back(st.st_dev, st.st_ino);
  return true;
}

bool OutputFile::write(const void* data, size_t size, std::string* error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = (fd_ == 1 ? std::string("standard output") : shown_) +
               ": cannot write: " + reason(n < 0 ? errno : ENOSPC);
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::write_at(uint64_t offset, const void* data, size_t size, std::string* error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = shown_ + ": cannot write: " + reason(n < 0 ? errno : ENOSPC);
      return false;
    }
    bytes += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::commit(bool executable, std::string* error) {
  if (fd_ == 1) return true;
  const mode_t mask = umask(0);
  umask(mask);
  // mkstemp made the file for its owner only; give it the usual permissions.
  int failure = 0;
  if (fchmod(fd_, (executable ? 0777 : 0666) & ~mask) != 0) failure = errno;
  if (failure == 0 && fsync(fd_) != 0 && errno != EINVAL) failure = errno;
  if (close(fd_) != 0 && failure == 0) failure = errno;
  fd_ = -1;
  if (failure == 0 && rename(pending_temporary, target_.c_str()) != 0) failure = errno;
  if (failure != 0) {
    unlink(pending_temporary);
    pending_temporary[0] = '\0';
    *error = shown_ + ": cannot write: " + reason(failure);
    return false;
  }
  pending_temporary[0] = '\0';
  return true;
}

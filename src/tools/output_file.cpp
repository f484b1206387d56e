#include "tools/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

// The temporary file, removed when the run ends any other way than by commit: a signal
// that ends the process, an uncaught exception (std::bad_alloc among them) or an error.
char pending_temporary[PATH_MAX + 64];
bool stdout_closed_at_start = false;

void remove_pending() {
  if (pending_temporary[0] != '\0') unlink(pending_temporary);
  pending_temporary[0] = '\0';
}

void remove_pending_and_die(int signal_number) {
  remove_pending();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

std::terminate_handler previous_terminate = nullptr;

[[noreturn]] void remove_pending_and_terminate() {
  remove_pending();
  if (previous_terminate != nullptr) previous_terminate();
  std::abort();
}

// Every signal whose default ends the process is watched while a temporary file exists,
// except one ignored at start (nohup, a script's background job): it stays ignored.
void watch_signals() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  struct sigaction action {};
  action.sa_handler = remove_pending_and_die;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  previous_terminate = std::set_terminate(remove_pending_and_terminate);
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

void guard_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) stdout_closed_at_start = true;
    // Held open for the whole run: no file zpx opens may take the number.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0 && !stdout_) {
    close(fd_);
    remove_pending();
  }
}

bool OutputFile::open(const std::string& path, bool force, std::string* error) {
  shown_ = path;
  if (path == "-") {
    if (stdout_closed_at_start) {
      *error = "standard output is closed: no archive can be written there";
      return false;
    }
    if (isatty(STDOUT_FILENO) == 1 && !force) {
      *error = "standard output is a terminal: no archive is written there (-f writes it anyway)";
      return false;
    }
    stdout_ = true;
    fd_ = STDOUT_FILENO;
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
      // -f replaces a symbolic link itself, as the new file renamed over its name; what
      // it points to stays as it was. That file is still kept out of the scan.
      struct stat linked;
      if (stat(path.c_str(), &linked) == 0 && S_ISREG(linked.st_mode))
        own_.emplace_back(linked.st_dev, linked.st_ino);
    } else if (!S_ISREG(st.st_mode)) {
      *error = path + ": not a regular file; zpx replaces only regular files";
      return false;
    } else {
      own_.emplace_back(st.st_dev, st.st_ino);
    }
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
  if (fd_ >= 0 && fd_ <= 2) {
    // Only when a standard descriptor was closed and nobody reopened it: the temporary
    // file must not pass for standard output or input.
    const int above = fcntl(fd_, F_DUPFD_CLOEXEC, 3);
    close(fd_);
    fd_ = above;
  }
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
      *error = (stdout_ ? std::string("standard output") : shown_) +
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
  if (stdout_) return true;
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
    remove_pending();
    *error = shown_ + ": cannot write: " + reason(failure);
    return false;
  }
  pending_temporary[0] = '\0';
  return true;
}

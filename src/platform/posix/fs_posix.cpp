// File and memory primitives over POSIX. Paths arrive in Windows form and are mapped
// (path_map.h); errno values are turned into the Windows error numbers the messages use.
// Windows semantics kept here: a read-only attribute refuses writing and deleting a
// file (a folder's read-only bit is only recorded, as it locks nothing on Windows), a
// folder cannot be opened as a file, and the hidden and system bits and the creation
// time are kept in extended attributes of the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/dos_time.h"
#include "common/xattr_names.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"

namespace {

constexpr uint32_t kErrorNegativeSeek = 131;  // ERROR_NEGATIVE_SEEK

// Maps a path, or records 161 (bad path name) when it cannot be mapped.
bool map_or_fail(const char* path, char* out, size_t size) {
  if (map_to_posix(path, out, size)) return true;
  last_os_error = kErrorBadPathname;
  return false;
}

void record_errno(const char* posix_path) {
  last_os_error = windows_error_from_errno(errno, posix_path);
}

bool is_read_only(const struct stat& st) {
  return (st.st_mode & S_IWUSR) == 0;
}

// A failed open of something that is no regular file (a socket, a FIFO without a
// reader) is refused access as well.
void record_open_failure(const char* posix_path) {
  const int error = errno;
  struct stat st;
  if (stat(posix_path, &st) == 0 && !S_ISREG(st.st_mode)) {
    last_os_error = kErrorAccessDenied;
    return;
  }
  last_os_error = windows_error_from_errno(error, posix_path);
}

// Only a regular file is a file here: a folder, a FIFO, a device or a socket is refused
// as Windows refuses a device name. The open file then blocks again as usual.
bool usable_file(int fd, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return false;
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// The hidden or system bit, as recorded in the file's extended attribute.
bool hidden_or_system(const char* posix) {
  char text[16] = {};
  const ssize_t n = lgetxattr(posix, kAttributeXattr, text, sizeof text - 1);
  return n > 0 && (std::strtoul(text, nullptr, 16) & (kAttributeHidden | kAttributeSystem)) != 0;
}

// An existing name is replaced, never written through: a new file is made beside it and
// renamed over the name, so a symbolic link or a hard link there is replaced and what it
// leads to stays as it was. Windows refuses to replace a read-only, hidden or system file
// with a normal one, and a folder, a FIFO, a device or a socket is no file.
FileHandle replace_existing(const char* posix) {
  struct stat st;
  if (lstat(posix, &st) != 0) {
    record_errno(posix);
    return kNoFile;
  }
  if (!S_ISLNK(st.st_mode) &&
      (!S_ISREG(st.st_mode) || is_read_only(st) || hidden_or_system(posix))) {
    last_os_error = kErrorAccessDenied;
    return kNoFile;
  }
  char temp[4096 + 32];
  const char* slash = std::strrchr(posix, '/');
  const int folder_length = slash != nullptr ? static_cast<int>(slash - posix) + 1 : 0;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(temp, sizeof temp, "%.*s.zarpex-%ld-%u", folder_length, posix,
                  static_cast<long>(getpid()), counter++);
    const int fd = open(temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      record_errno(posix);
      return kNoFile;
    }
    if (rename(temp, posix) != 0) {
      record_errno(posix);
      unlink(temp);
      close(fd);
      return kNoFile;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
  }
  last_os_error = kErrorFileExists;
  return kNoFile;
}

}  // namespace

void* mem_alloc(uint32_t size) {
  return std::malloc(size != 0 ? size : 1);
}

void* mem_resize(void* block, uint32_t size) {
  return std::realloc(block, size != 0 ? size : 1);
}

void mem_free(void* block) {
  std::free(block);
}

FileHandle fs_create_output(const char* path, uint32_t /*attributes*/) {
  last_os_error = 0;
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return kNoFile;
  // Made new: with O_EXCL nothing at the name is followed or opened, a link to nothing
  // included; whatever is there is looked at and replaced below.
  int fd = open(posix, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) return replace_existing(posix);
  if (fd < 0) {
    record_errno(posix);
    return kNoFile;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

FileHandle fs_open_existing(const char* path, uint32_t access) {
  last_os_error = 0;
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return kNoFile;
  const bool write = (access & kGenericWrite) != 0;
  const bool read = (access & kGenericRead) != 0;
  const int mode = (read && write) ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  const int fd = open(posix, mode | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    record_open_failure(posix);
    return kNoFile;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !usable_file(fd, st) || (write && is_read_only(st))) {
    close(fd);
    last_os_error = kErrorAccessDenied;
    return kNoFile;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  return fd;
}

int fs_close(FileHandle file) {
  if (close(static_cast<int>(file)) == 0) return 1;
  if (last_os_error == 0) last_os_error = windows_error_from_errno(errno, nullptr);
  return 0;
}

int32_t fs_read(FileHandle file, void* buffer, uint32_t count) {
  last_os_error = 0;
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = read(static_cast<int>(file), static_cast<char*>(buffer) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      record_errno(nullptr);
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t fs_write(FileHandle file, const void* buffer, uint32_t count) {
  last_os_error = 0;
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n =
        write(static_cast<int>(file), static_cast<const char*>(buffer) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      record_errno(nullptr);
      if (last_os_error == kErrorHandleDiskFull) last_os_error = kErrorDiskFull;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (done < count) {  // a short write always counts as a full disk
    last_os_error = kErrorDiskFull;
    return -1;
  }
  return static_cast<int32_t>(done);
}

uint32_t fs_seek(FileHandle file, int32_t distance, uint32_t method) {
  last_os_error = 0;
  const int whence =
      method == kFileBegin ? SEEK_SET : (method == kFileCurrent ? SEEK_CUR : SEEK_END);
  const off_t position = lseek(static_cast<int>(file), distance, whence);
  if (position < 0) {
    // A position before the file's start is Windows' "negative seek", which has no
    // reason text; EINVAL would otherwise read as "Invalid path".
    last_os_error = errno == EINVAL ? kErrorNegativeSeek : windows_error_from_errno(errno, nullptr);
    return kSeekFailed;
  }
  return static_cast<uint32_t>(position);
}

int fs_set_times(FileHandle file, uint16_t creation_date, uint16_t creation_time,
                 uint16_t write_date, uint16_t write_time) {
  last_os_error = 0;
  const int fd = static_cast<int>(file);
  if (creation_date != 0) {
    // POSIX cannot set a birth time; keep it where fs_get_times readers find it.
    char text[32];
    const int n =
        std::snprintf(text, sizeof text, "%lld",
                      static_cast<long long>(dos_time_seconds(creation_date, creation_time)));
    fsetxattr(fd, kCreationXattr, text, static_cast<size_t>(n), 0);
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last access is never set
  times[1].tv_sec =
      write_date != 0 ? static_cast<time_t>(dos_time_seconds(write_date, write_time)) : 0;
  times[1].tv_nsec = write_date != 0 ? 0 : UTIME_OMIT;
  if (futimens(fd, times) != 0) {
    record_errno(nullptr);
    return 0;
  }
  return 1;
}

uint32_t fs_get_attributes(const char* path) {
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return kInvalidAttributes;
  struct stat st;
  if (lstat(posix, &st) != 0) {
    record_errno(posix);
    return kInvalidAttributes;
  }
  if (S_ISLNK(st.st_mode)) {
    // As Windows reports a link: its own attributes, a folder's bit when it leads to one.
    struct stat target;
    const bool folder = stat(posix, &target) == 0 && S_ISDIR(target.st_mode);
    return kAttributeReparsePoint | (folder ? kAttributeDirectory : 0);
  }
  uint32_t attributes = 0;
  char text[16] = {};
  const ssize_t n = lgetxattr(posix, kAttributeXattr, text, sizeof text - 1);
  // Folders keep their read-only bit there too (see fs_set_attributes).
  const uint32_t recorded = S_ISDIR(st.st_mode) ? 0x07 : 0x06;
  if (n > 0) attributes = static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & recorded;
  if (is_read_only(st)) attributes |= kAttributeReadOnly;
  if (S_ISDIR(st.st_mode)) attributes |= kAttributeDirectory;
  return attributes != 0 ? attributes : kAttributeNormal;
}

int fs_set_attributes(const char* path, uint32_t attributes) {
  last_os_error = 0;
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return 0;
  // Set on the file or folder the name holds, through a descriptor of it: a link is
  // refused, never followed, and nothing but a file or a folder is opened.
  struct stat st;
  if (lstat(posix, &st) != 0) {
    record_errno(posix);
    return 0;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    last_os_error = kErrorAccessDenied;
    return 0;
  }
  const int fd = open(posix, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    record_errno(posix);
    return 0;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    close(fd);
    last_os_error = kErrorAccessDenied;
    return 0;
  }
  const mode_t writable = S_IWUSR | S_IWGRP | S_IWOTH;
  mode_t mode = opened.st_mode & 07777;
  // A read-only folder still takes new files on Windows: its bit is only recorded.
  const bool folder = S_ISDIR(opened.st_mode);
  if (folder) {
    // Nothing to change in the mode.
  } else if (attributes & kAttributeReadOnly) {
    mode &= ~writable;
  } else if ((mode & S_IWUSR) == 0) {
    mode |= S_IWUSR | ((mode & S_IRGRP) ? S_IWGRP : 0);
  }
  if (mode != (opened.st_mode & 07777) && fchmod(fd, mode) != 0) {
    record_errno(posix);
    close(fd);
    return 0;
  }
  const uint32_t dos_bits =
      attributes & (kAttributeHidden | kAttributeSystem | (folder ? kAttributeReadOnly : 0));
  if (dos_bits != 0) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%x", dos_bits);
    fsetxattr(fd, kAttributeXattr, text, static_cast<size_t>(n), 0);
  } else {
    fremovexattr(fd, kAttributeXattr);
  }
  close(fd);
  return 1;
}

int fs_delete(const char* path) {
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return 0;
  struct stat st;
  if (lstat(posix, &st) == 0 && (S_ISDIR(st.st_mode) || is_read_only(st))) {
    last_os_error = kErrorAccessDenied;
    return 0;
  }
  if (unlink(posix) != 0) {
    record_errno(posix);
    return 0;
  }
  return 1;
}

int fs_create_folder(const char* path) {
  char posix[4096];
  if (!map_or_fail(path, posix, sizeof posix)) return 0;
  if (posix[0] == '\0') {
    last_os_error = kErrorPathNotFound;
    return 0;
  }
  if (mkdir(posix, 0777) != 0) {
    last_os_error = errno == EEXIST ? kErrorAlreadyExists : windows_error_from_errno(errno, posix);
    return 0;
  }
  return 1;
}

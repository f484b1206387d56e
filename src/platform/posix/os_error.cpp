#include "platform/posix/os_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/fs.h"

namespace {

// ENOENT on Windows is "file not found" when the folder exists, else "path not found".
uint32_t not_found(const char* posix_path) {
  if (posix_path == nullptr) return kErrorFileNotFound;
  char parent[4096];
  const size_t n = std::strlen(posix_path);
  if (n == 0 || n >= sizeof parent) return kErrorPathNotFound;
  std::memcpy(parent, posix_path, n + 1);
  char* slash = std::strrchr(parent, '/');
  if (slash == nullptr) return kErrorFileNotFound;  // in the current folder, which exists
  if (slash == parent)
    slash[1] = '\0';
  else
    *slash = '\0';
  struct stat st;
  return (stat(parent, &st) == 0 && S_ISDIR(st.st_mode)) ? kErrorFileNotFound : kErrorPathNotFound;
}

}  // namespace

uint32_t windows_error_from_errno(int error, const char* posix_path) {
  switch (error) {
    case 0:
      return 0;
    case ENOENT:
      return not_found(posix_path);
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EEXIST:
      return kErrorFileExists;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;  // a name component beyond 255 characters
    case ELOOP:
    case EINVAL:
    case EILSEQ:
      return kErrorBadPathname;
    case EIO:
      return kErrorGenFailure;
    case ENXIO:
    case ENODEV:
      return kErrorNotReady;
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case EBUSY:
    case ETXTBSY:
      return 32;  // ERROR_SHARING_VIOLATION
    case ENOTEMPTY:
      return 145;  // ERROR_DIR_NOT_EMPTY
    case ESPIPE:
      return 131;  // ERROR_NEGATIVE_SEEK
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNRESET:
    case EHOSTUNREACH:
    case ETIMEDOUT:
      return 59;  // ERROR_UNEXP_NET_ERR, one of the network errors
    default:
      return kErrorGenFailure;
  }
}

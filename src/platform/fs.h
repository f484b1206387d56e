// File and memory primitives: one contract, implemented over Win32 (platform/win32)
// and over POSIX (platform/posix). Every failure is reported through the result value
// and the Windows error number left in last_os_error.
#pragma once

#include <cstdint>

// An open file; kNoFile (all bits set) means none.
using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Windows system error numbers the messages know about.
enum OsError : uint32_t {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidDrive = 15,
  kErrorWriteProtect = 19,
  kErrorNotReady = 21,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorBadPathname = 161,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
};

// Access rights for fs_open_existing.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;

// fs_seek methods.
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;

inline constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// File attribute bits as stored in the directory.
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeHidden = 0x02;
inline constexpr uint32_t kAttributeSystem = 0x04;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeNormal = 0x80;
// A link (a junction or symbolic link; on POSIX a symbolic link), as fs_get_attributes
// reports it: the attributes are the link's own, never its target's.
inline constexpr uint32_t kAttributeReparsePoint = 0x400;

// Process-wide copy of the last OS error (a Windows error number; 0 = none).
extern uint32_t last_os_error;

void* mem_alloc(uint32_t size);
void* mem_resize(void* block, uint32_t size);  // on failure the old block stays valid
void mem_free(void* block);

// On POSIX never writes through a link at `path`: a new file is made new, and an existing
// name (a file, a hard link, a symbolic link) is replaced by a new file renamed over it.
FileHandle fs_create_output(const char* path, uint32_t attributes);
FileHandle fs_open_existing(const char* path, uint32_t access);
int fs_close(FileHandle file);
int32_t fs_read(FileHandle file, void* buffer, uint32_t count);
int32_t fs_write(FileHandle file, const void* buffer, uint32_t count);
uint32_t fs_seek(FileHandle file, int32_t distance, uint32_t method);
int fs_set_times(FileHandle file, uint16_t creation_date, uint16_t creation_time,
                 uint16_t write_date, uint16_t write_time);
uint32_t fs_get_attributes(const char* path);
// Acts on what the name holds itself: a link is never followed (POSIX refuses one).
int fs_set_attributes(const char* path, uint32_t attributes);
int fs_delete(const char* path);
int fs_create_folder(const char* path);

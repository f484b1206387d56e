// The file and memory primitives over Win32: every call goes straight to the system, and
// failures leave the Windows error number in last_os_error by the rules in fs.h.
#include <windows.h>

#include "platform/fs.h"

namespace {

HANDLE as_handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle as_file(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

void record_error() {
  last_os_error = GetLastError();
}

// A DOS date and time taken as local time, in universal time.
void dos_to_universal(uint16_t date, uint16_t time, FILETIME* out) {
  FILETIME local;
  DosDateTimeToFileTime(date, time, &local);
  LocalFileTimeToFileTime(&local, out);
}

}  // namespace

void* mem_alloc(uint32_t size) {
  return LocalAlloc(LMEM_FIXED, size);
}

void* mem_resize(void* block, uint32_t size) {
  return LocalReAlloc(block, size, LMEM_MOVEABLE);
}

void mem_free(void* block) {
  LocalFree(block);
}

FileHandle fs_create_output(const char* path, uint32_t attributes) {
  last_os_error = 0;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            attributes | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) record_error();
  return as_file(file);
}

FileHandle fs_open_existing(const char* path, uint32_t access) {
  last_os_error = 0;
  // Writers let others only read; readers let others read and write.
  const DWORD share =
      (access & GENERIC_WRITE) ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file =
      CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file == INVALID_HANDLE_VALUE) record_error();
  return as_file(file);
}

int fs_close(FileHandle file) {
  if (CloseHandle(as_handle(file))) return 1;
  // An earlier error (say, of the write before this close) keeps its place.
  if (last_os_error == 0) record_error();
  return 0;
}

int32_t fs_read(FileHandle file, void* buffer, uint32_t count) {
  last_os_error = 0;
  DWORD done = 0;
  if (!ReadFile(as_handle(file), buffer, count, &done, nullptr)) {
    record_error();
    return -1;
  }
  return static_cast<int32_t>(done);
}

int32_t fs_write(FileHandle file, const void* buffer, uint32_t count) {
  last_os_error = 0;
  DWORD done = 0;
  if (!WriteFile(as_handle(file), buffer, count, &done, nullptr)) {
    record_error();
    if (last_os_error == ERROR_HANDLE_DISK_FULL) last_os_error = ERROR_DISK_FULL;
    return -1;
  }
  if (done < count) {  // a short write always means a full disk
    last_os_error = ERROR_DISK_FULL;
    return -1;
  }
  return static_cast<int32_t>(done);
}

uint32_t fs_seek(FileHandle file, int32_t distance, uint32_t method) {
  last_os_error = 0;
  const DWORD position = SetFilePointer(as_handle(file), distance, nullptr, method);
  if (position == INVALID_SET_FILE_POINTER) record_error();
  return position;
}

int fs_set_times(FileHandle file, uint16_t creation_date, uint16_t creation_time,
                 uint16_t write_date, uint16_t write_time) {
  last_os_error = 0;
  // A date of 0 leaves that time as the system set it.
  FILETIME creation, last_write;
  const FILETIME* creation_arg = nullptr;
  const FILETIME* write_arg = nullptr;
  if (creation_date != 0) {
    dos_to_universal(creation_date, creation_time, &creation);
    creation_arg = &creation;
  }
  if (write_date != 0) {
    dos_to_universal(write_date, write_time, &last_write);
    write_arg = &last_write;
  }
  if (SetFileTime(as_handle(file), creation_arg, nullptr, write_arg)) return 1;
  record_error();
  return 0;
}

uint32_t fs_get_attributes(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) record_error();
  return attributes;
}

int fs_set_attributes(const char* path, uint32_t attributes) {
  last_os_error = 0;
  if (SetFileAttributesA(path, attributes)) return 1;
  record_error();
  return 0;
}

int fs_delete(const char* path) {
  if (DeleteFileA(path)) return 1;
  record_error();
  return 0;
}

int fs_create_folder(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return 1;
  record_error();
  return 0;
}

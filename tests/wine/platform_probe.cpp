// Checks the Win32 file layer and system layer against the real system calls: results,
// last_os_error rules, share modes, time stamps, registry and profile round trips.
// Run under Wine by scripts/test-wine.sh in a scratch folder; exits non-zero on failure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "codec/archive_reader.h"
#include "installer/system.h"
#include "platform/fs.h"

namespace {

int failures = 0;

// A value that names no open handle (-1 and -2 are pseudo-handles that close fine).
constexpr FileHandle kBadHandle = 0x3FFFF0;

void check(bool ok, const char* what, const std::string& detail = {}) {
  if (!ok) {
    ++failures;
    std::printf("FAIL %s %s\n", what, detail.c_str());
  }
}

std::string got(unsigned long long value) {
  return "(got " + std::to_string(value) + ")";
}

void write_file(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &done, nullptr);
  CloseHandle(file);
}

// A second opener with the given access and full sharing; true when the system lets it in.
bool second_open_allowed(const char* path, DWORD access) {
  HANDLE other = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  CloseHandle(other);
  return true;
}

void error_number_rules() {
  // Operations that clear last_os_error first, and those that leave an earlier one.
  RemoveDirectoryA("made");
  last_os_error = 77;
  const FileHandle file = fs_create_output("rules.bin", kAttributeNormal);
  check(file != kNoFile && last_os_error == 0, "create_output clears the error");
  check(fs_write(file, "", 0) == 0 && last_os_error == 0, "a write of 0 bytes succeeds");
  check(fs_write(file, "abcdef", 6) == 6, "write returns the count");
  last_os_error = 77;
  check(fs_seek(file, 0, kFileEnd) == 6 && last_os_error == 0, "seek to end clears the error");
  check(fs_seek(file, 2, kFileBegin) == 2, "seek from the start");
  char buffer[16] = {};
  last_os_error = 77;
  check(fs_read(file, buffer, sizeof buffer) == 4 && std::memcmp(buffer, "cdef", 4) == 0 &&
            last_os_error == 0,
        "read returns what is left and clears the error");
  check(fs_read(file, buffer, sizeof buffer) == 0, "read past the end returns 0");
  check(fs_close(file) == 1, "close");

  last_os_error = 0;
  check(fs_get_attributes("missing\\nothing.txt") == kInvalidAttributes &&
            (last_os_error == kErrorFileNotFound || last_os_error == kErrorPathNotFound),
        "attributes of a missing path are -1 with 2 or 3", got(last_os_error));
  last_os_error = 77;
  check(fs_get_attributes("rules.bin") != kInvalidAttributes && last_os_error == 77,
        "a successful attribute query keeps the earlier error");
  check(fs_create_folder("made") == 1 && last_os_error == 77,
        "a successful folder creation keeps the earlier error");
  check(fs_create_folder("made") == 0 && last_os_error == kErrorAlreadyExists,
        "creating an existing folder fails with 183", got(last_os_error));
  last_os_error = 0;
  check(fs_delete("absent.bin") == 0 && last_os_error == kErrorFileNotFound,
        "deleting a missing file fails with 2", got(last_os_error));
  last_os_error = 77;
  check(fs_delete("rules.bin") == 1 && last_os_error == 77,
        "a successful delete keeps the earlier error");
  last_os_error = 77;
  check(
      fs_open_existing("rules.bin", kGenericRead) == kNoFile && last_os_error == kErrorFileNotFound,
      "opening a deleted file fails with 2", got(last_os_error));
  check(
      fs_set_attributes("rules.bin", kAttributeHidden) == 0 && last_os_error == kErrorFileNotFound,
      "setting attributes of a missing file fails with 2", got(last_os_error));
}

void failing_write_and_close() {
  write_file("readonly.bin", "x");
  const FileHandle file = fs_open_existing("readonly.bin", kGenericRead);
  check(file != kNoFile, "open for reading");
  check(fs_write(file, "abc", 3) == -1 && last_os_error == kErrorAccessDenied,
        "a write on a read-only handle fails with 5", got(last_os_error));
  check(fs_close(file) == 1 && last_os_error == kErrorAccessDenied,
        "a successful close keeps the write's error");
  // A failing close records its own error only when none is recorded yet.
  last_os_error = kErrorDiskFull;
  check(fs_close(kBadHandle) == 0 && last_os_error == kErrorDiskFull,
        "a failing close keeps an earlier error", got(last_os_error));
  last_os_error = 0;
  check(fs_close(kBadHandle) == 0 && last_os_error != 0,
        "a failing close records its error when none is recorded", got(last_os_error));
  last_os_error = 0;
  check(fs_seek(kBadHandle, 0, kFileBegin) == kSeekFailed && last_os_error != 0,
        "a failing seek records its error");
}

void share_modes() {
  write_file("shared.bin", "data");
  FileHandle reader = fs_open_existing("shared.bin", kGenericRead);
  check(second_open_allowed("shared.bin", GENERIC_WRITE), "a reader lets other processes write");
  fs_close(reader);
  FileHandle writer = fs_open_existing("shared.bin", kGenericRead | kGenericWrite);
  check(writer != kNoFile, "open for writing");
  check(!second_open_allowed("shared.bin", GENERIC_WRITE), "a writer keeps other writers out");
  check(second_open_allowed("shared.bin", GENERIC_READ), "a writer lets others read");
  fs_close(writer);
  FileHandle output = fs_create_output("shared.bin", kAttributeNormal);
  check(!second_open_allowed("shared.bin", GENERIC_READ), "an output file is not shared");
  check(fs_seek(output, 0, kFileEnd) == 0, "an existing output file is truncated");
  fs_close(output);
}

// The DOS date and time of a FILETIME in universal time, through local time.
void universal_to_dos(const FILETIME& universal, WORD* date, WORD* time) {
  FILETIME local;
  FileTimeToLocalFileTime(&universal, &local);
  FileTimeToDosDateTime(&local, date, time);
}

// Whether the file system under the system keeps creation times at all (Wine over a
// POSIX file system reports the last-write time instead).
bool creation_times_kept() {
  HANDLE file = CreateFileA("btime.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  FILETIME old_time = {0x2AC18000u, 0x01A8E79Eu};  // a time long past
  SetFileTime(file, &old_time, nullptr, nullptr);
  CloseHandle(file);
  file = CreateFileA("btime.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME creation;
  GetFileTime(file, &creation, nullptr, nullptr);
  CloseHandle(file);
  DeleteFileA("btime.bin");
  return CompareFileTime(&creation, &old_time) == 0;
}

void time_stamps() {
  const bool check_creation = creation_times_kept();
  if (!check_creation) std::printf("note: creation times are not kept here; not checked\n");
  struct Case {
    const char* name;
    WORD creation_date, creation_time, write_date, write_time;
  };
  // Dates: (year - 1980) << 9 | month << 5 | day; times: hour << 11 | minute << 5 | sec / 2.
  const Case cases[] = {
      {"both times", (26 << 9) | (7 << 5) | 14, (9 << 11) | (30 << 5) | 5,
       (45 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
      {"midnight with a date", (20 << 9) | (1 << 5) | 1, 0, (21 << 9) | (2 << 5) | 3, 0},
      {"creation only", (30 << 9) | (6 << 5) | 15, (12 << 11), 0, 0},
      {"last write only", 0, 0, (10 << 9) | (3 << 5) | 9, (8 << 11) | (1 << 5)},
  };
  for (const Case& c : cases) {
    const FileHandle file = fs_create_output("stamped.bin", kAttributeNormal);
    FILETIME before_creation, before_write;
    GetFileTime(reinterpret_cast<HANDLE>(file), &before_creation, nullptr, &before_write);
    last_os_error = 77;
    check(fs_set_times(file, c.creation_date, c.creation_time, c.write_date, c.write_time) == 1 &&
              last_os_error == 0,
          c.name, "set_times");
    fs_close(file);
    HANDLE check_file = CreateFileA("stamped.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    FILETIME creation, write;
    GetFileTime(check_file, &creation, nullptr, &write);
    CloseHandle(check_file);
    WORD date = 0, time = 0;
    if (!check_creation) {
      // nothing to compare
    } else if (c.creation_date != 0) {
      universal_to_dos(creation, &date, &time);
      check(date == c.creation_date && time == c.creation_time, c.name,
            "creation time " + got(date) + got(time));
    } else {
      check(CompareFileTime(&creation, &before_creation) == 0, c.name, "creation unchanged");
    }
    if (c.write_date != 0) {
      universal_to_dos(write, &date, &time);
      check(date == c.write_date && time == c.write_time, c.name, "last-write time");
    }
  }
  const FileHandle file = fs_create_output("stamped.bin", kAttributeNormal);
  check(fs_set_times(file, 0, 0, 0, 0) == 1, "both dates 0 still succeeds");
  fs_close(file);
}

void attributes() {
  write_file("attributes.bin", "x");
  const uint32_t bits[] = {kAttributeReadOnly, kAttributeHidden, kAttributeSystem,
                           kAttributeReadOnly | kAttributeHidden | kAttributeSystem};
  for (const uint32_t wanted : bits) {
    check(fs_set_attributes("attributes.bin", wanted) == 1, "set attributes");
    const uint32_t read = fs_get_attributes("attributes.bin") & 0x07;
    check(read == wanted, "attributes read back", got(read));
  }
  fs_set_attributes("attributes.bin", kAttributeNormal);
  check((fs_get_attributes("attributes.bin") & 0x07) == 0, "normal clears the bits");
  fs_delete("attributes.bin");
}

void archive_reads() {
  write_file("archive.bin", "0123456789");
  archive_reader.archive_file = fs_open_existing("archive.bin", kGenericRead);
  archive_reader.file_position = 0;
  char buffer[8];
  check(archive_read(buffer, 8) == 8 && archive_reader.file_position == 8, "archive read");
  check(archive_read(buffer, 8) == 2 && archive_reader.file_position == 10, "archive short read");
  check(archive_read(buffer, 8) == 0 && archive_reader.file_position == 10,
        "archive read at the end leaves the position");
  fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kBadHandle;
  check(archive_read(buffer, 8) == -1 && archive_reader.file_position == 10,
        "a failed archive read leaves the position");
}

void memory() {
  auto* block = static_cast<char*>(mem_alloc(16));
  check(block != nullptr, "alloc");
  std::memcpy(block, "0123456789abcdef", 16);
  block = static_cast<char*>(mem_resize(block, 1 << 20));
  check(block != nullptr && std::memcmp(block, "0123456789abcdef", 16) == 0,
        "resize keeps the contents");
  mem_free(block);
}

void registry_and_profile() {
  const char* subkey = "Software\\ZarpexProbe";
  RegKey key = nullptr;
  check(sys_reg_create_key(kHiveCurrentUser, subkey, &key) == 0, "create key");
  const char value[] = "C:\\Probe\\Zarpex32.exe";
  check(sys_reg_set_value(key, nullptr, kRegSz, value, sizeof value) == 0, "set default value");
  check(sys_reg_set_value(key, "Setup", kRegSz, "1", 2) == 0, "set named value");
  sys_reg_close_key(key);

  check(sys_reg_open_key(kHiveCurrentUser, subkey, &key) == 0, "open key");
  char data[260] = {};
  uint32_t type = 0, size = sizeof data - 1;
  check(sys_reg_query_value(key, nullptr, &type, data, &size) == 0 && type == kRegSz &&
            size == sizeof value && std::strcmp(data, value) == 0,
        "query default value");
  size = 4;  // too small: the query must fail, not overrun
  check(sys_reg_query_value(key, nullptr, &type, data, &size) == ERROR_MORE_DATA,
        "query into a small buffer fails");
  sys_reg_close_key(key);
  HKEY root = nullptr;
  RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &root);
  RegDeleteKeyA(root, "ZarpexProbe");
  RegCloseKey(root);
  check(sys_reg_open_key(kHiveCurrentUser, subkey, &key) != 0, "a missing key does not open");

  check(sys_profile_write_string("Install", "Path", "E:\\Apps\\Zarpex32.exe", "zprobe.ini") != 0,
        "profile write");
  char text[260];
  check(sys_profile_get_string("Install", "Path", "", text, 260, "zprobe.ini") == 20 &&
            std::strcmp(text, "E:\\Apps\\Zarpex32.exe") == 0,
        "profile read back");
  check(sys_profile_get_string("Install", "Missing", "", text, 260, "zprobe.ini") == 0 &&
            text[0] == '\0',
        "missing profile key gives the default");
  sys_profile_write_string(nullptr, nullptr, nullptr, "zprobe.ini");  // flush
  char windows_folder[MAX_PATH];
  GetWindowsDirectoryA(windows_folder, MAX_PATH);
  DeleteFileA((std::string(windows_folder) + "\\zprobe.ini").c_str());
}

void full_paths_and_version() {
  char current[MAX_PATH], full[260];
  GetCurrentDirectoryA(MAX_PATH, current);
  const uint32_t length = sys_full_path_name("sub\\..\\Zarpex32.exe", sizeof full, full);
  const std::string expected = std::string(current) + "\\Zarpex32.exe";
  check(length == expected.size() && expected == full, "full path of a relative name", full);
  check((sys_get_version() & 0xFF) >= 4, "the major version is in the low byte");
  char own[261];
  const uint32_t own_length = sys_module_file_name(GetModuleHandleA(nullptr), own, 261);
  check(own_length > 0 && std::strstr(own, "platform_probe") != nullptr, "own module path", own);
  char small[8];
  std::memset(small, 'x', sizeof small);
  check(sys_module_file_name(GetModuleHandleA(nullptr), small, sizeof small) == 0 &&
            small[sizeof small - 1] == '\0',
        "an own path cut short counts as a failure and stays terminated");
}

}  // namespace

int main() {
  error_number_rules();
  failing_write_and_close();
  share_modes();
  time_stamps();
  attributes();
  archive_reads();
  memory();
  registry_and_profile();
  full_paths_and_version();
  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "passed", failures);
  return failures ? 1 : 0;
}

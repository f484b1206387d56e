// The proposed install folder, and the records an installation leaves behind.
#include "archive/paths.h"
#include "installer/install_sequence.h"
#include "installer/system.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

constexpr char kAppPathKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zarpex32.exe";
constexpr char kUserKey[] = "Software\\Kolvane\\Zarpex";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarpex";
constexpr char kProfileFile[] = "zarpex.ini";
constexpr char kProgramFile[] = "Zarpex32.exe";
constexpr char kProductName[] = "Zarpex";
constexpr char kUninstallFormat[] = "\"%s\" /uninstall";
constexpr uint32_t kUninstallExtra = 13;  // two quotes and " /uninstall"

}  // namespace

void find_default_folder() {
  char* const folder = install_state.install_folder;
  folder[0] = '\0';

  RegKey key = nullptr;
  if (sys_reg_open_key(kHiveLocalMachine, kAppPathKey, &key) == 0) {
    uint32_t type = 0;
    uint32_t size = kWorkPathSize;
    if (sys_reg_query_value(key, nullptr, &type, folder, &size) != 0 || type != kRegSz) {
      folder[0] = '\0';
    } else {
      // The stored text need not carry its terminator.
      folder[size < kWorkPathSize ? size : kWorkPathSize] = '\0';
    }
    sys_reg_close_key(key);
  }
  if (folder[0] == '\0') {
    sys_profile_get_string("Install", "Path", "", folder, kWorkPathSize, kProfileFile);
  }

  // The recorded value is the program's full path: keep its folder.
  *file_name_part(folder) = '\0';
  strip_separators(folder);

  if (folder[0] == '\0' && install_state.os_major_version >= 4 &&
      fs_get_attributes("C:\\Program Files") != kInvalidAttributes) {
    text_copy(folder, kPathBufferSize, "C:\\Program Files");
    append_separator(folder);
    text_append(folder, kPathBufferSize, kProductName);
  }
  if (folder[0] == '\0') text_copy(folder, kPathBufferSize, "C:\\Zarpex");
}

void register_and_launch() {
  char* const folder = install_state.install_folder;
  // A path that does not fit whole would record and start the wrong program.
  if (!text_append(folder, kPathBufferSize, kProgramFile)) return;
  char full_path[kWorkPathSize];
  const uint32_t length = sys_full_path_name(folder, sizeof full_path, full_path);
  // The path must fit in quotes too (in install_folder) to be started.
  if (length == 0 || length + 3 > kPathBufferSize) return;
  // The uninstall command begins with the quoted path that starts the program.
  const uint32_t command_length = format_text(folder, kPathBufferSize, kUninstallFormat, full_path);

  // Every record needs the uninstall command to fit as well; otherwise nothing is
  // recorded and the program is only started.
  if (length + kUninstallExtra + 1 <= kPathBufferSize) {
    RegKey key = nullptr;
    if (sys_reg_create_key(kHiveLocalMachine, kAppPathKey, &key) == 0) {
      sys_reg_set_value(key, nullptr, kRegSz, full_path, length + 1);
      sys_reg_close_key(key);
    } else {
      sys_profile_write_string("Install", "Path", full_path, kProfileFile);
    }

    if (sys_reg_create_key(kHiveCurrentUser, kUserKey, &key) == 0) {
      sys_reg_set_value(key, "Setup", kRegSz, "1", 2);
      sys_reg_close_key(key);
    } else {
      sys_profile_write_string("Options", "Setup", "1", kProfileFile);
    }

    if (sys_reg_create_key(kHiveLocalMachine, kUninstallKey, &key) == 0) {
      sys_reg_set_value(key, "DisplayName", kRegSz, kProductName, sizeof kProductName);
      sys_reg_set_value(key, "UninstallString", kRegSz, folder, command_length + 1);
      sys_reg_close_key(key);
    }
  }

  // Started by its full path in quotes, so that Windows does not first try the path up
  // to each space as a program of its own (C:\Program.exe, D:\My.exe): the installer may
  // run as administrator. An unattended installation has no user at the screen to start
  // it for.
  if (install_state.silent) return;
  folder[length + 2] = '\0';
  sys_win_exec(folder, kSwShowNormal);
}

#include "installer/install_sequence.h"

#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "common/crc32.h"
#include "installer/arguments.h"
#include "installer/system.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "ui/ui.h"

void report_start_up_failure(ResultCode failure) {
  if (failure == kResultImageModified && !install_state.silent) {
    ui_message_box(nullptr, kModifiedInstallerText, kCaption, kMbIconExclamation | kMbOk);
  } else {
    report_error(nullptr, failure, nullptr, 0);
  }
}

namespace {

// Start-up: everything before the main dialog. 0 to go on, 1 when the installation
// ends here (its message has been shown).
int start_up(void* instance) {
  install_state.os_major_version = static_cast<int8_t>(sys_get_version() & 0xFF);
  install_state.install_folder[0] = '\0';
  sys_module_file_name(instance, install_state.install_folder, kPathBufferSize);
  text_copy(install_state.module_name, kWorkPathSize, file_name_part(install_state.install_folder));

  ResultCode failure = kResultOk;
  archive_reader.archive_file = fs_open_existing(install_state.install_folder, kGenericRead);
  if (archive_reader.archive_file == kNoFile) {
    failure = kResultCannotOpenSelf;
  } else {
    crc_build_table();
    failure = check_installer_image();
    if (failure == kResultOk) failure = read_archive_header();
  }
  if (failure != kResultOk) {
    report_start_up_failure(failure);
    return 1;
  }
  if (archive_header.entry_count == 0) {
    if (!install_state.silent) ui_message_box(nullptr, kNoFilesText, kCaption, kMbOk);
    return 1;
  }
  return 0;
}

}  // namespace

int install_sequence(void* instance) {
  read_arguments(sys_command_line());
  if (start_up(instance) == 0) {
    find_default_folder();
    // The folder given on the command line; one too long to fit is cut to 260
    // characters, which the extraction then refuses as a folder it cannot create.
    if (install_state.folder_argument != nullptr) {
      text_copy(install_state.install_folder, kPathBufferSize, install_state.folder_argument);
    }
    install_state.instance_handle = instance;
    // Unattended: the main dialog's Install, without the dialog, every existing file
    // replaced; a failure (kept by report_error) leaves the installation unregistered.
    install_state.overwrite_all |= install_state.silent;
    const int32_t result = install_state.silent ? main_dialog_install(nullptr) : ui_main_dialog();
    if (result >= 0) register_and_launch();
  }
  if (archive_reader.archive_file != kNoFile) fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;
  return -install_state.silent_failure;
}

#include "installer/install_sequence.h"

#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "common/crc32.h"
#include "installer/system.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "ui/ui.h"

void report_start_up_failure(ResultCode failure) {
  if (failure == kResultImageModified) {
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
    ui_message_box(nullptr, kNoFilesText, kCaption, kMbOk);
    return 1;
  }
  return 0;
}

}  // namespace

int install_sequence(void* instance) {
  if (start_up(instance) == 0) {
    find_default_folder();
    install_state.instance_handle = instance;
    if (ui_main_dialog() >= 0) register_and_launch();
  }
  if (archive_reader.archive_file != kNoFile) fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;
  return 0;
}

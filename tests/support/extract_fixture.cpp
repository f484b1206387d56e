#include "support/extract_fixture.h"

#include <algorithm>
#include <cstring>

#include "archive/installer_image.h"
#include "codec/archive_reader.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/fake_ui.h"
#include "support/process_records.h"

void Extract::SetUp() {
  reset_process_records();
  archive_reader.archive_file = kNoFile;
  install_state.cancel_requested = 0;
  install_state.overwrite_all = 0;
  std::strcpy(install_state.module_name, "setup.bin");
  folder("C:\\Inst");
}

void Extract::TearDown() {
  if (archive_reader.archive_file != kNoFile) fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;
  install_state.cancel_requested = 0;
  fake_ui.reset();
}

void Extract::folder(const std::string& text) {
  std::strcpy(install_state.install_folder, text.c_str());
}

void Extract::open(const std::vector<TestEntry>& entries, const TestArchiveOptions& options) {
  open_bytes(build_test_archive(entries, options));
}

void Extract::open_bytes(const std::string& archive) {
  write_file(root.posix("C:\\setup.bin"), archive);
  archive_reader.archive_file = fs_open_existing("C:\\setup.bin", kGenericRead);
  ASSERT_NE(archive_reader.archive_file, kNoFile);
  archive_reader.archive_base = 0;
  std::memset(&archive_header, 0, sizeof archive_header);
  std::memcpy(&archive_header, archive.data(), std::min(archive.size(), sizeof archive_header));
}

std::vector<std::string> Extract::box_texts() const {
  std::vector<std::string> texts;
  for (const auto& box : fake_ui.boxes) texts.push_back(box.text);
  return texts;
}

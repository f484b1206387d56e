// Common ground of the tests that run the extraction driver: archives written to
// C:\setup.bin under a fresh root, the scripted front end, and the files that come out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_root.h"
#include "support/test_archive.h"

inline constexpr char kDamaged[] =
    "Archive data is damaged, probably caused by\ncorrupt disk or download error";

// Runs the driver over archives written to C:\setup.bin, with the scripted front end.
class Extract : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void folder(const std::string& text);

  void open(const std::vector<TestEntry>& entries, const TestArchiveOptions& options = {});
  void open_bytes(const std::string& archive);

  std::string file(const std::string& windows_path) { return read_file(root.posix(windows_path)); }
  bool exists(const std::string& windows_path) { return path_exists(root.posix(windows_path)); }
  std::vector<std::string> box_texts() const;

  TempRoot root;
};

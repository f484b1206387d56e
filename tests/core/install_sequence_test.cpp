#include "installer/install_sequence.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "archive/installer_image.h"
#include "codec/archive_reader.h"
#include "installer/system.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/fake_ui.h"
#include "support/process_records.h"
#include "support/temp_root.h"
#include "support/test_archive.h"
#include "ui/main_dialog.h"

namespace {

constexpr char kModified[] =
    "This installer has been modified. An error may have occurred during downloading, or your "
    "computer may have a virus. Make sure your virus scanner is the latest version, and check "
    "your computer for viruses. You will need to download this installer again.";
constexpr uint32_t kStubLength = 1000;

// Runs the whole installer over C:\setup.exe, with the scripted front end standing in
// for the dialogs.
class InstallSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_records();
    setenv("ZARPEX_SELF", root.posix("C:\\setup.exe").c_str(), 1);
    setenv("ZARPEX_OS_VERSION", "6", 1);
    mark = root.root() + "/started";
    // The dialog presses Install on the proposed folder, unless a test says otherwise.
    fake_ui.on_main_dialog = [this] {
      dialog_opened = true;
      proposed = install_state.install_folder;
      return main_dialog_install(nullptr);
    };
  }
  void TearDown() override {
    no_arguments();
    unsetenv("ZARPEX_SELF");
    unsetenv("ZARPEX_OS_VERSION");
    fake_ui.reset();
    std::memset(&install_state, 0, sizeof install_state);
    saved_record = {};
    set_record(saved_record);
  }

  static void set_record(const IntegrityRecord& record) {
    integrity_block.record.stub_length = record.stub_length;
    integrity_block.record.crc_field_offset = record.crc_field_offset;
    integrity_block.record.expected_crc = record.expected_crc;
  }

  // Writes the installer file; returns its bytes.
  std::string write_installer(const std::vector<TestEntry>& entries,
                              const TestArchiveOptions& options = {}) {
    std::string bytes =
        build_test_installer(build_test_archive(entries, options), kStubLength, &saved_record);
    set_record(saved_record);
    write_file(root.posix("C:\\setup.exe"), bytes);
    return bytes;
  }

  std::vector<TestEntry> program_entries() const {
    return {
        {.name = "Zarpex32.exe", .contents = "#!/bin/sh\ntouch " + mark + "\n", .attributes = 0x20},
        {.name = "readme.txt", .contents = "read me"}};
  }

  bool started() {
    for (int i = 0; i < 300; ++i) {
      if (path_exists(mark)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  static bool app_path_recorded() {
    RegKey key = nullptr;
    const long status = sys_reg_open_key(
        kHiveLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zarpex32.exe",
        &key);
    if (status == 0) sys_reg_close_key(key);
    return status == 0;
  }

  // The command line the installer reads, as main hands it over.
  static void arguments(std::vector<std::string> args) {
    args.insert(args.begin(), "zarpex-setup");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    sys_set_arguments(static_cast<int>(argv.size()), argv.data());
  }
  static void no_arguments() { arguments({}); }

  TempRoot root;
  std::string mark;
  IntegrityRecord saved_record{};
  bool dialog_opened = false;
  std::string proposed;
};

// The extracted program must be executable to be started.
void make_executable_on_extract() {
  fake_ui.on_drain = [](int) {
    char path[4096];
    std::snprintf(path, sizeof path, "%s/drive_c/Zarpex/Zarpex32.exe", std::getenv("ZARPEX_ROOT"));
    chmod(path, 0755);
  };
}

TEST_F(InstallSequence, InstallsRegistersAndStarts) {
  write_installer(program_entries());
  make_executable_on_extract();
  EXPECT_EQ(install_sequence(nullptr), 0);

  EXPECT_TRUE(dialog_opened);
  EXPECT_EQ(proposed, "C:\\Zarpex");
  EXPECT_STREQ(install_state.module_name, "setup.exe");
  EXPECT_EQ(install_state.os_major_version, 6);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_EQ(read_file(root.posix("C:\\Zarpex\\readme.txt")), "read me");
  EXPECT_TRUE(app_path_recorded());
  EXPECT_TRUE(started());
  EXPECT_EQ(archive_reader.archive_file, kNoFile);  // closed at the end

  // Running the installer again proposes the folder of this installation.
  std::filesystem::remove(mark);
  fake_ui.on_main_dialog = [this] {
    proposed = install_state.install_folder;
    return -1;
  };
  std::strcpy(install_state.install_folder, "");
  EXPECT_EQ(install_sequence(nullptr), 0);
  EXPECT_EQ(proposed, "C:\\Zarpex");
}

TEST_F(InstallSequence, NothingRegisteredOrStartedWithoutACompleteInstallation) {
  struct Case {
    const char* what;
    std::function<int32_t()> dialog;
  } cases[] = {
      {"Cancel before Install",
       [] {
         install_state.cancel_requested = 1;
         return -1;
       }},
      {"dialog could not be shown", [] { return -1; }},
      {"Cancel during extraction",
       [] {
         fake_ui.cancel_at_drain = 1;
         return main_dialog_install(nullptr);
       }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.root() + "/registry");
    std::filesystem::remove_all(root.posix("C:\\Zarpex"));
    fake_ui.reset();
    install_state.cancel_requested = 0;
    write_installer(program_entries());
    fake_ui.on_main_dialog = c.dialog;
    EXPECT_EQ(install_sequence(nullptr), 0) << c.what;
    EXPECT_FALSE(path_exists(root.posix("C:\\Zarpex\\Zarpex32.exe"))) << c.what;
    EXPECT_FALSE(app_path_recorded()) << c.what;
    EXPECT_FALSE(path_exists(root.root() + "/drive_c/windows/zarpex.ini")) << c.what;
    EXPECT_TRUE(fake_ui.boxes.empty()) << c.what;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(path_exists(mark));
}

TEST_F(InstallSequence, ChangedStubShowsOnlyTheWarning) {
  std::string bytes = write_installer(program_entries());
  bytes[10] = static_cast<char>(bytes[10] ^ 0x40);
  write_file(root.posix("C:\\setup.exe"), bytes);
  EXPECT_EQ(install_sequence(nullptr), 0);
  ASSERT_EQ(fake_ui.boxes.size(), 1u);
  EXPECT_EQ(fake_ui.boxes[0].text, kModified);
  EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
  EXPECT_FALSE(dialog_opened);
}

TEST_F(InstallSequence, StoredCrcFieldCountsAsZero) {
  // The four bytes of the CRC field itself are not part of the check.
  std::string bytes = write_installer(program_entries());
  for (int i = 0; i < 4; ++i) bytes[saved_record.crc_field_offset + i] = static_cast<char>(0xA5);
  write_file(root.posix("C:\\setup.exe"), bytes);
  fake_ui.on_main_dialog = [this] {
    dialog_opened = true;
    return -1;
  };
  EXPECT_EQ(install_sequence(nullptr), 0);
  EXPECT_TRUE(dialog_opened);
  EXPECT_TRUE(fake_ui.boxes.empty());
}

TEST_F(InstallSequence, StartUpFailures) {
  struct Case {
    const char* what;
    size_t keep;  // bytes of the installer file kept; 0: no file at all
    uint32_t entries;
    std::string text;
    uint32_t style;
  } cases[] = {
      {"missing", 0, 1, "Cannot open setup.exe\nFile not found", 0x30},
      {"shorter than the stub", kStubLength - 1, 1, "Cannot read setup.exe", 0x30},
      {"header cut short", kStubLength + 41, 1, "Cannot read setup.exe", 0x30},
      {"no entries", ~size_t{0}, 0, "Archive contains no files", 0x00},
  };
  for (const Case& c : cases) {
    fake_ui.reset();
    dialog_opened = false;
    fake_ui.on_main_dialog = [this] {
      dialog_opened = true;
      return -1;
    };
    std::vector<TestEntry> entries = program_entries();
    if (c.entries == 0) entries.clear();
    std::string bytes = write_installer(entries);
    if (c.keep == 0) {
      std::filesystem::remove(root.posix("C:\\setup.exe"));
    } else if (c.keep < bytes.size()) {
      write_file(root.posix("C:\\setup.exe"), bytes.substr(0, c.keep));
    }
    EXPECT_EQ(install_sequence(nullptr), 0) << c.what;
    ASSERT_EQ(fake_ui.boxes.size(), 1u) << c.what;
    EXPECT_EQ(fake_ui.boxes[0].text, c.text) << c.what;
    EXPECT_EQ(fake_ui.boxes[0].caption, "Zarpex Installation") << c.what;
    EXPECT_EQ(fake_ui.boxes[0].style, c.style) << c.what;
    EXPECT_FALSE(dialog_opened) << c.what;
    EXPECT_FALSE(path_exists(root.posix("C:\\Zarpex"))) << c.what;
  }
}

TEST_F(InstallSequence, DamagedArchiveIsReportedByTheDialog) {
  write_installer(program_entries(), {.entry_count = 5});
  make_executable_on_extract();
  EXPECT_EQ(install_sequence(nullptr), 0);
  ASSERT_EQ(fake_ui.boxes.size(), 1u);
  EXPECT_EQ(fake_ui.boxes[0].text,
            "Archive data is damaged, probably caused by\ncorrupt disk or download error");
  EXPECT_FALSE(app_path_recorded());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(path_exists(mark));
}

// Unattended installation: no box and no dialog, everything installed into the /D=
// folder (existing files replaced, read-only ones too), registered, nothing started.
TEST_F(InstallSequence, SilentInstallationShowsNothingAndStartsNothing) {
  write_installer(program_entries());
  const std::string folder = "C:\\Program Files\\Silent Target";
  std::filesystem::create_directories(root.posix(folder));
  write_file(root.posix(folder + "\\readme.txt"), "old");
  chmod(root.posix(folder + "\\readme.txt").c_str(), 0444);
  arguments({"/S", "/D=C:\\Program", "Files\\Silent", "Target"});

  EXPECT_EQ(install_sequence(nullptr), 0);
  EXPECT_FALSE(dialog_opened);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_TRUE(fake_ui.prompts.empty());
  EXPECT_EQ(read_file(root.posix(folder + "\\readme.txt")), "read me");
  EXPECT_TRUE(app_path_recorded());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(path_exists(mark));
}

// Every way a silent installation fails: no box, its ResultCode made positive as the exit
// code, nothing registered, nothing started.
TEST_F(InstallSequence, SilentFailuresEndWithTheirCode) {
  struct Case {
    const char* what;
    int exit_code;
    std::function<void(std::string&)> damage;  // on the installer's bytes
  } cases[] = {
      {"changed stub", 1,
       [](std::string& bytes) { bytes[10] = static_cast<char>(bytes[10] ^ 0x40); }},
      {"header cut short", 6, [](std::string& bytes) { bytes.resize(kStubLength + 41); }},
      {"directory damaged", 11, nullptr},
      {"a file cannot be created", 3, nullptr},
      {"the folder cannot be created", 9, nullptr},
      {"own file missing", 5, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_ui.reset();
    std::memset(&install_state, 0, sizeof install_state);
    std::filesystem::remove_all(root.posix("C:\\Target"));
    std::filesystem::remove_all(root.posix("C:\\Blocked"));
    std::string bytes =
        write_installer(program_entries(), {.entry_count = c.exit_code == 11 ? 5 : -1});
    if (c.damage) {
      c.damage(bytes);
      write_file(root.posix("C:\\setup.exe"), bytes);
    }
    std::string folder = "C:\\Target";
    if (c.exit_code == 3) std::filesystem::create_directories(root.posix("C:\\Target\\readme.txt"));
    if (c.exit_code == 9) {
      write_file(root.posix("C:\\Blocked"), "a file in the way");
      folder = "C:\\Blocked\\Zarpex";
    }
    if (c.exit_code == 5) std::filesystem::remove(root.posix("C:\\setup.exe"));
    arguments({"/s", "/d=" + folder});

    EXPECT_EQ(install_sequence(nullptr), c.exit_code);
    EXPECT_FALSE(dialog_opened);
    EXPECT_TRUE(fake_ui.boxes.empty());
    EXPECT_FALSE(app_path_recorded());
    EXPECT_FALSE(path_exists(root.root() + "/drive_c/windows/zarpex.ini"));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(path_exists(mark));
}

TEST_F(InstallSequence, SilentWithAnEmptyArchiveWritesNothing) {
  write_installer({});
  arguments({"--silent"});
  EXPECT_EQ(install_sequence(nullptr), 0);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_FALSE(dialog_opened);
  EXPECT_FALSE(path_exists(root.posix("C:\\Zarpex")));
}

TEST_F(InstallSequence, FolderArgumentFillsTheDialog) {
  write_installer(program_entries());
  fake_ui.on_main_dialog = [this] {
    dialog_opened = true;
    proposed = install_state.install_folder;
    return -1;
  };
  struct Case {
    std::vector<std::string> args;
    std::string shown;
  } cases[] = {
      {{"/D=D:\\My", "Apps\\Zarpex"}, "D:\\My Apps\\Zarpex"},
      {{"--dir", "D:\\Other Place"}, "D:\\Other Place"},
      {{"--dir", "/opt/zarpex here"}, "Z:\\opt\\zarpex here"},
      {{"/unknown", "-x"}, "C:\\Zarpex"},  // ignored: the default stays
  };
  for (const Case& c : cases) {
    std::memset(&install_state, 0, sizeof install_state);
    dialog_opened = false;
    arguments(c.args);
    EXPECT_EQ(install_sequence(nullptr), 0) << c.shown;
    EXPECT_TRUE(dialog_opened) << c.shown;
    EXPECT_EQ(proposed, c.shown);
  }
}

}  // namespace

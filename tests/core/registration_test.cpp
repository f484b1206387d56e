#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "installer/install_sequence.h"
#include "installer/system.h"
#include "state/install_state.h"
#include "support/temp_root.h"

namespace {

constexpr char kAppPathKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zarpex32.exe";
constexpr char kUserKey[] = "Software\\Kolvane\\Zarpex";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarpex";

struct Value {
  long status = -1;
  uint32_t type = 0;
  std::string bytes;
};

Value query(RegHive hive, const char* key_name, const char* value_name) {
  Value value;
  RegKey key = nullptr;
  value.status = sys_reg_open_key(hive, key_name, &key);
  if (value.status != 0) return value;
  char data[600];
  uint32_t size = sizeof data;
  value.status = sys_reg_query_value(key, value_name, &value.type, data, &size);
  if (value.status == 0) value.bytes.assign(data, size);
  sys_reg_close_key(key);
  return value;
}

void store(RegHive hive, const char* key_name, const char* value_name, uint32_t type,
           const std::string& bytes) {
  RegKey key = nullptr;
  ASSERT_EQ(sys_reg_create_key(hive, key_name, &key), 0);
  sys_reg_set_value(key, value_name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
  sys_reg_close_key(key);
}

std::string profile(const char* section, const char* key) {
  char out[261];
  sys_profile_get_string(section, key, "<none>", out, sizeof out, "zarpex.ini");
  return out;
}

class DefaultFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::strcpy(install_state.install_folder, "Z:\\the\\installer\\setup.bin");
    install_state.os_major_version = 6;
  }
  TempRoot root;
};

TEST_F(DefaultFolder, FromTheRegistryValue) {
  struct Case {
    std::string value;
    const char* folder;
  } cases[] = {
      {std::string("D:\\Tools\\Zarpex32.exe", 22), "D:\\Tools"},
      {std::string("D:\\Zarpex32.exe", 16), "D:\\"},
      {"D:\\Tools\\Zarpex32.exe", "D:\\Tools"},  // stored without its terminator
      {std::string("D:\\Deep\\\\Zarpex32.exe", 22), "D:\\Deep"},
  };
  // A profile entry that must not be consulted while the registry has a value.
  sys_profile_write_string("Install", "Path", "F:\\Other\\Zarpex32.exe", "zarpex.ini");
  for (const Case& c : cases) {
    store(kHiveLocalMachine, kAppPathKey, nullptr, kRegSz, c.value);
    find_default_folder();
    EXPECT_STREQ(install_state.install_folder, c.folder) << c.value;
  }
}

TEST_F(DefaultFolder, BareNameFallsToTheDefaultsNotTheProfile) {
  store(kHiveLocalMachine, kAppPathKey, nullptr, kRegSz, std::string("Zarpex32.exe", 13));
  sys_profile_write_string("Install", "Path", "F:\\Other\\Zarpex32.exe", "zarpex.ini");
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Zarpex");
}

TEST_F(DefaultFolder, FromTheProfileWhenTheRegistryHasNothingUsable) {
  sys_profile_write_string("Install", "Path", "E:\\Apps\\Zarpex\\Zarpex32.exe", "zarpex.ini");
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "E:\\Apps\\Zarpex");

  // A value of another type, or one longer than the buffer, is passed over.
  store(kHiveLocalMachine, kAppPathKey, nullptr, kRegExpandSz,
        std::string("D:\\Tools\\Zarpex32.exe", 22));
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "E:\\Apps\\Zarpex");
  store(kHiveLocalMachine, kAppPathKey, nullptr, kRegSz, "D:\\" + std::string(300, 'x'));
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "E:\\Apps\\Zarpex");
}

TEST_F(DefaultFolder, ProgramFilesOnlyWhenPresentAndTheSystemIsNewEnough) {
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Zarpex");

  std::filesystem::create_directories(root.posix("C:\\Program Files"));
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Program Files\\Zarpex");

  install_state.os_major_version = 3;
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Zarpex");
}

// Waits until the started program has left its mark.
bool wait_for(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (path_exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class Registration : public ::testing::Test {
 protected:
  TempRoot root;

  // Puts a program into the folder that writes a mark when started: the command line it
  // was started with.
  std::string install_program(const std::string& folder) {
    std::filesystem::create_directories(root.posix(folder));
    const std::string program = root.posix(folder + "\\Zarpex32.exe");
    const std::string mark = root.root() + "/started";
    write_file(program, "#!/bin/sh\nprintf '%s' \"$ZARPEX_COMMAND_LINE\" > " + mark + "\n");
    chmod(program.c_str(), 0755);
    std::strcpy(install_state.install_folder, (folder + "\\").c_str());
    return mark;
  }
};

TEST_F(Registration, RecordsKeysValuesTypesAndByteCounts) {
  const std::string mark = install_program("C:\\Program Files\\Zarpex");
  register_and_launch();

  const std::string path = "C:\\Program Files\\Zarpex\\Zarpex32.exe";
  ASSERT_EQ(path.size(), 36u);
  Value app = query(kHiveLocalMachine, kAppPathKey, nullptr);
  EXPECT_EQ(app.status, 0);
  EXPECT_EQ(app.type, kRegSz);
  EXPECT_EQ(app.bytes, std::string(path.c_str(), 37));

  Value setup = query(kHiveCurrentUser, kUserKey, "Setup");
  EXPECT_EQ(setup.type, kRegSz);
  EXPECT_EQ(setup.bytes, std::string("1", 2));

  Value name = query(kHiveLocalMachine, kUninstallKey, "DisplayName");
  EXPECT_EQ(name.type, kRegSz);
  EXPECT_EQ(name.bytes, std::string("Zarpex", 7));

  Value uninstall = query(kHiveLocalMachine, kUninstallKey, "UninstallString");
  const std::string command = "\"" + path + "\" /uninstall";
  ASSERT_EQ(command.size(), 49u);
  EXPECT_EQ(uninstall.type, kRegSz);
  EXPECT_EQ(uninstall.bytes, std::string(command.c_str(), 50));

  EXPECT_EQ(profile("Install", "Path"), "<none>");
  EXPECT_EQ(profile("Options", "Setup"), "<none>");
  // Started by its path in quotes: unquoted, Windows would first try C:\Program.exe.
  ASSERT_TRUE(wait_for(mark));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(read_file(mark), "\"" + path + "\"");

  // The next run proposes this installation's folder.
  std::strcpy(install_state.install_folder, "Z:\\setup.bin");
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Program Files\\Zarpex");
}

TEST_F(Registration, ProfileFallbacksWhereKeysCannotBeCreated) {
  const std::string mark = install_program("C:\\Apps");
  std::filesystem::create_directories(root.root() + "/registry/machine");
  ASSERT_EQ(chmod((root.root() + "/registry/machine").c_str(), 0555), 0);
  register_and_launch();

  EXPECT_EQ(profile("Install", "Path"), "C:\\Apps\\Zarpex32.exe");
  EXPECT_EQ(query(kHiveCurrentUser, kUserKey, "Setup").bytes, std::string("1", 2));
  EXPECT_EQ(profile("Options", "Setup"), "<none>");
  EXPECT_NE(query(kHiveLocalMachine, kUninstallKey, "DisplayName").status, 0);
  EXPECT_NE(query(kHiveLocalMachine, kAppPathKey, nullptr).status, 0);
  EXPECT_TRUE(wait_for(mark));

  // Without the user hive either, the setup marker goes to the profile too.
  std::filesystem::create_directories(root.root() + "/registry/user");
  std::filesystem::remove(root.root() + "/registry/user/store");
  ASSERT_EQ(chmod((root.root() + "/registry/user").c_str(), 0555), 0);
  std::strcpy(install_state.install_folder, "C:\\Apps\\");
  register_and_launch();
  EXPECT_EQ(profile("Options", "Setup"), "1");

  // The default folder is then read back from the profile.
  std::strcpy(install_state.install_folder, "Z:\\setup.bin");
  find_default_folder();
  EXPECT_STREQ(install_state.install_folder, "C:\\Apps");
}

TEST_F(Registration, SilentInstallationIsRecordedButNotStarted) {
  const std::string mark = install_program("D:\\My Apps\\Zarpex");
  install_state.silent = 1;
  register_and_launch();
  install_state.silent = 0;
  const std::string path = "D:\\My Apps\\Zarpex\\Zarpex32.exe";
  EXPECT_EQ(query(kHiveLocalMachine, kAppPathKey, nullptr).bytes, path + '\0');
  EXPECT_EQ(query(kHiveLocalMachine, kUninstallKey, "UninstallString").bytes,
            "\"" + path + "\" /uninstall" + '\0');
  EXPECT_EQ(query(kHiveCurrentUser, kUserKey, "Setup").bytes, std::string("1", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(path_exists(mark));
}

TEST_F(Registration, PathsTooLongToRecord) {
  // The uninstall command would not fit: nothing is recorded, the program still starts.
  std::string folder = "C:\\" + std::string(100, 'a') + "\\" + std::string(131, 'b');
  ASSERT_EQ(folder.size() + 1 + 12, 248u);
  std::string mark = install_program(folder);
  register_and_launch();
  EXPECT_NE(query(kHiveLocalMachine, kAppPathKey, nullptr).status, 0);
  EXPECT_NE(query(kHiveCurrentUser, kUserKey, "Setup").status, 0);
  EXPECT_EQ(profile("Install", "Path"), "<none>");
  EXPECT_TRUE(wait_for(mark));

  // A program path that does not fit at all: nothing recorded, nothing started.
  std::filesystem::remove(mark);
  folder += std::string(15, 'c');
  install_program(folder);
  ASSERT_EQ(std::strlen(install_state.install_folder), folder.size() + 1);
  register_and_launch();
  EXPECT_NE(query(kHiveLocalMachine, kAppPathKey, nullptr).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(path_exists(mark));
}

}  // namespace

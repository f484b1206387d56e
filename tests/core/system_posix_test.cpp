#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "installer/system.h"
#include "support/temp_root.h"

namespace {

class Registry : public ::testing::Test {
 protected:
  TempRoot root;

  static void set(RegHive hive, const char* key, const char* name, uint32_t type,
                  const std::string& bytes) {
    RegKey handle = nullptr;
    ASSERT_EQ(sys_reg_create_key(hive, key, &handle), 0);
    EXPECT_EQ(
        sys_reg_set_value(handle, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
        0);
    sys_reg_close_key(handle);
  }
};

TEST_F(Registry, ValuesKeepTypeAndByteCount) {
  const std::string path("C:\\Apps\\Zarpex32.exe", 21);  // terminator included
  set(kHiveLocalMachine, "SOFTWARE\\App Paths\\Zarpex32.exe", nullptr, kRegSz, path);
  set(kHiveLocalMachine, "SOFTWARE\\App Paths\\Zarpex32.exe", "Other", kRegExpandSz,
      std::string("x\0y", 3));

  RegKey key = nullptr;
  // Keys and value names are found without regard to case.
  ASSERT_EQ(sys_reg_open_key(kHiveLocalMachine, "software\\app paths\\ZARPEX32.EXE", &key), 0);
  char data[64];
  uint32_t type = 0, size = sizeof data;
  ASSERT_EQ(sys_reg_query_value(key, "", &type, data, &size), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(data, size), path);

  size = sizeof data;
  ASSERT_EQ(sys_reg_query_value(key, "OTHER", &type, data, &size), 0);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(std::string(data, size), std::string("x\0y", 3));

  size = 2;  // too small: the size needed comes back
  EXPECT_EQ(sys_reg_query_value(key, nullptr, &type, data, &size), 234);
  EXPECT_EQ(size, 21u);
  size = sizeof data;
  EXPECT_EQ(sys_reg_query_value(key, "Missing", &type, data, &size), 2);
  sys_reg_close_key(key);
}

TEST_F(Registry, ReplacingAValueAndOpeningParentsAndMissingKeys) {
  set(kHiveCurrentUser, "Software\\Kolvane\\Zarpex", "Setup", kRegSz, std::string("1", 2));
  set(kHiveCurrentUser, "Software\\Kolvane\\Zarpex", "setup", kRegSz, std::string("22", 3));
  RegKey key = nullptr;
  ASSERT_EQ(sys_reg_open_key(kHiveCurrentUser, "Software\\Kolvane\\Zarpex", &key), 0);
  char data[8];
  uint32_t type = 0, size = sizeof data;
  ASSERT_EQ(sys_reg_query_value(key, "Setup", &type, data, &size), 0);
  EXPECT_EQ(std::string(data, size), std::string("22", 3));
  sys_reg_close_key(key);

  EXPECT_EQ(sys_reg_open_key(kHiveCurrentUser, "Software\\Kolvane", &key), 0);
  sys_reg_close_key(key);
  EXPECT_EQ(sys_reg_open_key(kHiveCurrentUser, "Software\\Kolv", &key), 2);
  EXPECT_EQ(key, nullptr);
  // The hives are kept apart.
  EXPECT_EQ(sys_reg_open_key(kHiveLocalMachine, "Software\\Kolvane\\Zarpex", &key), 2);
  EXPECT_TRUE(path_exists(root.root() + "/registry/user/store"));
  EXPECT_FALSE(path_exists(root.root() + "/registry/machine/store"));
}

TEST_F(Registry, HiveWithoutWriteBitRefusesNewKeys) {
  set(kHiveLocalMachine, "SOFTWARE\\Existing", "v", kRegSz, std::string("a", 2));
  for (const std::string& locked :
       {root.root() + "/registry/machine", root.root() + "/registry/machine/store"}) {
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    RegKey key = nullptr;
    EXPECT_EQ(sys_reg_create_key(kHiveLocalMachine, "SOFTWARE\\New", &key), 5) << locked;
    EXPECT_EQ(sys_reg_create_key(kHiveLocalMachine, "SOFTWARE\\Existing", &key), 5) << locked;
    EXPECT_EQ(key, nullptr);
    // Reading still works, and the other hive is not affected.
    EXPECT_EQ(sys_reg_open_key(kHiveLocalMachine, "SOFTWARE\\Existing", &key), 0);
    sys_reg_close_key(key);
    EXPECT_EQ(sys_reg_create_key(kHiveCurrentUser, "Software\\New", &key), 0);
    sys_reg_close_key(key);
    ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
  }
}

TEST_F(Registry, KeyOpenedForQueryCannotBeWritten) {
  set(kHiveLocalMachine, "SOFTWARE\\K", "v", kRegSz, std::string("a", 2));
  RegKey key = nullptr;
  ASSERT_EQ(sys_reg_open_key(kHiveLocalMachine, "SOFTWARE\\K", &key), 0);
  EXPECT_EQ(sys_reg_set_value(key, "v", kRegSz, "b", 2), 5);
  sys_reg_close_key(key);
}

class Profile : public ::testing::Test {
 protected:
  TempRoot root;
  std::string get(const char* section, const char* key, const char* fallback = "",
                  uint32_t size = 260) {
    char out[300];
    const uint32_t n = sys_profile_get_string(section, key, fallback, out, size, "zarpex.ini");
    EXPECT_EQ(n, std::strlen(out));
    return out;
  }
};

TEST_F(Profile, WritesAndReadsInTheWindowsFolder) {
  EXPECT_EQ(get("Install", "Path", "none"), "none");
  EXPECT_EQ(sys_profile_write_string("Install", "Path", "C:\\A\\Zarpex32.exe", "zarpex.ini"), 1);
  EXPECT_EQ(sys_profile_write_string("Options", "Setup", "1", "zarpex.ini"), 1);
  EXPECT_EQ(sys_profile_write_string("install", "Other", "x", "zarpex.ini"), 1);
  EXPECT_EQ(sys_profile_write_string("INSTALL", "path", "C:\\B\\Zarpex32.exe", "zarpex.ini"), 1);

  EXPECT_EQ(get("Install", "Path"), "C:\\B\\Zarpex32.exe");
  EXPECT_EQ(get("install", "OTHER"), "x");
  EXPECT_EQ(get("Options", "Setup"), "1");
  EXPECT_EQ(get("Options", "Path", "dflt"), "dflt");
  EXPECT_EQ(get("Install", "Path", "", 5), "C:\\B");  // cut to the buffer
  EXPECT_EQ(read_file(root.root() + "/drive_c/windows/zarpex.ini"),
            "[Install]\nPath=C:\\B\\Zarpex32.exe\nOther=x\n[Options]\nSetup=1\n");
}

TEST(FullPathName, Table) {
  char cwd_posix[4096];
  ASSERT_NE(getcwd(cwd_posix, sizeof cwd_posix), nullptr);
  std::string cwd_windows = "Z:";
  for (const char* p = cwd_posix; *p; ++p) cwd_windows += (*p == '/') ? '\\' : *p;
  if (cwd_windows == "Z:\\") cwd_windows = "Z:";

  struct Case {
    std::string in, out;
  } cases[] = {
      {"C:\\Program Files\\Zarpex\\Zarpex32.exe", "C:\\Program Files\\Zarpex\\Zarpex32.exe"},
      {"c:\\a\\.\\b\\..\\c.exe", "C:\\a\\c.exe"},
      {"C:\\a\\\\b\\", "C:\\a\\b\\"},
      {"C:\\..\\x", "C:\\x"},
      {"C:", "C:\\"},
      {"\\tmp\\x", "Z:\\tmp\\x"},
      {"Zarpex32.exe", cwd_windows + "\\Zarpex32.exe"},
  };
  for (const Case& c : cases) {
    char out[260];
    const uint32_t n = sys_full_path_name(c.in.c_str(), sizeof out, out);
    EXPECT_EQ(std::string(out), c.out) << c.in;
    EXPECT_EQ(n, c.out.size()) << c.in;
  }
  char small[8];
  EXPECT_EQ(sys_full_path_name("C:\\abcdefgh", sizeof small, small), 12u);  // size needed
  EXPECT_EQ(sys_full_path_name("", sizeof small, small), 0u);
}

TEST(Version, SixUnlessSetForTests) {
  unsetenv("ZARPEX_OS_VERSION");
  EXPECT_EQ(sys_get_version() & 0xFF, 6u);
  setenv("ZARPEX_OS_VERSION", "3", 1);
  EXPECT_EQ(sys_get_version() & 0xFF, 3u);
  unsetenv("ZARPEX_OS_VERSION");
}

TEST(ModuleFileName, OwnExecutableInWindowsForm) {
  unsetenv("ZARPEX_SELF");
  char out[261];
  const uint32_t n = sys_module_file_name(nullptr, out, sizeof out);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(n, std::strlen(out));
  EXPECT_EQ(std::string(out, 3), "Z:\\");
  EXPECT_EQ(std::string(out).find('/'), std::string::npos);
  EXPECT_NE(std::string(out).find("core_tests"), std::string::npos);

  setenv("ZARPEX_SELF", "/opt/setup.bin", 1);
  EXPECT_EQ(sys_module_file_name(nullptr, out, sizeof out), 16u);
  EXPECT_STREQ(out, "Z:\\opt\\setup.bin");
  unsetenv("ZARPEX_SELF");
}

// Waits for a file that a started program writes (a started program runs on its own).
std::string wait_for_file(const std::string& path) {
  for (int i = 0; i < 500 && !path_exists(path + ".done"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return read_file(path);
}

TEST(WinExec, StartsTheProgramInItsOwnSession) {
  TempRoot root;
  const std::string program = root.posix("C:\\Zarpex32.exe");
  const std::string marker = root.root() + "/started";
  write_file(program, "#!/bin/sh\ncat /proc/$$/stat > " + marker + "\ntouch " + marker + ".done\n");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);

  EXPECT_GT(sys_win_exec("C:\\Zarpex32.exe", kSwShowNormal), 31u);
  const std::string stat = wait_for_file(marker);
  ASSERT_FALSE(stat.empty());
  // Fields after the command name: state, parent, process group, session.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string state;
  long parent = 0, group = 0, session = 0;
  fields >> state >> parent >> group >> session;
  EXPECT_NE(session, static_cast<long>(getsid(0)));
  EXPECT_NE(parent, static_cast<long>(getpid()));
}

TEST(WinExec, MissingOrNotRunnableProgramIsRefused) {
  TempRoot root;
  EXPECT_LE(sys_win_exec("C:\\Missing.exe", kSwShowNormal), 31u);
  // A folder never runs.
  EXPECT_LE(sys_win_exec("C:\\", kSwShowNormal), 31u);
}

}  // namespace

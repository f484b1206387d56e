#include "platform/posix/path_map.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_root.h"

namespace {

TEST(PathMap, WindowsToPosix) {
  TempRoot root;
  const std::string r = root.root();
  struct Case {
    std::string windows, posix;
  } cases[] = {
      {"Z:\\etc\\hosts", "/etc/hosts"},
      {"z:\\", "/"},
      {"C:\\Program Files\\Zarpex", r + "/drive_c/Program Files/Zarpex"},
      {"c:\\a", r + "/drive_c/a"},
      {"D:\\", r + "/drive_d/"},
      {"C:name", r + "/drive_c/name"},
      {"C:", r + "/drive_c/"},
      {"\\tmp\\x", "/tmp/x"},
      {"rel\\file.txt", "rel/file.txt"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[4096];
    ASSERT_TRUE(map_to_posix(c.windows.c_str(), out, sizeof out)) << c.windows;
    EXPECT_EQ(out, c.posix) << c.windows;
  }
  char small[8];
  EXPECT_FALSE(map_to_posix("Z:\\abcdefgh", small, sizeof small));
  EXPECT_FALSE(map_to_posix("C:\\a", small, sizeof small));
}

TEST(PathMap, PosixToWindowsAndBack) {
  TempRoot root;
  const std::string r = root.root();
  struct Case {
    std::string posix, windows;
  } cases[] = {
      {"/etc/hosts", "Z:\\etc\\hosts"},
      {"/", "Z:\\"},
      {r + "/drive_c/Program Files", "C:\\Program Files"},
      {r + "/drive_c", "C:\\"},
      {r + "/drive_q/x", "Q:\\x"},
      {r + "/drive_cc/x", "Z:" + std::string(r).replace(0, 0, "") + "\\drive_cc\\x"},
      {"rel/x", "rel\\x"},
      {r + "/drive_1/x", "Z:" + r + "\\drive_1\\x"},  // not a drive letter
  };
  for (Case& c : cases) {
    for (char& ch : c.windows) {
      if (ch == '/') ch = '\\';
    }
    char out[4096];
    ASSERT_TRUE(map_to_windows(c.posix.c_str(), out, sizeof out)) << c.posix;
    EXPECT_EQ(out, c.windows) << c.posix;
    char back[4096];
    ASSERT_TRUE(map_to_posix(out, back, sizeof back));
    const std::string expected = c.posix == r + "/drive_c" ? r + "/drive_c/" : c.posix;
    EXPECT_EQ(back, expected) << c.posix;
  }
  char small[4];
  EXPECT_FALSE(map_to_windows("/etc/hosts", small, sizeof small));
}

TEST(PathMap, DriveFolders) {
  TempRoot root;
  char out[4096];
  ASSERT_TRUE(drive_folder('C', out, sizeof out));
  EXPECT_EQ(std::string(out), root.root() + "/drive_c");
  ASSERT_TRUE(drive_folder('z', out, sizeof out));
  EXPECT_EQ(std::string(out), "");
  ASSERT_TRUE(zarpex_root(out, sizeof out));
  EXPECT_EQ(std::string(out), root.root());
}

}  // namespace

#include "platform/posix/path_map.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/code_page.h"
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

// With a code page set, the names' bytes are read in it on the way to POSIX and written
// in it on the way back; the folder above ZARPEX_ROOT's drives is POSIX text throughout.
TEST(PathMap, NamesCrossInTheCodePage) {
  TempRoot root;
  const std::string r = root.root();
  struct Case {
    uint32_t code_page;
    std::string windows, posix;
  } cases[] = {
      {1252,
       "C:\\docs\\\xdc"
       "berblick \x96 Caf\xe9.txt",
       r + "/drive_c/docs/\u00dcberblick \u2013 Caf\u00e9.txt"},
      {1251, "Z:\\tmp\\\xcf\xf0\xe8\xec\xe5\xf0", "/tmp/\u041f\u0440\u0438\u043c\u0435\u0440"},
      // 0x5C as the second byte of a character is no separator.
      {932, "lang\\\x95\x5c.txt", "lang/\u8868.txt"},
      {0, "Z:\\a\\\xdc", "/a/\xdc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    ansi_code_page = c.code_page;
    char out[4096];
    ASSERT_TRUE(map_to_posix(c.windows.c_str(), out, sizeof out));
    EXPECT_EQ(out, c.posix);
    char back[4096];
    ASSERT_TRUE(map_to_windows(out, back, sizeof back));
    EXPECT_EQ(back, c.windows);
  }
  ansi_code_page = 1252;
  char out[4096];
  EXPECT_FALSE(map_to_posix("Z:\\\x81", out, sizeof out));   // no character of 1252
  EXPECT_FALSE(map_to_windows("/\u8868", out, sizeof out));  // not in 1252
  ansi_code_page = 0;
}

}  // namespace

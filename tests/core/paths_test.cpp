#include "archive/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/fs.h"
#include "support/temp_root.h"

namespace {

TEST(FindLastChar, FindsLastOccurrenceTerminatorOrNothing) {
  char text[] = "a\\b\\c";
  EXPECT_EQ(find_last_char(text, '\\'), text + 3);
  EXPECT_EQ(find_last_char(text, 'a'), text);
  EXPECT_EQ(find_last_char(text, '\0'), text + 5);
  EXPECT_EQ(find_last_char(text, 'x'), nullptr);
  char empty[] = "";
  EXPECT_EQ(find_last_char(empty, '\\'), nullptr);
  EXPECT_EQ(find_last_char(empty, '\0'), empty);
}

TEST(ScanBytes, StopsWithinCount) {
  const uint8_t bytes[] = {1, 2, 0, 3, 0};
  EXPECT_EQ(scan_bytes(bytes, 0, 5), bytes + 2);
  EXPECT_EQ(scan_bytes(bytes, 3, 3), nullptr);  // beyond the count
  EXPECT_EQ(scan_bytes(bytes, 1, 0), nullptr);
  EXPECT_EQ(scan_bytes(bytes, 3, 4), bytes + 3);
}

TEST(CompareBytes, UnsignedOrderAndCounts) {
  const uint8_t low[] = {0x41, 0x7F};
  const uint8_t high[] = {0x41, 0x80};
  EXPECT_EQ(compare_bytes(low, high, 0), 0);
  EXPECT_EQ(compare_bytes(low, high, 1), 0);
  EXPECT_EQ(compare_bytes(low, high, 2), -1);
  EXPECT_EQ(compare_bytes(high, low, 2), 1);
  EXPECT_EQ(compare_bytes(low, low, 2), 0);
}

TEST(FileNamePart, Table) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\Program Files\\Zarpex\\setup.exe", "setup.exe"},
      {"C:setup.exe", "setup.exe"},
      {"setup.exe", "setup.exe"},
      {"C:\\Zarpex\\", ""},
      {"", ""},
      {"\\setup.exe", "setup.exe"},
  };
  for (const Case& c : cases) {
    char buffer[261];
    std::strcpy(buffer, c.path);
    char* part = file_name_part(buffer);
    EXPECT_STREQ(part, c.name) << c.path;
    EXPECT_GE(part, buffer);
    EXPECT_LE(part, buffer + std::strlen(buffer));
  }
}

TEST(AppendSeparator, Table) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"", ""},
      {"C:", "C:"},
      {"C:\\", "C:\\"},
      {"C:\\Zarpex\\", "C:\\Zarpex\\"},
      {"C:\\Zarpex", "C:\\Zarpex\\"},
      {"Zarpex", "Zarpex\\"},
  };
  for (const Case& c : cases) {
    char buffer[261];
    std::strcpy(buffer, c.before);
    char* end = append_separator(buffer);
    EXPECT_STREQ(buffer, c.after) << c.before;
    EXPECT_EQ(end, buffer + std::strlen(buffer)) << c.before;
    EXPECT_EQ(*end, '\0');
  }
}

TEST(StripSeparators, Table) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"C:\\Zarpex\\", "C:\\Zarpex"},
      {"C:\\Zarpex\\\\\\", "C:\\Zarpex"},
      {"C:\\", "C:\\"},
      {"C:\\\\\\", "C:\\"},
      {"\\", "\\"},
      {"\\\\", "\\"},
      {"C:", "C:"},
      {"", ""},
      {"a", "a"},
  };
  for (const Case& c : cases) {
    char buffer[261];
    std::strcpy(buffer, c.before);
    char* end = strip_separators(buffer);
    EXPECT_STREQ(buffer, c.after) << c.before;
    EXPECT_EQ(end, buffer + std::strlen(buffer)) << c.before;
  }
}

TEST(TextHelpers, LengthCopyAppend) {
  EXPECT_EQ(text_length(""), 0u);
  EXPECT_EQ(text_length("abc"), 3u);

  char out[5];
  EXPECT_TRUE(text_copy(out, sizeof out, "abcd"));
  EXPECT_STREQ(out, "abcd");
  EXPECT_FALSE(text_copy(out, sizeof out, "abcde"));  // one too many: truncated, terminated
  EXPECT_STREQ(out, "abcd");

  char joined[6] = "ab";
  EXPECT_TRUE(text_append(joined, sizeof joined, "cde"));
  EXPECT_STREQ(joined, "abcde");
  EXPECT_FALSE(text_append(joined, sizeof joined, "f"));
  EXPECT_STREQ(joined, "abcde");  // unchanged when it does not fit
  EXPECT_TRUE(text_append(joined, sizeof joined, ""));
}

TEST(TextHelpers, CompareIgnoresAsciiCaseOnly) {
  EXPECT_EQ(text_compare_nocase("C:\\Zarpex", "c:\\ZARPEX"), 0);
  EXPECT_EQ(text_compare_nocase("", ""), 0);
  EXPECT_LT(text_compare_nocase("abc", "abd"), 0);
  EXPECT_GT(text_compare_nocase("abcd", "ABC"), 0);
  EXPECT_LT(text_compare_nocase("ab", "abc"), 0);
  EXPECT_NE(text_compare_nocase("\xC4", "\xE4"), 0);  // only ASCII letters fold
}

TEST(FormatText, SubstitutesInOrderAndTruncates) {
  char out[64];
  EXPECT_EQ(format_text(out, sizeof out, "Cannot write %s%s", "C:\\a", "\nDisk full"), 27u);
  EXPECT_STREQ(out, "Cannot write C:\\a\nDisk full");
  EXPECT_EQ(format_text(out, sizeof out, "Extracting %s", "x"), 12u);
  EXPECT_STREQ(out, "Extracting x");
  EXPECT_EQ(format_text(out, sizeof out, "100% %d", "x"), 7u);  // other % sequences stay
  EXPECT_STREQ(out, "100% %d");
  char small[8];
  EXPECT_EQ(format_text(small, sizeof small, "Cannot %s", "create"), 7u);
  EXPECT_STREQ(small, "Cannot ");
}

class FolderChain : public ::testing::Test {
 protected:
  void SetUp() override { last_os_error = 0; }
  TempRoot root;
};

TEST_F(FolderChain, CreatesEveryMissingLevel) {
  ASSERT_EQ(create_folder_chain("C:\\one\\two\\three\\"), 1);
  EXPECT_TRUE(is_folder(root.posix("C:\\one")));
  EXPECT_TRUE(is_folder(root.posix("C:\\one\\two")));
  EXPECT_TRUE(is_folder(root.posix("C:\\one\\two\\three")));
}

TEST_F(FolderChain, ExistingFolderRootOrFileNeedsNothing) {
  write_file(root.posix("C:\\file.txt"), "x");
  last_os_error = 7;  // left alone: nothing fails
  for (const char* path : {"C:\\", "C:\\\\\\", "C:\\file.txt", "", "C:\\file.txt\\"}) {
    EXPECT_EQ(create_folder_chain(path), 1) << path;
  }
  EXPECT_EQ(last_os_error, 7u);
  EXPECT_FALSE(is_folder(root.posix("C:\\file.txt")));
}

TEST_F(FolderChain, MissingDriveFailsWithReason) {
  EXPECT_EQ(create_folder_chain("Q:\\a\\b\\c"), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorPathNotFound));
  EXPECT_FALSE(path_exists(root.root() + "/drive_q"));
}

TEST_F(FolderChain, FileInTheWayFails) {
  write_file(root.posix("C:\\block"), "x");
  EXPECT_EQ(create_folder_chain("C:\\block\\sub\\leaf"), 0);
  EXPECT_NE(last_os_error, 0u);
  EXPECT_FALSE(is_folder(root.posix("C:\\block")));
}

TEST_F(FolderChain, LengthLimitOfTheWorkingCopy) {
  // 259 characters fit the working copy; 260 do not and fail as an invalid path.
  std::string fits = "C:\\" + std::string(120, 'a') + "\\" + std::string(135, 'b');
  ASSERT_EQ(fits.size(), 259u);
  EXPECT_EQ(create_folder_chain(fits.c_str()), 1);
  EXPECT_TRUE(is_folder(root.posix(fits)));

  std::string too_long = fits + "c";
  EXPECT_EQ(create_folder_chain(too_long.c_str()), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorBadPathname));
  EXPECT_FALSE(path_exists(root.posix(too_long)));
}

}  // namespace

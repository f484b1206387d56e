#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/archive_reader.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/extract_fixture.h"
#include "support/fake_ui.h"
#include "support/temp_root.h"
#include "support/test_archive.h"

namespace {

class MainDialog : public Extract {};

TEST_F(MainDialog, ResultTellsWhetherToRegister) {
  write_file(root.posix("C:\\blocker"), "a file");
  struct Case {
    const char* what;
    std::vector<TestEntry> entries;
    int box_answer;
    int cancel_at_drain;
    int32_t result;
    const char* folder = "C:\\Inst";
  } cases[] = {
      {"install folder not creatable",
       {{.name = "a", .contents = "A"}},
       kIdOk,
       0,
       -1,
       "C:\\blocker\\Inst"},
      {"complete", {{.name = "a", .contents = "A"}}, kIdOk, 0, 0},
      {"file failed, OK", {{.name = "a", .contents = "A", .crc_xor = 1}}, kIdOk, 0, 0},
      {"file failed, Cancel", {{.name = "a", .contents = "A", .crc_xor = 1}}, kIdCancel, 0, -1},
      {"Cancel pressed",
       {{.name = "a", .contents = "A"}, {.name = "b", .contents = "B"}},
       kIdOk,
       2,
       -1},
      // Cancel during the last file: everything is written, but the user said Cancel.
      {"Cancel at the end", {{.name = "a", .contents = "A"}}, kIdOk, 2, -1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    install_state.cancel_requested = 0;
    folder(c.folder);
    fake_ui.box_answers.push_back(c.box_answer);
    fake_ui.cancel_at_drain = c.cancel_at_drain;
    open(c.entries);
    EXPECT_EQ(main_dialog_install(nullptr), c.result) << c.what;
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
  install_state.cancel_requested = 0;
}

TEST_F(MainDialog, NegativeResultIsReportedOnce) {
  open({{.name = "a", .contents = "A"}}, {.entry_count = 3});
  EXPECT_EQ(main_dialog_install(nullptr), kResultDamaged);
  EXPECT_EQ(box_texts(), std::vector<std::string>{kDamaged});
  EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
}

TEST_F(MainDialog, SecondInstallDuringExtractionIsRefused) {
  std::vector<int32_t> nested;
  fake_ui.on_drain = [&](int) {
    EXPECT_TRUE(main_dialog_installing());
    nested.push_back(main_dialog_install(nullptr));
  };
  open({{.name = "a", .contents = "A"}, {.name = "b", .contents = "B"}});
  EXPECT_EQ(main_dialog_install(nullptr), 0);
  EXPECT_FALSE(main_dialog_installing());
  EXPECT_EQ(nested, std::vector<int32_t>(4, kInstallRefused));
  EXPECT_EQ(file("C:\\Inst\\a"), "A");
  EXPECT_EQ(file("C:\\Inst\\b"), "B");
}

TEST(BrowseResult, Table) {
  struct Case {
    std::string chosen, shown;
  } cases[] = {
      {"D:\\Apps", "D:\\Apps\\Zarpex"},
      {"D:\\Apps\\", "D:\\Apps\\Zarpex"},
      {"D:\\Apps\\\\", "D:\\Apps\\Zarpex"},
      {"D:\\Apps\\zarpex", "D:\\Apps\\zarpex"},
      {"D:\\Apps\\ZARPEX\\", "D:\\Apps\\ZARPEX"},
      {"D:\\", "D:\\Zarpex"},
      {"Apps", "Apps"},
      {"D:", "D:"},
      {"\\", "\\Zarpex"},
      // "\Zarpex" is added only where the 260-byte buffer holds it whole.
      {"C:\\" + std::string(249, 'a'), "C:\\" + std::string(249, 'a') + "\\Zarpex"},
      {"C:\\" + std::string(250, 'a'), "C:\\" + std::string(250, 'a')},
      {"C:\\" + std::string(256, 'a'), "C:\\" + std::string(256, 'a')},
  };
  for (const Case& c : cases) {
    char buffer[260] = {};
    ASSERT_LT(c.chosen.size(), sizeof buffer);
    std::strcpy(buffer, c.chosen.c_str());
    main_dialog_browse_result(buffer);
    EXPECT_EQ(std::string(buffer), c.shown) << c.chosen;
  }
}

TEST(ChooserFileName, FolderSeparatorAndXOrNothing) {
  struct Case {
    std::string typed, name;
  } cases[] = {
      {"D:\\Tools", "D:\\Tools\\x"},
      {"D:\\Tools\\", "D:\\Tools\\x"},
      {"D:", "D:x"},
      {"", "x"},
      // A name of 259 characters fits the 260-byte buffer; one more and there is none.
      {"C:\\" + std::string(254, 'a'), "C:\\" + std::string(254, 'a') + "\\x"},
      {"C:\\" + std::string(255, 'a'), ""},
      {"C:\\" + std::string(254, 'a') + "\\", "C:\\" + std::string(254, 'a') + "\\x"},
      {"C:\\" + std::string(255, 'a') + "\\", ""},
      {"C:\\" + std::string(256, 'a'), ""},  // the longest text the box gives
  };
  for (const Case& c : cases) {
    // Exactly 261 bytes on the heap, so that the sanitizer sees a byte written past them.
    std::vector<char> buffer(kPathBufferSize, '\0');
    ASSERT_LT(c.typed.size(), size_t(kWorkPathSize));
    std::strcpy(buffer.data(), c.typed.c_str());
    chooser_file_name(buffer.data());
    EXPECT_EQ(std::string(buffer.data()), c.name) << c.typed;
  }
}

}  // namespace

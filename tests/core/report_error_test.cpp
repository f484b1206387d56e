#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/paths.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/fake_ui.h"
#include "support/process_records.h"
#include "ui/ui.h"

namespace {

constexpr char kDamagedText[] =
    "Archive data is damaged, probably caused by\ncorrupt disk or download error";

class ReportError : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_records();
    std::strcpy(install_state.module_name, "setup.exe");
  }
  void TearDown() override { last_os_error = 0; }
};

TEST_F(ReportError, MessageForEveryCode) {
  struct Case {
    ResultCode result;
    uint32_t error;
    const char* text;
  } cases[] = {
      {kResultNoMemory, 5, "Not enough memory"},
      {kResultCannotCreate, 5, "Cannot create C:\\a.txt\nAccess denied"},
      {kResultCannotOpenSelf, 2, "Cannot open C:\\a.txt\nFile not found"},
      {kResultShortRead, 0, "Cannot read C:\\a.txt"},
      {kResultReadFailed, 0, "Cannot read C:\\a.txt"},
      {kResultWriteFailed, 112, "Cannot write C:\\a.txt\nDisk full"},
      {kResultWriteFailed, 39, "Cannot write C:\\a.txt\nDisk full"},
      {kResultCannotCreateFolder, 19, "Cannot create folder C:\\a.txt\nDisk is write protected"},
      {kResultDamaged, 3, kDamagedText},
      {kResultNoMoreInput, 3, kDamagedText},
  };
  for (const Case& c : cases) {
    fake_ui.reset();
    last_os_error = c.error;
    EXPECT_EQ(report_error(nullptr, c.result, "C:\\a.txt", 0), 1) << c.result;
    ASSERT_EQ(fake_ui.boxes.size(), 1u) << c.result;
    EXPECT_EQ(fake_ui.boxes[0].text, c.text) << c.result;
    EXPECT_EQ(fake_ui.boxes[0].caption, "Zarpex Installation");
    EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
    EXPECT_EQ(last_os_error, 0u) << "cleared once the message is composed";
  }
}

TEST_F(ReportError, CodesWithoutTextShowNothing) {
  for (ResultCode result : {0, 1, 42, -1, -4, -7, -25, -51}) {
    last_os_error = 5;
    EXPECT_EQ(report_error(nullptr, result, "x", 1), 0) << result;
    EXPECT_EQ(last_os_error, 5u) << result;
  }
  EXPECT_TRUE(fake_ui.boxes.empty());
}

TEST_F(ReportError, AskFlagDecidesStopOrGoOn) {
  struct Case {
    int ask;
    int answer;
    int result;
    uint32_t style;
  } cases[] = {
      {0, kIdOk, 1, 0x30},     {0, kIdCancel, 1, 0x30}, {1, kIdOk, 0, 0x31},
      {1, kIdCancel, 1, 0x31}, {1, 0, 1, 0x31},  // the box could not be shown
  };
  for (const Case& c : cases) {
    fake_ui.reset();
    fake_ui.box_answers.push_back(c.answer);
    EXPECT_EQ(report_error(nullptr, kResultCannotCreate, "f", c.ask), c.result);
    ASSERT_EQ(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].style, c.style);
  }
}

// Unattended: nothing shown, always stop (even with the ask flag, even for codes without
// a message), and the code kept for the exit code.
TEST_F(ReportError, SilentShowsNothingStopsAndKeepsTheCode) {
  install_state.silent = 1;
  for (ResultCode result : {kResultCannotCreate, kResultDamaged, kResultFileLayerFailure}) {
    last_os_error = 5;
    EXPECT_EQ(report_error(nullptr, result, "C:\\a.txt", 1), 1) << result;
    EXPECT_EQ(install_state.silent_failure, result);
  }
  EXPECT_TRUE(fake_ui.boxes.empty());
}

TEST_F(ReportError, NoPathNamesTheInstallerFileAndSuffixIsUsedOnce) {
  last_os_error = 30;
  report_error(nullptr, kResultReadFailed, nullptr, 0);
  report_error(nullptr, kResultReadFailed, nullptr, 0);
  ASSERT_EQ(fake_ui.boxes.size(), 2u);
  EXPECT_EQ(fake_ui.boxes[0].text, "Cannot read setup.exe\nRead fault");
  EXPECT_EQ(fake_ui.boxes[1].text, "Cannot read setup.exe");
}

TEST_F(ReportError, LongestMessageFitsWhole) {
  char path[261];
  std::memset(path, 'p', 260);
  path[260] = '\0';
  last_os_error = kErrorWriteProtect;
  report_error(nullptr, kResultCannotCreateFolder, path, 0);
  ASSERT_EQ(fake_ui.boxes.size(), 1u);
  EXPECT_EQ(fake_ui.boxes[0].text,
            "Cannot create folder " + std::string(path) + "\nDisk is write protected");
}

TEST(OsErrorSuffix, Table) {
  struct Case {
    uint32_t error;
    const char* suffix;
  } cases[] = {
      {0, ""},
      {2, "\nFile not found"},
      {3, "\nPath not found"},
      {5, "\nAccess denied"},
      {15, "\nInvalid drive"},
      {19, "\nDisk is write protected"},
      {21, "\nDevice not ready"},
      {25, "\nTrack not found"},
      {26, "\nNot a DOS disk"},
      {27, "\nSector not found"},
      {29, "\nWrite fault"},
      {30, "\nRead fault"},
      {31, "\nGeneral failure"},
      {39, "\nDisk full"},
      {80, "\nFile exists"},
      {112, "\nDisk full"},
      {161, "\nInvalid path"},
      {49, ""},
      {50, "\nNetwork error"},
      {53, "\nNetwork error"},
      {71, "\nNetwork error"},
      {72, ""},
      {183, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const Case& c : cases) {
    last_os_error = c.error;
    EXPECT_STREQ(os_error_suffix(), c.suffix) << c.error;
  }
  last_os_error = 0;
}

}  // namespace

#include "archive/extract.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/installer_image.h"
#include "codec/archive_reader.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "support/extract_fixture.h"
#include "support/fake_ui.h"
#include "support/temp_root.h"
#include "support/test_archive.h"

namespace {

TEST_F(Extract, WritesFilesAndFoldersWithContentsTimesAndAttributes) {
  std::string big;
  for (int i = 0; i < 20000; ++i) big.push_back(static_cast<char>(i * 31 % 251));
  TestEntry sub{.name = "sub", .folder = true, .attributes = 0x12};  // hidden folder
  TestEntry first{.name = "readme.txt",
                  .contents = "hello, world\n",
                  .creation_date = 0x2849,
                  .creation_time = 0xB026,
                  .write_date = 0x2926,
                  .write_time = 0x98F1};
  TestEntry inner{.name = "sub\\data.bin", .contents = big, .attributes = 0x21};  // read-only
  TestEntry empty{.name = "empty.txt", .contents = "", .attributes = 0x06};       // hidden, system
  TestEntry other{.name = "other.txt", .contents = "second stream", .stream = 1};
  // Small blocks: member headers, names and contents cross block boundaries.
  open({sub, first, inner, empty, other}, {.block_size = 7});

  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_EQ(extraction_interrupted, 0);
  EXPECT_TRUE(fake_ui.boxes.empty()) << fake_ui.boxes[0].text;
  EXPECT_STREQ(install_state.install_folder, "C:\\Inst\\");

  EXPECT_EQ(file("C:\\Inst\\readme.txt"), "hello, world\n");
  EXPECT_EQ(file("C:\\Inst\\sub\\data.bin"), big);
  EXPECT_TRUE(exists("C:\\Inst\\empty.txt"));
  EXPECT_EQ(file("C:\\Inst\\empty.txt"), "");
  EXPECT_EQ(file("C:\\Inst\\other.txt"), "second stream");

  struct stat st;
  ASSERT_EQ(stat(root.posix("C:\\Inst\\readme.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, local_time(2000, 9, 6, 19, 7, 34));
  EXPECT_EQ(fs_get_attributes("C:\\Inst\\sub") & 0x17u, 0x12u);
  EXPECT_EQ(fs_get_attributes("C:\\Inst\\sub\\data.bin"), kAttributeReadOnly);
  EXPECT_EQ(fs_get_attributes("C:\\Inst\\empty.txt"), kAttributeHidden | kAttributeSystem);
  EXPECT_EQ(fs_get_attributes("C:\\Inst\\readme.txt"), kAttributeNormal);

  EXPECT_EQ(fake_ui.progress,
            (std::vector<std::string>{"Extracting readme.txt", "Extracting sub\\data.bin",
                                      "Extracting empty.txt", "Extracting other.txt"}));
  // Once per entry, and once more before each file's contents.
  EXPECT_EQ(fake_ui.drains, 5 + 4);
  EXPECT_EQ(archive_reader.input_buffer, nullptr);
  EXPECT_EQ(archive_reader.history, nullptr);
}

TEST_F(Extract, DirectoryInSeveralBlocksWithSkippedBytes) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 40; ++i) {
    entries.push_back({.name = "f" + std::to_string(i),
                       .contents = std::string(i, 'a' + i % 26),
                       .skipped = std::string(i % 3, 'x')});
  }
  open(entries, {.directory_block_size = 200});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_TRUE(fake_ui.boxes.empty());
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(file("C:\\Inst\\f" + std::to_string(i)), std::string(i, 'a' + i % 26)) << i;
  }
}

TEST_F(Extract, CrcMismatchDeletesTheFileAndAsks) {
  struct Case {
    int answer;
    bool later_file;
  } cases[] = {{kIdOk, true}, {kIdCancel, false}};
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    fake_ui.box_answers.push_back(c.answer);
    open({{.name = "good1", .contents = "one"},
          {.name = "bad", .contents = "two", .attributes = 0x01, .crc_xor = 1},
          {.name = "good2", .contents = "three"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    ASSERT_EQ(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].text, kDamaged);
    EXPECT_EQ(fake_ui.boxes[0].style, 0x31u);
    EXPECT_EQ(file("C:\\Inst\\good1"), "one");
    EXPECT_FALSE(exists("C:\\Inst\\bad"));
    EXPECT_EQ(exists("C:\\Inst\\good2"), c.later_file);
    EXPECT_EQ(extraction_interrupted, c.later_file ? 0 : 1);
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, OverwriteAnswers) {
  struct Case {
    int answer;
    const char* first;  // contents of a.txt afterwards
    size_t prompts;     // b.txt exists too
    bool overwrite_all_after;
  } cases[] = {
      {kAnswerNo, "old a", 2, false},
      {kAnswerYes, "new a", 2, false},
      {kAnswerYesToAll, "new a", 1, true},
      {-1, "new a", 2, false},  // the prompt could not be shown
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    std::filesystem::create_directories(root.posix("C:\\Inst"));
    write_file(root.posix("C:\\Inst\\a.txt"), "old a");
    write_file(root.posix("C:\\Inst\\b.txt"), "old b");
    fake_ui.reset();
    install_state.overwrite_all = 0;
    fake_ui.prompt_answers = {c.answer, kAnswerYes};
    open({{.name = "a.txt", .contents = "new a", .write_date = 0x2926},
          {.name = "b.txt", .contents = "new b"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    EXPECT_EQ(file("C:\\Inst\\a.txt"), c.first) << c.answer;
    EXPECT_EQ(file("C:\\Inst\\b.txt"), "new b") << c.answer;
    ASSERT_EQ(fake_ui.prompts.size(), c.prompts) << c.answer;
    EXPECT_EQ(fake_ui.prompts[0], "C:\\Inst\\a.txt");
    EXPECT_EQ(install_state.overwrite_all != 0, c.overwrite_all_after) << c.answer;
    EXPECT_EQ(extraction_interrupted, 0);
    // No progress line for a file passed over.
    EXPECT_EQ(fake_ui.progress.size(), c.answer == kAnswerNo ? 1u : 2u) << c.answer;
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }

  // With overwrite_all set from the start nobody is asked.
  fake_ui.reset();
  install_state.overwrite_all = 1;
  write_file(root.posix("C:\\Inst\\a.txt"), "old a");
  open({{.name = "a.txt", .contents = "new a"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_TRUE(fake_ui.prompts.empty());
  EXPECT_EQ(file("C:\\Inst\\a.txt"), "new a");
}

TEST_F(Extract, OutputThatCannotBeCreated) {
  struct Case {
    int answer;
    bool later_file;
  } cases[] = {{kIdOk, true}, {kIdCancel, false}};
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    std::filesystem::create_directories(root.posix("C:\\Inst"));
    write_file(root.posix("C:\\Inst\\locked.txt"), "keep");
    ASSERT_EQ(fs_set_attributes("C:\\Inst\\locked.txt", kAttributeReadOnly), 1);
    fake_ui.reset();
    fake_ui.box_answers.push_back(c.answer);
    open({{.name = "locked.txt", .contents = "new"},
          {.name = "nested\\file.txt", .contents = "no folder entry"},
          {.name = "last.txt", .contents = "last"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    ASSERT_GE(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].text, "Cannot create C:\\Inst\\locked.txt\nAccess denied");
    EXPECT_EQ(fake_ui.boxes[0].style, 0x31u);
    EXPECT_EQ(file("C:\\Inst\\locked.txt"), "keep");
    if (c.later_file) {
      ASSERT_EQ(fake_ui.boxes.size(), 2u);
      EXPECT_EQ(fake_ui.boxes[1].text, "Cannot create C:\\Inst\\nested\\file.txt\nPath not found");
      EXPECT_EQ(file("C:\\Inst\\last.txt"), "last");
    } else {
      EXPECT_EQ(fake_ui.boxes.size(), 1u);
      EXPECT_FALSE(exists("C:\\Inst\\last.txt"));
    }
    EXPECT_EQ(extraction_interrupted, c.later_file ? 0 : 1);
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, WriteFailureStopsWithTheDiskFullReason) {
  // Files larger than the process may write: the write fails as a full disk.
  const std::string big(100000, 'b');
  open({{.name = "small", .contents = "s"},
        {.name = "big", .contents = big},
        {.name = "after", .contents = "a"}});
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 50000;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const ResultCode result = extract_all(nullptr);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Cannot write C:\\Inst\\big\nDisk full"});
  EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
  EXPECT_EQ(file("C:\\Inst\\small"), "s");
  EXPECT_FALSE(exists("C:\\Inst\\big"));
  EXPECT_FALSE(exists("C:\\Inst\\after"));
  EXPECT_EQ(extraction_interrupted, 1);
}

TEST_F(Extract, CancelBeforeAndDuringExtraction) {
  const std::vector<TestEntry> entries = {{.name = "one", .contents = "1"},
                                          {.name = "two", .contents = "2", .stream = 1},
                                          {.name = "three", .contents = "3", .stream = 2}};
  struct Case {
    bool before;
    int drain;  // drain_messages call that handles the Cancel press
    std::vector<bool> present;
  } cases[] = {
      {true, 0, {false, false, false}},
      // Handled just before the first file's decoding: it stops at once and is deleted.
      {false, 1, {false, false, false}},
      // Handled after the first file: it is complete, nothing more is written.
      {false, 2, {true, false, false}},
      {false, 3, {true, false, false}},
      {false, 4, {true, true, false}},
      // Handled before the last file's decoding: every entry was visited, yet it stopped.
      {false, 5, {true, true, false}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    install_state.cancel_requested = c.before ? 1 : 0;
    fake_ui.cancel_at_drain = c.drain;
    open(entries);
    EXPECT_EQ(extract_all(nullptr), 0) << c.drain;
    EXPECT_TRUE(fake_ui.boxes.empty()) << c.drain;
    EXPECT_EQ(exists("C:\\Inst\\one"), c.present[0]) << c.drain;
    EXPECT_EQ(exists("C:\\Inst\\two"), c.present[1]) << c.drain;
    EXPECT_EQ(exists("C:\\Inst\\three"), c.present[2]) << c.drain;
    EXPECT_EQ(extraction_interrupted, 1) << c.drain;
    EXPECT_STREQ(install_state.install_folder, "C:\\Inst\\");
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
  install_state.cancel_requested = 0;
}

TEST_F(Extract, NamesLeadingOutOfTheFolderAreRefused) {
  const char* unsafe[] = {"..\\evil.txt",  "a\\..\\..\\evil.txt",
                          "../evil.txt",   "a/../../evil.txt",
                          "\\evil.txt",    "/evil.txt",
                          "C:evil.txt",    "x:\\evil.txt",
                          "a:b",           "..",
                          "sub\\..",       ".. \\evil.txt",
                          "...\\evil.txt", "sub\\. .\\evil.txt"};
  for (const char* name : unsafe) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    folder("C:\\Inst\\deep");
    open({{.name = name, .contents = "evil"}, {.name = "ok..txt", .contents = "fine"}});
    EXPECT_EQ(extract_all(nullptr), 0) << name;
    ASSERT_EQ(fake_ui.boxes.size(), 1u) << name;
    EXPECT_EQ(fake_ui.boxes[0].text, kDamaged) << name;
    EXPECT_EQ(fake_ui.boxes[0].style, 0x31u) << name;
    EXPECT_EQ(file("C:\\Inst\\deep\\ok..txt"), "fine") << name;
    EXPECT_FALSE(exists("C:\\Inst\\evil.txt")) << name;
    EXPECT_FALSE(exists("C:\\evil.txt")) << name;
    EXPECT_FALSE(exists("C:\\Inst\\deep\\evil.txt")) << name;
    EXPECT_EQ(extraction_interrupted, 0) << name;
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
  // Cancel at that message stops the extraction.
  fake_ui.reset();
  fake_ui.box_answers.push_back(kIdCancel);
  open({{.name = "..\\evil.txt", .contents = "evil"}, {.name = "after.txt", .contents = "x"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_FALSE(exists("C:\\Inst\\deep\\after.txt"));
  EXPECT_EQ(extraction_interrupted, 1);
}

// On Windows these open a device, not a file: refused like "..", nothing written for them.
TEST_F(Extract, DeviceNamesAreRefusedAndLookAlikesExtracted) {
  const char* devices[] = {"aux.txt",     "CON",      "nul",          "Com1.log", "lpt9",
                           "prn.tar.gz",  "con .txt", "AUX.",         "sub\\aux", "sub\\nul\\x",
                           "COM5\\a.txt", "Lpt1 ",    "Aux notes.txt"};
  for (const char* name : devices) {
    SCOPED_TRACE(name);
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    std::filesystem::create_directories(root.posix("C:\\Inst\\deep\\sub"));
    fake_ui.reset();
    folder("C:\\Inst\\deep");
    open({{.name = name, .contents = "device"}, {.name = "ok.txt", .contents = "fine"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    ASSERT_EQ(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].text, kDamaged);
    EXPECT_EQ(file("C:\\Inst\\deep\\ok.txt"), "fine");
    // Only ok.txt and the folder made before: nothing of the device's name.
    size_t count = 0;
    for (const auto& e :
         std::filesystem::recursive_directory_iterator(root.posix("C:\\Inst\\deep"))) {
      (void)e;
      ++count;
    }
    EXPECT_EQ(count, 2u);
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
  const char* look_alikes[] = {"com0.txt", "COM10", "console.txt", "auxiliary", "lpt.txt",
                               "x.con",    "nul_",  "com1x",       "a.aux\\b",  "c on"};
  for (const char* name : look_alikes) {
    SCOPED_TRACE(name);
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    folder("C:\\Inst\\deep");
    if (std::string(name).find('\\') != std::string::npos)
      std::filesystem::create_directories(root.posix("C:\\Inst\\deep\\a.aux"));
    open({{.name = name, .contents = "file"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    EXPECT_TRUE(fake_ui.boxes.empty());
    EXPECT_EQ(file(std::string("C:\\Inst\\deep\\") + name), "file");
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, NamesWithANulOrControlByteAreRefused) {
  // The path ends at the first NUL: a folder entry "..", NUL, "x" would set its
  // attributes on the install folder's parent, and "evil.txt", NUL, "x" write evil.txt.
  struct Case {
    const char* what;
    std::string name;
    bool folder;
  };
  const Case cases[] = {
      {"folder .. then a NUL", std::string("..\0x", 4), true},
      {"folder sub\\.. then a NUL", std::string("sub\\..\0", 7), true},
      {"file then a NUL", std::string("evil.txt\0x", 10), false},
      {"escape sequence", "evil\x1b[2J.txt", false},
      {"line feed", "evil\n.txt", false},
      {"byte 0x1F", "evil\x1f.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    std::filesystem::create_directories(root.posix("C:\\Inst\\deep\\sub"));
    fake_ui.reset();
    folder("C:\\Inst\\deep");
    open({{.name = c.name, .contents = "evil", .folder = c.folder, .attributes = 0x07},
          {.name = "ok.txt", .contents = "fine"}});
    EXPECT_EQ(extract_all(nullptr), 0);
    ASSERT_EQ(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].text, kDamaged);
    EXPECT_EQ(file("C:\\Inst\\deep\\ok.txt"), "fine");
    EXPECT_FALSE(exists("C:\\Inst\\deep\\evil.txt"));
    EXPECT_EQ(fs_get_attributes("C:\\Inst"), kAttributeDirectory);
    EXPECT_EQ(fs_get_attributes("C:\\Inst\\deep"), kAttributeDirectory);
    EXPECT_EQ(fs_get_attributes("C:\\Inst\\deep\\sub"), kAttributeDirectory);
    EXPECT_TRUE(fake_ui.progress == std::vector<std::string>{"Extracting ok.txt"});
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, InstallFolderForms) {
  struct Case {
    const char* folder;
    const char* after;       // install_folder after the run
    const char* file_posix;  // where a.txt lands, below the root
  } cases[] = {
      {"C:\\Inst\\\\\\", "C:\\Inst\\", "/drive_c/Inst/a.txt"},
      {"C:", "C:", "/drive_c/a.txt"},
      {"C:\\\\\\", "C:\\", "/drive_c/a.txt"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.root() + "/drive_c");
    std::filesystem::create_directories(root.root() + "/drive_c");
    fake_ui.reset();
    folder(c.folder);
    open({{.name = "a.txt", .contents = "A"}});
    EXPECT_EQ(extract_all(nullptr), 0) << c.folder;
    EXPECT_STREQ(install_state.install_folder, c.after) << c.folder;
    EXPECT_EQ(read_file(root.root() + c.file_posix), "A") << c.folder;
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }

  // An empty folder text: names are relative to the current folder.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::create_directories(root.root() + "/here");
  std::filesystem::current_path(root.root() + "/here");
  fake_ui.reset();
  folder("");
  open({{.name = "a.txt", .contents = "A"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  std::filesystem::current_path(saved);
  EXPECT_STREQ(install_state.install_folder, "");
  EXPECT_EQ(read_file(root.root() + "/here/a.txt"), "A");
}

TEST_F(Extract, NameRoomAndFolderLength) {
  // Folder of 199 characters and its backslash: a name of 59 characters makes 259.
  const std::string base = "C:\\" + std::string(196, 'f');
  ASSERT_EQ(base.size(), 199u);
  folder(base);
  const std::string fits(59, 'n');
  const std::string too_long(60, 'm');
  open({{.name = too_long, .contents = "x"}, {.name = fits, .contents = "y"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_EQ(file(base + "\\" + fits), "y");
  EXPECT_EQ(fake_ui.progress, std::vector<std::string>{"Extracting " + fits});
  EXPECT_EQ(extraction_interrupted, 0);
}

TEST_F(Extract, FolderTooLongForAnyName) {
  struct Case {
    size_t length;
    bool works;
  } cases[] = {{257, true}, {258, false}, {260, false}};
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.root() + "/drive_c/x");
    fake_ui.reset();
    const std::string text = "C:\\x\\" + std::string(c.length - 5, 'f');
    folder(text);
    open({{.name = "a", .contents = "A"}});
    EXPECT_EQ(extract_all(nullptr), 0) << c.length;
    if (c.works) {
      EXPECT_TRUE(fake_ui.boxes.empty()) << c.length;
      EXPECT_EQ(file(text + "\\a"), "A");
      EXPECT_EQ(extraction_interrupted, 0);
    } else {
      ASSERT_EQ(fake_ui.boxes.size(), 1u) << c.length;
      EXPECT_EQ(fake_ui.boxes[0].text, "Cannot create folder " + text + "\nInvalid path");
      EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
      EXPECT_FALSE(exists("C:\\x"));
      EXPECT_EQ(extraction_interrupted, 1);
    }
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, FoldersThatCannotBeCreated) {
  write_file(root.posix("C:\\blocker"), "a file");
  folder("C:\\blocker\\Inst");
  open({{.name = "a", .contents = "A"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  // The walk up ends at C:\blocker, which exists (183, a reason without a text).
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Cannot create folder C:\\blocker\\Inst"});
  EXPECT_EQ(extraction_interrupted, 1);
  EXPECT_STREQ(install_state.install_folder, "C:\\blocker\\Inst");
  fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;

  // A folder entry in the way of a file: the extraction ends there.
  fake_ui.reset();
  folder("C:\\Inst");
  std::filesystem::create_directories(root.posix("C:\\Inst"));
  write_file(root.posix("C:\\Inst\\taken"), "a file");
  open({{.name = "taken\\sub", .folder = true}, {.name = "after", .contents = "x"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  ASSERT_EQ(fake_ui.boxes.size(), 1u);
  EXPECT_EQ(fake_ui.boxes[0].text, "Cannot create folder C:\\Inst\\taken\\sub");
  EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
  EXPECT_FALSE(exists("C:\\Inst\\after"));
  EXPECT_EQ(extraction_interrupted, 1);
}

// What a second user can plant in an install folder they can write: a link to a folder
// outside, a link to a file outside, a link to nothing (a file outside yet to be made)
// and a hard link to a file outside. Nothing outside may change, whatever the answers.
class PlantedLinks : public Extract {
 protected:
  void plant() {
    namespace fs = std::filesystem;
    fs::remove_all(root.posix("C:\\Inst"));
    fs::remove_all(root.posix("C:\\Outside"));
    fs::create_directories(root.posix("C:\\Inst"));
    fs::create_directories(root.posix("C:\\Outside\\dir"));
    write_file(root.posix("C:\\Outside\\victim.txt"), "victim");
    write_file(root.posix("C:\\Outside\\hard.txt"), "hard");
    fs::create_directory_symlink(root.posix("C:\\Outside\\dir"), root.posix("C:\\Inst\\sub"));
    fs::create_symlink(root.posix("C:\\Outside\\victim.txt"), root.posix("C:\\Inst\\a.txt"));
    fs::create_symlink(root.posix("C:\\Outside\\new.txt"), root.posix("C:\\Inst\\c.txt"));
    fs::create_hard_link(root.posix("C:\\Outside\\hard.txt"), root.posix("C:\\Inst\\h.txt"));
  }
  void expect_outside_unchanged() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root.posix("C:\\Outside")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dir", "hard.txt", "victim.txt"}));
    EXPECT_EQ(file("C:\\Outside\\victim.txt"), "victim");
    EXPECT_EQ(file("C:\\Outside\\hard.txt"), "hard");
    struct stat st;
    ASSERT_EQ(stat(root.posix("C:\\Outside\\victim.txt").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);  // no attribute set on it either
  }
  bool is_link(const std::string& windows_path) {
    return std::filesystem::is_symlink(root.posix(windows_path));
  }
};

TEST_F(PlantedLinks, LinksAreRefusedAndAHardLinkIsReplacedNeverWrittenThrough) {
  const std::vector<TestEntry> entries = {
      {.name = "sub\\b.txt", .contents = "through a folder link"},
      {.name = "a.txt", .contents = "new a", .attributes = kAttributeReadOnly},
      {.name = "c.txt", .contents = "new c", .write_date = 0x2926},
      {.name = "h.txt", .contents = "new h", .attributes = kAttributeReadOnly},
      {.name = "last.txt", .contents = "last"}};
  struct Case {
    int answer;  // at each prompt; -2: overwrite_all from the start, nobody asked
    size_t prompts;
  } cases[] = {{kAnswerNo, 1}, {kAnswerYes, 1}, {-2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    plant();
    fake_ui.reset();
    install_state.overwrite_all = c.answer == -2 ? 1 : 0;
    fake_ui.prompt_answers = {c.answer};
    open(entries);
    EXPECT_EQ(extract_all(nullptr), 0);
    // Every link, the one to nothing too, is refused as the installer refuses any file
    // it cannot create, before anybody is asked; OK goes on with the next file.
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{"Cannot create C:\\Inst\\sub\\b.txt\nAccess denied",
                                        "Cannot create C:\\Inst\\a.txt\nAccess denied",
                                        "Cannot create C:\\Inst\\c.txt\nAccess denied"}));
    EXPECT_EQ(fake_ui.prompts, std::vector<std::string>(c.prompts, "C:\\Inst\\h.txt"));
    expect_outside_unchanged();
    EXPECT_TRUE(is_link("C:\\Inst\\a.txt"));
    EXPECT_TRUE(is_link("C:\\Inst\\c.txt"));
    EXPECT_EQ(file("C:\\Inst\\last.txt"), "last");
    // The hard link is a file like any other: kept, or replaced by a new file.
    EXPECT_EQ(file("C:\\Inst\\h.txt"), c.answer == kAnswerNo ? "hard" : "new h");
    if (c.answer != kAnswerNo) {
      EXPECT_EQ(fs_get_attributes("C:\\Inst\\h.txt"), kAttributeReadOnly);
    }
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(PlantedLinks, FolderEntryThatIsALinkStopsTheExtraction) {
  plant();
  open({{.name = "sub", .folder = true, .attributes = kAttributeReadOnly | kAttributeHidden},
        {.name = "sub\\b.txt", .contents = "b"},
        {.name = "sub\\deeper", .folder = true}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_EQ(box_texts(),
            std::vector<std::string>{"Cannot create folder C:\\Inst\\sub\nAccess denied"});
  EXPECT_EQ(extraction_interrupted, 1);
  expect_outside_unchanged();
  EXPECT_EQ(fs_get_attributes("C:\\Outside\\dir"), kAttributeDirectory);
}

TEST_F(PlantedLinks, TheInstallFolderItselfMayBeALink) {
  plant();
  std::filesystem::create_directory_symlink(root.posix("C:\\Inst"), root.posix("C:\\Chosen"));
  folder("C:\\Chosen");
  open({{.name = "d", .folder = true}, {.name = "d\\e.txt", .contents = "e"}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_EQ(file("C:\\Inst\\d\\e.txt"), "e");
  expect_outside_unchanged();
}

TEST_F(Extract, ExistingFolderEntryGetsItsAttributes) {
  std::filesystem::create_directories(root.posix("C:\\Inst\\sub"));
  open({{.name = "sub", .folder = true, .attributes = 0x11}});
  EXPECT_EQ(extract_all(nullptr), 0);
  EXPECT_TRUE(fake_ui.boxes.empty());
  EXPECT_EQ(fs_get_attributes("C:\\Inst\\sub"), kAttributeDirectory | kAttributeReadOnly);
}

TEST_F(Extract, StreamEndingBeforeTheFileIsDamageEvenWhenTheCrcMatches) {
  // The last entry claims one byte more than its stream holds: its contents and the
  // member's 4-byte CRC trailer. Its recorded CRC is that of those bytes, so only the
  // shortage tells; nothing of it may stay.
  for (const std::string& held : {std::string(), std::string("xyz")}) {
    std::filesystem::remove_all(root.posix("C:\\Inst"));
    fake_ui.reset();
    fake_ui.box_answers.push_back(kIdOk);
    const uint32_t trailer = test_crc32(held);
    std::string out = held;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(trailer >> (8 * i)));
    open({{.name = "good", .contents = "one"},
          {.name = "short",
           .contents = held,
           .crc_xor = test_crc32(held) ^ test_crc32(out),
           .size = static_cast<uint32_t>(out.size() + 1)}});
    EXPECT_EQ(extract_all(nullptr), 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{kDamaged});
    EXPECT_EQ(file("C:\\Inst\\good"), "one");
    EXPECT_FALSE(exists("C:\\Inst\\short"));
    fs_close(archive_reader.archive_file);
    archive_reader.archive_file = kNoFile;
  }
}

TEST_F(Extract, DamagedDirectoryAndShortFile) {
  // More entries announced than the directory holds.
  open({{.name = "a", .contents = "A"}}, {.entry_count = 2});
  EXPECT_EQ(extract_all(nullptr), kResultDamaged);
  EXPECT_EQ(file("C:\\Inst\\a"), "A");
  EXPECT_STREQ(install_state.install_folder, "C:\\Inst\\");
  EXPECT_TRUE(fake_ui.boxes.empty());  // the main dialog reports it
  fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;

  // A name running past the decoded bytes.
  open({{.name = "b", .contents = "B", .name_length = 500}});
  EXPECT_EQ(extract_all(nullptr), kResultDamaged);
  EXPECT_FALSE(exists("C:\\Inst\\b"));
  fs_close(archive_reader.archive_file);
  archive_reader.archive_file = kNoFile;

  // Fewer than 42 bytes behind the stub.
  open_bytes(std::string(41, 'x'));
  archive_header.entry_count = 1;
  EXPECT_EQ(extract_all(nullptr), kResultDamaged);
  EXPECT_EQ(archive_reader.input_buffer, nullptr);
}

}  // namespace

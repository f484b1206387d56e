// The POSIX installer run end to end: an installer built by zpx from a small tree, run
// with a scripted terminal in a scratch HOME and ZARPEX_ROOT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

constexpr char kModified[] =
    "This installer has been modified. An error may have occurred during downloading, or "
    "your computer may have a virus.";
constexpr char kQuestion[] = "already exists. Overwrite?";

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// 2001-02-03 04:05:06 local time: an even second, as DOS times keep them.
time_t fixed_time() {
  struct tm tm {};
  tm.tm_year = 101;
  tm.tm_mon = 1;
  tm.tm_mday = 3;
  tm.tm_hour = 4;
  tm.tm_min = 5;
  tm.tm_sec = 6;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

void set_mtime(const std::string& path, time_t when) {
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The bytes of a REG_SZ value in a registry store of the POSIX build (lines of key, name,
// type, byte count and hex bytes, separated by tabs); "" when it is missing or its byte
// count does not match its bytes.
std::string registry_value(const std::string& store, const std::string& key,
                           const std::string& name) {
  std::istringstream lines(read_file(store));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    if (line.back() == '\t') fields.push_back("");
    if (fields.size() != 5 || fields[0] != key || fields[1] != name || fields[2] != "1") continue;
    std::string bytes;
    for (size_t i = 0; i + 1 < fields[4].size(); i += 2) {
      bytes += static_cast<char>(std::stoi(fields[4].substr(i, 2), nullptr, 16));
    }
    return std::to_string(bytes.size()) == fields[3] ? bytes : std::string();
  }
  return std::string();
}

// The installed program of the tests: leaves its folder, arguments and the command line it
// was started with (as the launch passes it on) in a marker.
constexpr char kProgram[] =
    "#!/bin/sh\n"
    "here=$(cd \"$(dirname \"$0\")\" && pwd)\n"
    "echo \"ran in $here args:$* command line:$ZARPEX_COMMAND_LINE\" > \"$here/launched.txt\"\n";

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.path() + "/payload";
    write_file(tree_ + "/Zarpex32.exe", kProgram);
    chmod((tree_ + "/Zarpex32.exe").c_str(), 0755);
    write_file(tree_ + "/a.txt", "alpha\n");
    write_file(tree_ + "/sub/b.txt", std::string(5000, 'b') + "end\n");
    write_file(tree_ + "/sub/deep/c.bin", noise(70000, 3));
    write_file(tree_ + "/z.txt", "last\n");
    set_mtime(tree_ + "/a.txt", fixed_time());
  }

  // Builds the installer from the payload; stops the test when zpx cannot.
  std::string build() {
    const std::string out = scratch_.path() + "/setup";
    const RunResult built = build_installer(tree_, out);
    EXPECT_EQ(built.exit_code, 0) << built.err;
    return out;
  }

  std::string target(const std::string& rest = "") const {
    return scratch_.drive_c("Apps/Demo" + (rest.empty() ? "" : "/" + rest));
  }

  Scratch scratch_;
  std::string tree_;
};

TEST_F(InstallerTest, InstallsEveryFileWithItsContentsAndTimes) {
  const std::string setup = build();
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("=== Zarpex Installation ===\nClick the Install button to install "
                         "Zarpex 1.2 to the folder below.\nIf the folder does not exist, it "
                         "will be created.\nInstall to Folder: C:\\Zarpex\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("[ ] Overwrite Existing Files Without Prompting"), std::string::npos);
  EXPECT_NE(run.out.find("Extracting sub\\deep\\c.bin"), std::string::npos) << run.out;

  for (const char* name : {"Zarpex32.exe", "a.txt", "sub/b.txt", "sub/deep/c.bin", "z.txt"}) {
    EXPECT_TRUE(read_file(target(name)) == read_file(tree_ + "/" + name)) << name;
  }
  EXPECT_EQ(mtime_of(target("a.txt")), static_cast<int64_t>(fixed_time()));
  EXPECT_FALSE(xattr_of(target("a.txt"), "user.zarpex.creation").empty());
}

TEST_F(InstallerTest, AttributesAndCreationTimeArrive) {
  struct Case {
    const char* name;
    bool read_only;
    const char* dos_bits;  // user.zarpex.attributes of the source, "" for none
  };
  const Case cases[] = {
      {"plain.txt", false, ""},
      {"ro.txt", true, ""},
      {"hidden.txt", false, "2"},
      {"system_ro.txt", true, "6"},
  };
  const std::string created = std::to_string(fixed_time() - 3600);
  for (const Case& c : cases) {
    const std::string path = tree_ + "/attr/" + c.name;
    write_file(path, c.name);
    if (c.dos_bits[0] != '\0') {
      ASSERT_EQ(
          setxattr(path.c_str(), "user.zarpex.attributes", c.dos_bits, std::strlen(c.dos_bits), 0),
          0);
    }
    ASSERT_EQ(setxattr(path.c_str(), "user.zarpex.creation", created.data(), created.size(), 0), 0);
    if (c.read_only) chmod(path.c_str(), 0444);
  }
  const std::string setup = build();
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string installed = target(std::string("attr/") + c.name);
    EXPECT_EQ(read_file(installed), c.name);
    EXPECT_EQ(owner_can_write(installed), !c.read_only);
    EXPECT_EQ(xattr_of(installed, "user.zarpex.attributes"), c.dos_bits);
    EXPECT_EQ(xattr_of(installed, "user.zarpex.creation"), created);
  }
}

TEST_F(InstallerTest, FreshRootInstallsIntoTheDefaultFolder) {
  const std::string setup = build();
  std::filesystem::remove_all(scratch_.root());
  const RunResult run = run_setup(scratch_, setup, "install\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("Install to Folder: C:\\Zarpex\n"), std::string::npos) << run.out;
  EXPECT_EQ(read_file(scratch_.drive_c("Zarpex/a.txt")), "alpha\n") << run.out;
}

TEST_F(InstallerTest, TypedPosixFolderIsInstalledInto) {
  const std::string setup = build();
  const std::string folder = scratch_.path() + "/posix target";
  const RunResult run = run_setup(scratch_, setup, "folder " + folder + "\ninstall\n");
  EXPECT_EQ(run.exit_code, 0);
  std::string windows = "Z:" + folder;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  EXPECT_NE(run.out.find("Install to Folder: " + windows + "\n"), std::string::npos) << run.out;
  EXPECT_EQ(read_file(folder + "/sub/b.txt"), read_file(tree_ + "/sub/b.txt"));
}

TEST_F(InstallerTest, InstallFolderThatCannotBeMadeIsReportedAndNotRegistered) {
  const std::string setup = build();
  write_file(scratch_.drive_c("file"), "in the way\n");
  const RunResult run = run_setup(scratch_, setup, "folder C:\\file\\sub\ninstall\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("*** Zarpex Installation ***\nCannot create folder C:\\file\\sub\n"
                         "*** [OK]\n"),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
}

TEST_F(InstallerTest, RegistersTheInstallationAndProposesItsFolderNextTime) {
  const std::string setup = build();
  const RunResult first = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  ASSERT_EQ(first.exit_code, 0);

  const std::string machine = scratch_.root() + "/registry/machine/store";
  const std::string user = scratch_.root() + "/registry/user/store";
  const std::string program = "C:\\Apps\\Demo\\Zarpex32.exe";
  EXPECT_EQ(
      registry_value(machine,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zarpex32.exe", ""),
      program + '\0');
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarpex";
  EXPECT_EQ(registry_value(machine, uninstall, "DisplayName"), std::string("Zarpex") + '\0');
  EXPECT_EQ(registry_value(machine, uninstall, "UninstallString"),
            "\"" + program + "\" /uninstall" + '\0');
  EXPECT_EQ(registry_value(user, "Software\\Kolvane\\Zarpex", "Setup"), std::string("1") + '\0');

  const RunResult second = run_setup(scratch_, setup, "cancel\n");
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_NE(second.out.find("Install to Folder: C:\\Apps\\Demo\n"), std::string::npos)
      << second.out;
}

TEST_F(InstallerTest, StartsTheInstalledProgramByItsQuotedPath) {
  const std::string setup = build();
  ASSERT_EQ(run_setup(scratch_, setup, "folder C:\\My Apps\\Demo\ninstall\n").exit_code, 0);
  // The program runs detached; give it a moment to leave its marker.
  const std::string marker = scratch_.drive_c("My Apps/Demo/launched.txt");
  for (int i = 0; i < 100 && !exists(marker); ++i) usleep(20000);
  usleep(50000);
  EXPECT_EQ(read_file(marker), "ran in " + scratch_.drive_c("My Apps/Demo") +
                                   " args: command line:\"C:\\My Apps\\Demo\\Zarpex32.exe\"\n");
}

TEST_F(InstallerTest, CancelOrEndOfInputBeforeInstallLeavesNothingBehind) {
  const std::string setup = build();
  for (const char* script : {"cancel\n", "", "folder C:\\Apps\\Demo\n"}) {
    SCOPED_TRACE(script);
    const RunResult run = run_setup(scratch_, setup, script);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_FALSE(exists(target()));
    EXPECT_FALSE(exists(scratch_.drive_c("Zarpex")));
    EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
  }
}

TEST_F(InstallerTest, CtrlCInTheDialogCancels) {
  const std::string setup = build();
  RunOptions options;
  options.close_input = false;
  options.interrupt_on = "Commands:";
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\n", options);
  ASSERT_TRUE(run.interrupted);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_FALSE(exists(target()));
  EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
}

// Text that takes the decoder a while: tens of megabytes, few matches of full length.
std::string slow_text(size_t lines) {
  std::string out;
  for (size_t i = 0; i < lines; ++i) out += std::to_string(i * 7919 % 1000003) + " zarpex\n";
  return out;
}

TEST_F(InstallerTest, CtrlCDuringExtractionNeverLeavesAPartialFile) {
  write_file(tree_ + "/m_big.txt", slow_text(4000000));
  const std::string setup = build();
  // z.txt exists, so reaching it would ask and wait: the run cannot finish on its own.
  write_file(target("z.txt"), "old z\n");
  RunOptions options;
  options.close_input = false;  // a person at the terminal: no end of input
  options.interrupt_on = "Extracting m_big.txt";
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n", options);
  ASSERT_TRUE(run.interrupted) << run.out;
  EXPECT_FALSE(run.timed_out) << run.out;
  EXPECT_EQ(run.exit_code, 0) << run.out;
  // The file being decoded is either finished whole or removed; nothing after it is
  // replaced, and the installation is not registered.
  if (exists(target("m_big.txt"))) {
    EXPECT_TRUE(read_file(target("m_big.txt")) == read_file(tree_ + "/m_big.txt"));
  }
  EXPECT_EQ(read_file(target("z.txt")), "old z\n");
  EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
}

struct OverwriteCase {
  const char* name;
  const char* answers;     // after "install"
  bool overwrite_checked;  // the check box
  size_t prompts;          // questions asked
  bool a_replaced, b_replaced;
  bool later_files_written;  // z.txt, after both existing files
};

class OverwriteTest : public InstallerTest, public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteTest, AnswersDecideWhichFilesAreReplaced) {
  const OverwriteCase& c = GetParam();
  const std::string setup = build();
  write_file(target("a.txt"), "old a\n");
  write_file(target("sub/b.txt"), "old b\n");
  set_mtime(target("sub/b.txt"), fixed_time() - 86400);
  std::string script = "folder C:\\Apps\\Demo\n";
  if (c.overwrite_checked) script += "overwrite on\n";
  script += "install\n";
  script += c.answers;
  const RunResult run = run_setup(scratch_, setup, script);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(count_of(run.out, kQuestion), c.prompts) << run.out;
  EXPECT_EQ(read_file(target("a.txt")), c.a_replaced ? "alpha\n" : "old a\n");
  EXPECT_EQ(read_file(target("sub/b.txt")) == "old b\n", !c.b_replaced);
  if (!c.b_replaced) {
    EXPECT_EQ(mtime_of(target("sub/b.txt")), fixed_time() - 86400);
  }
  EXPECT_EQ(exists(target("z.txt")), c.later_files_written);
}

// The payload's order puts a.txt before sub\b.txt before z.txt.
INSTANTIATE_TEST_SUITE_P(
    Answers, OverwriteTest,
    ::testing::Values(OverwriteCase{"YesYes", "yes\nyes\n", false, 2, true, true, true},
                      OverwriteCase{"NoNo", "no\nn\n", false, 2, false, false, true},
                      OverwriteCase{"YesToAll", "all\n", false, 1, true, true, true},
                      OverwriteCase{"NoThenAll", "no\nall\n", false, 2, false, true, true},
                      OverwriteCase{"CheckBox", "", true, 0, true, true, true},
                      OverwriteCase{"EndOfInputKeepsAndCancels", "", false, 1, false, false, false},
                      OverwriteCase{"UnknownAnswerAsksAgain", "maybe\nyes\nno\n", false, 2, true,
                                    false, true}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(InstallerTest, ReadOnlyExistingFileAnsweredYesCannotBeCreated) {
  const std::string setup = build();
  write_file(target("a.txt"), "old a\n");
  chmod(target("a.txt").c_str(), 0444);
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\nyes\nok\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("*** Zarpex Installation ***\nCannot create C:\\Apps\\Demo\\a.txt\n"
                         "Access denied\n*** [OK] [Cancel]"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(read_file(target("a.txt")), "old a\n");
  EXPECT_TRUE(exists(target("z.txt")));  // OK went on with the next file
}

TEST_F(InstallerTest, DamagedFileIsDeletedAndTheAnswerDecidesWhetherToGoOn) {
  // A block of incompressible bytes is stored as it is, so a changed byte there reaches
  // the CRC and nothing else.
  const std::string contents = noise(2200000, 5);
  write_file(tree_ + "/sub/n.bin", contents);
  const std::string setup = build();
  const size_t at = find_in_file(setup, contents.substr(1500000, 64));
  ASSERT_NE(at, std::string::npos) << "the noise was not stored";
  patch_file(setup, at, std::string(1, static_cast<char>(contents[1500000] ^ 0x55)));

  struct Case {
    const char* answer;
    bool later_written;
  };
  // End of input at the box answers Cancel.
  for (const Case& c : {Case{"ok\n", true}, Case{"cancel\n", false}, Case{"", false}}) {
    SCOPED_TRACE(c.answer);
    Scratch scratch;
    const RunResult run =
        run_setup(scratch, setup, std::string("folder C:\\Apps\\Demo\ninstall\n") + c.answer);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find(std::string("*** Zarpex Installation ***\n") + kDamagedText +
                           "\n*** [OK] [Cancel]"),
              std::string::npos)
        << run.out;
    const std::string folder = scratch.drive_c("Apps/Demo");
    EXPECT_FALSE(exists(folder + "/sub/n.bin"));
    EXPECT_EQ(read_file(folder + "/a.txt"), "alpha\n");  // extracted before the damage
    EXPECT_EQ(exists(folder + "/z.txt"), c.later_written);
  }
}

TEST_F(InstallerTest, BrowseAppendsTheProductFolderToTheChosenOne) {
  const std::string setup = build();
  struct Case {
    const char* command;
    const char* shown;
  };
  const Case cases[] = {
      {"browse D:\\Apps", "Install to Folder: D:\\Apps\\Zarpex\n"},
      {"browse D:\\Apps\\\\", "Install to Folder: D:\\Apps\\Zarpex\n"},
      {"browse D:\\Apps\\zarpex", "Install to Folder: D:\\Apps\\zarpex\n"},
      {"browse D:\\", "Install to Folder: D:\\Zarpex\n"},
      {"browse plain", "Install to Folder: plain\n"},
      {"browse /opt/tools", "Install to Folder: Z:\\opt\\tools\\Zarpex\n"},
      {"browse\nD:\\Typed", "Install to Folder: D:\\Typed\\Zarpex\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult run = run_setup(scratch_, setup, std::string(c.command) + "\ncancel\n");
    EXPECT_NE(run.out.find(c.shown), std::string::npos) << run.out;
  }
  // A cancelled chooser (an empty line) keeps what was typed.
  const RunResult kept = run_setup(scratch_, setup, "folder C:\\Mine\nbrowse\n\ncancel\n");
  EXPECT_EQ(count_of(kept.out, "Install to Folder: "), 2u) << kept.out;
  EXPECT_EQ(count_of(kept.out, "Install to Folder: C:\\Mine\n"), 1u) << kept.out;
}

TEST_F(InstallerTest, ChangedStubShowsOnlyTheWarning) {
  const std::string setup = build();
  const size_t at = find_in_file(setup, "Click the Install button");
  ASSERT_NE(at, std::string::npos);
  patch_file(setup, at, "K");
  const RunResult run = run_setup(scratch_, setup, "install\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(count_of(run.out, kModified), 1u) << run.out;
  EXPECT_EQ(count_of(run.out, "***\n"), 1u) << run.out;  // one box
  EXPECT_EQ(run.out.find("Install to Folder"), std::string::npos);
  EXPECT_FALSE(exists(scratch_.drive_c("Zarpex")));
}

TEST_F(InstallerTest, EmptyArchiveSaysSoAndOpensNoDialog) {
  const std::string setup = build();
  const uint32_t base = archive_offset(setup);
  ASSERT_NE(base, 0u);
  patch_file(setup, base + 8, std::string(4, '\0'));  // entry count
  const RunResult run = run_setup(scratch_, setup, "install\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("*** Zarpex Installation ***\nArchive contains no files\n*** [OK]\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Install to Folder"), std::string::npos);
  EXPECT_FALSE(exists(scratch_.drive_c("Zarpex")));
}

TEST_F(InstallerTest, TruncatedInstallerCannotReadItsHeader) {
  const std::string setup = build();
  const uint32_t base = archive_offset(setup);
  ASSERT_NE(base, 0u);
  ASSERT_EQ(truncate(setup.c_str(), base + 20), 0);
  const RunResult run = run_setup(scratch_, setup, "install\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("*** Zarpex Installation ***\nCannot read setup\n*** [OK]\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Install to Folder"), std::string::npos);
}

TEST_F(InstallerTest, TruncatedDataReportsDamageAndRegistersNothing) {
  write_file(tree_ + "/m_big.bin", noise(300000, 4));
  const std::string setup = build();
  const uint32_t base = archive_offset(setup);
  ASSERT_NE(base, 0u);
  // Cut the archive in the middle of its data: the directory is gone as well.
  ASSERT_EQ(truncate(setup.c_str(), base + 100000), 0);
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\nok\nok\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find(kDamagedText), std::string::npos) << run.out;
  EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
  EXPECT_FALSE(exists(target("launched.txt")));
}

// Unattended installation: /S or --silent, the folder from /D= (the rest of the line) or
// --dir. Nothing is printed, nothing read, existing files (read-only ones too) are
// replaced, the installation is registered and nothing is started.
TEST_F(InstallerTest, SilentInstallationInstallsEverythingQuietly) {
  const std::string setup = build();
  struct Case {
    std::vector<std::string> args;
    std::string folder;  // under drive C:
  } cases[] = {
      {{"/S", "/D=C:\\Program", "Files\\Silent Target"}, "Program Files/Silent Target"},
      {{"--dir", "C:\\Other Target", "--silent"}, "Other Target"},
      {{"/s", "/D=" + scratch_.drive_c("Posix Target")}, "Posix Target"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const std::string folder = scratch_.drive_c(c.folder);
    write_file(folder + "/a.txt", "old a\n");
    chmod((folder + "/a.txt").c_str(), 0444);
    RunOptions options;
    options.args = c.args;
    const RunResult run = run_setup(scratch_, setup, "cancel\n", options);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    for (const char* name : {"Zarpex32.exe", "a.txt", "sub/b.txt", "sub/deep/c.bin", "z.txt"}) {
      EXPECT_TRUE(read_file(folder + "/" + name) == read_file(tree_ + "/" + name)) << name;
    }
    const std::string machine = scratch_.root() + "/registry/machine/store";
    EXPECT_NE(read_file(machine).find("Zarpex32.exe"), std::string::npos);
    usleep(200000);
    EXPECT_FALSE(exists(folder + "/launched.txt"));
  }
}

TEST_F(InstallerTest, SilentFailuresExitWithTheirCode) {
  const std::string setup = build();
  const std::string damaged = scratch_.path() + "/damaged";
  std::filesystem::copy_file(setup, damaged);
  patch_file(damaged, archive_offset(damaged) + 8, std::string("\x09\0\0\0", 4));  // entry count
  const std::string changed = scratch_.path() + "/changed";
  std::filesystem::copy_file(setup, changed);
  patch_file(changed, find_in_file(changed, "Click the Install button"), "K");
  const std::string empty = scratch_.path() + "/empty";
  std::filesystem::copy_file(setup, empty);
  patch_file(empty, archive_offset(empty) + 8, std::string(4, '\0'));
  make_folders(scratch_.drive_c("Blocked/a.txt"));  // a folder where a file must go

  struct Case {
    const char* what;
    std::string installer;
    std::string folder;
    int exit_code;
  } cases[] = {
      {"damaged archive", damaged, "C:\\Damaged", 11},
      {"a file cannot be created", setup, "C:\\Blocked", 3},
      {"changed stub", changed, "C:\\Changed", 1},
      {"no files", empty, "C:\\Empty", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.args = {"/S", "/D=" + c.folder};
    const RunResult run = run_setup(scratch_, c.installer, "", options);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(exists(scratch_.root() + "/registry/machine/store"));
    EXPECT_FALSE(exists(scratch_.drive_c("windows/zarpex.ini")));
  }
  EXPECT_FALSE(exists(scratch_.drive_c("Changed")));
  EXPECT_FALSE(exists(scratch_.drive_c("Empty")));
  EXPECT_FALSE(exists(scratch_.drive_c("Blocked/z.txt")));  // the first failure ends it
}

TEST_F(InstallerTest, FolderArgumentFillsTheDialogAndOtherArgumentsAreIgnored) {
  const std::string setup = build();
  RunOptions options;
  options.args = {"/unknown", "--dir", "C:\\Typed Before", "/D=C:\\From", "the Line"};
  const RunResult run = run_setup(scratch_, setup, "install\n", options);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("Install to Folder: C:\\From the Line\n"), std::string::npos) << run.out;
  EXPECT_EQ(read_file(scratch_.drive_c("From the Line/a.txt")), "alpha\n");
}

}  // namespace

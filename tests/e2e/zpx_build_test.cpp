// zpx build and zpx wrap run as a user runs them: the installers they make install the
// tree, at every kind of level; failures name the file and leave no output behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

constexpr char kModified[] = "This installer has been modified.";

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

class ZpxBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.path() + "/payload";
    // A PE-looking program dense with call opcodes, text, noise, an empty file, folders.
    std::string program = "MZ" + std::string(0x3A, '\0') + std::string("\x80\0\0\0", 4) +
                          std::string(0x40, '\0') + std::string("PE\0\0\x4c\x01", 6);
    for (int i = 0; program.size() < 60000; ++i)
      program += std::string("\xE8") + char(i) + char(i >> 8) + "\0\0\x8B\x45\x08";
    write_file(tree_ + "/Zarpex32.exe", program);
    std::string text;
    for (int i = 0; text.size() < 50000; ++i)
      text += "line " + std::to_string(i % 97) + " of the readme\n";
    write_file(tree_ + "/docs/readme.txt", text);
    write_file(tree_ + "/docs/deeper/noise.bin", noise(30000, 5));
    write_file(tree_ + "/empty.txt", "");
    names_ = {"Zarpex32.exe", "docs/readme.txt", "docs/deeper/noise.bin", "empty.txt"};
  }
  void expect_installed() {
    for (const std::string& name : names_)
      EXPECT_TRUE(read_file(scratch_.drive_c("Apps/Demo/" + name)) == read_file(tree_ + "/" + name))
          << name;
  }
  Scratch scratch_;
  std::string tree_;
  std::vector<std::string> names_;
};

TEST_F(ZpxBuildTest, InstallersFromBuildAndWrapInstallTheTree) {
  for (const char* level : {"-0", "-1", "-6", "-9"}) {
    SCOPED_TRACE(level);
    const std::string archive = scratch_.path() + "/payload.zpx";
    // Each level replaces the files of the one before: -f.
    const RunResult built = run_zpx({"build", "-f", level, "-o", archive, tree_});
    ASSERT_EQ(built.exit_code, 0) << built.err;
    EXPECT_NE(built.out.find("4 files, 2 folders"), std::string::npos) << built.out;
    const RunResult tested = run_zpx({"test", archive});
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;

    const std::string wrapped = scratch_.path() + "/setup-wrapped";
    const RunResult wrap = run_zpx({"wrap", "-f", "--stub", setup_bin(), "-o", wrapped, archive});
    ASSERT_EQ(wrap.exit_code, 0) << wrap.err;
    const std::string stubbed = scratch_.path() + "/setup-built";
    ASSERT_EQ(
        run_zpx({"build", "-f", level, "--stub", setup_bin(), "-o", stubbed, tree_}).exit_code, 0);
    // Same stub, same archive: the same installer either way.
    EXPECT_TRUE(read_file(wrapped) == read_file(stubbed));

    const RunResult run = run_setup(scratch_, wrapped, "folder C:\\Apps\\Demo\ninstall\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.find(kModified), std::string::npos) << run.out;
    expect_installed();
  }
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(ZpxBuildTest, IdenticalFilesAreStoredOnceAndEveryCopyArrives) {
  // The program three times in three folders (once under another name), the readme
  // again read-only and a day older, and a second empty file.
  const std::string program = read_file(tree_ + "/Zarpex32.exe");
  for (const char* name : {"bin/Zarpex32.exe", "tools/helper.exe"}) {
    write_file(tree_ + "/" + name, program);
    names_.push_back(name);
  }
  write_file(tree_ + "/docs/copy.txt", read_file(tree_ + "/docs/readme.txt"));
  const struct timespec older[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (tree_ + "/docs/copy.txt").c_str(), older, 0), 0);
  chmod((tree_ + "/docs/copy.txt").c_str(), 0444);
  write_file(tree_ + "/docs/empty.txt", "");
  names_.insert(names_.end(), {"docs/copy.txt", "docs/empty.txt"});

  const std::string archive = scratch_.path() + "/shared.zpx";
  const std::string separate = scratch_.path() + "/separate.zpx";
  const RunResult built = run_zpx({"build", "-o", archive, tree_});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  EXPECT_NE(built.out.find("8 files, 4 folders (4 stored as another file's member)"),
            std::string::npos)
      << built.out;
  ASSERT_EQ(run_zpx({"build", "--no-dedupe", "-o", separate, tree_}).exit_code, 0);
  // The copies lie within the window here: without sharing they cost little more.
  EXPECT_LT(read_file(archive).size(), read_file(separate).size());

  const RunResult tested = run_zpx({"test", "-v", archive});
  EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
  EXPECT_EQ(count_of(tested.out, "OK      "), 8u) << tested.out;
  const RunResult listed = run_zpx({"list", "-v", archive});
  EXPECT_NE(listed.out.find("tools\\helper.exe  = Zarpex32.exe"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("docs\\readme.txt  = docs\\copy.txt"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("4 stored as another's member"), std::string::npos) << listed.out;
  const RunResult json = run_zpx({"list", "--json", archive});
  EXPECT_EQ(count_of(json.out, "\"same_member_as\": \"Zarpex32.exe\""), 2u) << json.out;

  const std::string out = scratch_.path() + "/out";
  const RunResult extracted = run_zpx({"extract", "-q", archive, "-d", out});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  const std::string setup = scratch_.path() + "/setup-shared";
  ASSERT_EQ(run_zpx({"wrap", "--stub", setup_bin(), "-o", setup, archive}).exit_code, 0);
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  for (const std::string& where : {out, scratch_.drive_c("Apps/Demo")}) {
    SCOPED_TRACE(where);
    for (const std::string& name : names_)
      EXPECT_TRUE(read_file(where + "/" + name) == read_file(tree_ + "/" + name)) << name;
    EXPECT_EQ(mtime_of(where + "/docs/copy.txt"), 1700000000);
    EXPECT_FALSE(owner_can_write(where + "/docs/copy.txt"));
    EXPECT_NE(mtime_of(where + "/docs/readme.txt"), 1700000000);
    EXPECT_TRUE(owner_can_write(where + "/docs/readme.txt"));
  }
}

TEST_F(ZpxBuildTest, AWrappedInstallerWithAChangedStubByteOnlyWarns) {
  const std::string archive = scratch_.path() + "/payload.zpx";
  ASSERT_EQ(run_zpx({"build", "-o", archive, tree_}).exit_code, 0);
  const std::string setup = scratch_.path() + "/setup";
  ASSERT_EQ(run_zpx({"wrap", "--stub", setup_bin(), "-o", setup, archive}).exit_code, 0);
  patch_file(setup, 100, std::string(1, static_cast<char>(read_file(setup)[100] ^ 1)));
  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  EXPECT_NE(run.out.find(kModified), std::string::npos) << run.out;
  EXPECT_FALSE(exists(scratch_.drive_c("Apps/Demo/empty.txt")));
}

TEST_F(ZpxBuildTest, FailuresNameTheFileAndLeaveNoOutput) {
  const std::string out_dir = scratch_.path() + "/out";
  make_folders(out_dir + "/taken");
  const std::string plain_stub = scratch_.path() + "/plain-stub";
  write_file(plain_stub, std::string(4096, 'x'));
  const std::string archive = scratch_.path() + "/payload.zpx";
  ASSERT_EQ(run_zpx({"build", "-o", archive, tree_}).exit_code, 0);
  const std::string fifo = scratch_.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string big_stub = scratch_.path() + "/big-stub";
  write_file(big_stub, "");
  ASSERT_EQ(truncate(big_stub.c_str(), (64 << 20) + 1), 0);  // sparse: no disk used
  struct Case {
    std::vector<std::string> args;
    std::string in_message;
    int exit_code = 1;  // 2 for a usage error, as in every command
  };
  const Case cases[] = {
      {{"build", "-o", out_dir + "/a.zpx", scratch_.path() + "/missing"}, "missing: No such file"},
      {{"build", "-o", out_dir + "/taken", tree_}, out_dir + "/taken: cannot write"},
      {{"build", "-o", out_dir + "/nofolder/a.zpx", tree_}, "nofolder/a.zpx: cannot create"},
      {{"build", "--stub", plain_stub, "-o", out_dir + "/b", tree_},
       "plain-stub: no integrity record"},
      {{"wrap", "--stub", plain_stub, "-o", out_dir + "/c", archive},
       "plain-stub: no integrity record"},
      {{"wrap", "--stub", setup_bin(), "-o", out_dir + "/d", plain_stub}, "not an archive"},
      // Read without blocking and only from a regular file: a device is not read until
      // memory runs out, nor a FIFO waited on.
      {{"build", "--stub", "/dev/zero", "-o", out_dir + "/h", tree_},
       "/dev/zero: not a regular file"},
      {{"build", "--stub", fifo, "-o", out_dir + "/i", tree_}, "fifo: not a regular file"},
      {{"wrap", "--stub", setup_bin(), "-o", out_dir + "/j", fifo}, "fifo: not a regular file"},
      {{"build", "--stub", big_stub, "-o", out_dir + "/k", tree_},
       "more than the 67108864 zpx reads here"},
      {{"build", "-o", out_dir + "/e"}, "usage", 2},
      {{"build", "-T", "0", "-o", out_dir + "/f", tree_},
       "-T needs a thread count from 1 to 64",
       2},
      {{"build", "--threads", "x", "-o", out_dir + "/g", tree_},
       "--threads needs a thread count",
       2},
  };
  for (const Case& c : cases) {
    const RunResult r = run_zpx(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args[2];
    EXPECT_NE(r.err.find(c.in_message), std::string::npos) << r.err;
    EXPECT_EQ(names_in(out_dir), std::vector<std::string>{"taken"}) << r.err;
  }
}

}  // namespace

// Links planted in the folder that zpx extract or the POSIX installer writes into, as a
// second user who can write that folder would plant them: a link to a file outside, a
// link to nothing (a file outside yet to be made), a hard link to a file outside and a
// link to a folder outside. Whatever the answers, nothing outside may change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

class PlantedLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.path() + "/payload";
    write_file(tree_ + "/Zarpex32.exe", "#!/bin/sh\n");
    chmod((tree_ + "/Zarpex32.exe").c_str(), 0755);
    write_file(tree_ + "/a.txt", "new a\n");
    write_file(tree_ + "/h.txt", "new h\n");
    write_file(tree_ + "/n.txt", "new n\n");
    write_file(tree_ + "/sub/b.txt", "new b\n");  // sub comes last: its failure ends the run
    outside_ = scratch_.path() + "/outside";
  }

  // Plants the links in `target` (made afresh), all of them leading into outside_.
  void plant(const std::string& target) {
    namespace fs = std::filesystem;
    fs::remove_all(target);
    fs::remove_all(outside_);
    make_folders(target);
    make_folders(outside_ + "/dir");
    write_file(outside_ + "/victim", "victim\n");
    write_file(outside_ + "/hard", "hard\n");
    fs::create_symlink(outside_ + "/victim", target + "/a.txt");
    fs::create_hard_link(outside_ + "/hard", target + "/h.txt");
    fs::create_symlink(outside_ + "/new", target + "/n.txt");
    fs::create_directory_symlink(outside_ + "/dir", target + "/sub");
  }

  void expect_outside_unchanged() {
    EXPECT_EQ(list_tree(outside_), (std::vector<std::string>{"dir", "hard", "victim"}));
    EXPECT_EQ(read_file(outside_ + "/victim"), "victim\n");
    EXPECT_EQ(read_file(outside_ + "/hard"), "hard\n");
    EXPECT_TRUE(owner_can_write(outside_ + "/victim"));
  }

  // The links are refused and stay as they were; the hard link is a file like any
  // other, kept or replaced by a new file.
  void expect_names(const std::string& target, bool replaced) {
    for (const char* name : {"a.txt", "n.txt", "sub"}) {
      EXPECT_TRUE(std::filesystem::is_symlink(target + "/" + name)) << name;
    }
    EXPECT_EQ(read_file(target + "/h.txt"), replaced ? "new h\n" : "hard\n");
  }

  Scratch scratch_;
  std::string tree_, outside_;
};

TEST_F(PlantedLinksTest, ZpxExtractNeverWritesThroughThem) {
  const std::string archive = scratch_.path() + "/demo.zpx";
  const RunResult built = build_archive(tree_, archive);
  ASSERT_EQ(built.exit_code, 0) << built.err;
  const std::string target = scratch_.path() + "/target";
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    plant(target);
    std::vector<std::string> args = {"extract", archive, "-d", target};
    if (overwrite) args.push_back("--overwrite");
    const RunResult run = run_zpx(args);
    EXPECT_EQ(run.exit_code, 1) << run.err;  // the folder link is a failure
    EXPECT_NE(run.err.find("Cannot create folder " + target + "/sub\nAccess denied"),
              std::string::npos)
        << run.err;
    // One cause, named once with the first file it takes down.
    EXPECT_NE(run.err.find("Cannot create " + target + "/a.txt\nAccess denied"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("the same failure took down 1 more: " + target + "/n.txt"),
              std::string::npos)
        << run.err;
    if (!overwrite) {
      EXPECT_NE(run.err.find("1 existing file kept"), std::string::npos) << run.err;
    }
    expect_outside_unchanged();
    expect_names(target, overwrite);
  }
}

TEST_F(PlantedLinksTest, TheInstallerNeverWritesThroughThem) {
  const std::string setup = scratch_.path() + "/setup";
  const RunResult built = build_installer(tree_, setup);
  ASSERT_EQ(built.exit_code, 0) << built.err;
  const std::string target = scratch_.drive_c("Apps/Demo");
  struct Case {
    const char* script;  // after the folder
    bool replaced;
  } cases[] = {{"install\nok\nno\nok\nok\n", false},
               {"install\nok\nyes\nok\nok\n", true},
               {"overwrite on\ninstall\nok\nok\nok\n", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    plant(target);
    const RunResult run =
        run_setup(scratch_, setup, std::string("folder C:\\Apps\\Demo\n") + c.script);
    EXPECT_EQ(run.exit_code, 0);
    for (const std::string text : {"Cannot create C:\\Apps\\Demo\\a.txt\nAccess denied",
                                   "Cannot create C:\\Apps\\Demo\\n.txt\nAccess denied",
                                   "Cannot create folder C:\\Apps\\Demo\\sub\nAccess denied"}) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
    expect_outside_unchanged();
    expect_names(target, c.replaced);
  }
}

}  // namespace

// zpx build and zpx wrap run as a user runs them: the installers they make install the
// tree, at every kind of level; failures name the file and leave no output behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
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

RunResult run_zpx_with(const std::vector<std::string>& args,
                       const std::vector<std::pair<std::string, std::string>>& env) {
  RunOptions options;
  options.args = {zpx_bin()};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.env = env;
  return run_program(options);
}

// With SOURCE_DATE_EPOCH, two fresh copies of one tree with other times (all later than
// the epoch), built under other time zones and thread counts, give the same bytes.
TEST_F(ZpxBuildTest, SourceDateEpochMakesBuildsOfTheSameContentIdentical) {
  const std::string epoch = "1700000000";  // 2023-11-14 22:13:20 UTC
  struct Build {
    const char* tz;
    const char* threads;
    int64_t mtime;  // given to every file and folder of the copy
  } builds[] = {{"UTC0", "1", 1750000000}, {"JST-9", "3", 1760000000}, {"EST5EDT", "2", 0}};
  std::vector<std::string> outputs;
  for (const Build& b : builds) {
    const std::string copy = scratch_.path() + "/copy-" + std::to_string(outputs.size());
    ASSERT_EQ(std::system(("cp -r '" + tree_ + "' '" + copy + "'").c_str()), 0);
    if (b.mtime != 0) {
      const std::string touch =
          "find '" + copy + "' -exec touch -d @" + std::to_string(b.mtime) + " {} +";
      ASSERT_EQ(std::system(touch.c_str()), 0);
    }
    const std::string out = copy + ".exe";
    const RunResult r =
        run_zpx_with({"build", "-1", "-T", b.threads, "--stub", setup_bin(), "-o", out, copy},
                     {{"SOURCE_DATE_EPOCH", epoch}, {"TZ", b.tz}});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    outputs.push_back(read_file(out));
  }
  EXPECT_TRUE(outputs[0] == outputs[1]);
  EXPECT_TRUE(outputs[0] == outputs[2]);
  // Every time shown is the epoch as UTC (none of the files is older).
  const RunResult listed = run_zpx({"list", "--json", scratch_.path() + "/copy-0.exe"});
  EXPECT_NE(listed.out.find("\"modified\": \"2023-11-14T22:13:20\""), std::string::npos)
      << listed.out;
  // Without it the time zone shows in the bytes.
  const std::string copy = scratch_.path() + "/copy-0";
  const RunResult utc =
      run_zpx_with({"build", "-f", "-1", "-o", copy + ".a", copy}, {{"TZ", "UTC0"}});
  const RunResult tokyo =
      run_zpx_with({"build", "-f", "-1", "-o", copy + ".b", copy}, {{"TZ", "JST-9"}});
  ASSERT_EQ(utc.exit_code + tokyo.exit_code, 0);
  EXPECT_FALSE(read_file(copy + ".a") == read_file(copy + ".b"));
  const RunResult bad =
      run_zpx_with({"build", "-o", copy + ".c", copy}, {{"SOURCE_DATE_EPOCH", "yesterday"}});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH is \"yesterday\""), std::string::npos) << bad.err;
  EXPECT_FALSE(exists(copy + ".c"));
}

// --stub posix finds the stub beside zpx; an installer's name that does not fit its stub
// gives one warning.
TEST_F(ZpxBuildTest, NamedStubsAndWarningsForTheOutputsEnding) {
  const std::string out = scratch_.path() + "/setup";
  const RunResult named = run_zpx({"build", "-1", "--stub", "posix", "-o", out, tree_});
  ASSERT_EQ(named.exit_code, 0) << named.err;
  EXPECT_EQ(named.err, "");
  const RunResult by_path = run_zpx({"build", "-1", "--stub", setup_bin(), "-o", out + "2", tree_});
  ASSERT_EQ(by_path.exit_code, 0);
  EXPECT_TRUE(read_file(out) == read_file(out + "2"));

  const RunResult exe = run_zpx({"build", "-1", "--stub", "posix", "-o", out + ".exe", tree_});
  EXPECT_EQ(exe.exit_code, 0);
  EXPECT_EQ(exe.err, "zpx: warning: " + out +
                         ".exe: the stub is a POSIX (ELF) program, not a Windows one, but the "
                         "name ends in .exe\n");
  const RunResult wrapped =
      run_zpx({"wrap", "--stub", setup_bin(), "-o", out + "3.EXE", scratch_.path() + "/setup"});
  EXPECT_NE(wrapped.err.find("not a Windows one"), std::string::npos) << wrapped.err;

  // A stub file called "posix" in the current folder is reached as ./posix.
  const RunResult missing = run_zpx({"build", "--stub", "./posix", "-o", out + "4", tree_});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("./posix: cannot open"), std::string::npos) << missing.err;
}

TEST_F(ZpxBuildTest, ATinyPayloadIsStoredLargerThanItsInput) {
  const std::string tiny = scratch_.path() + "/tiny";
  write_file(tiny + "/a.txt", "a");
  const RunResult r = run_zpx({"build", "-o", scratch_.path() + "/tiny.zpx", tiny});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("1 file, 0 folders, 1 byte in"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stored larger than its input"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("ratio"), std::string::npos) << r.out;
  const RunResult big = run_zpx({"build", "-o", scratch_.path() + "/big.zpx", tree_});
  EXPECT_NE(big.out.find("ratio "), std::string::npos) << big.out;
}

// Names leave the build machine's UTF-8 for the Windows code page and come back: list
// shows them, extract and the POSIX installer write them, and JSON carries them in UTF-8.
TEST_F(ZpxBuildTest, NonAsciiNamesRoundTripThroughTheCodePage) {
  const std::string tree = scratch_.path() + "/names";
  const std::string name = "docs/\u00dcberblick \u2013 Caf\u00e9.txt";
  write_file(tree + "/" + name, "caf\u00e9");
  const std::string setup = scratch_.path() + "/setup";
  const RunResult built = run_zpx({"build", "-1", "--stub", setup_bin(), "-o", setup, tree});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  EXPECT_NE(find_in_file(setup,
                         "\xdc"
                         "berblick \x96 Caf\xe9.txt"),
            std::string::npos);

  const RunResult listed = run_zpx({"list", setup});
  EXPECT_NE(listed.out.find("docs\\\u00dcberblick \u2013 Caf\u00e9.txt\n"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("installer, POSIX ELF x86_64 stub of"), std::string::npos)
      << listed.out;
  const RunResult json = run_zpx({"list", "--json", setup});
  EXPECT_NE(json.out.find("\"name\": \"docs\\\\\u00dcberblick \u2013 Caf\u00e9.txt\""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"stub\": {\"kind\": \"POSIX ELF x86_64\", \"bytes\": "),
            std::string::npos)
      << json.out;
  EXPECT_EQ(run_zpx({"test", setup}).exit_code, 0);

  const std::string out = scratch_.path() + "/out";
  const RunResult extracted = run_zpx({"extract", "-d", out, setup, name});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  EXPECT_EQ(list_tree(out), (std::vector<std::string>{"docs", name}));
  // Read in another code page the same bytes are other letters (Cyrillic soft sign for 0xDC,
  // short i for 0xE9).
  const RunResult cyrillic = run_zpx({"list", "--codepage", "1251", setup});
  EXPECT_NE(cyrillic.out.find("docs\\\u042cberblick \u2013 Caf\u0439.txt\n"), std::string::npos)
      << cyrillic.out;

  const RunResult run = run_setup(scratch_, setup, "folder C:\\Apps\\Demo\ninstall\n");
  EXPECT_EQ(read_file(scratch_.drive_c("Apps/Demo/" + name)), "caf\u00e9");

  // A name the code page cannot write stops the build, naming the file and the code page.
  write_file(tree + "/lang/\u8aac\u660e.txt", "x");
  const RunResult refused = run_zpx({"build", "-1", "-o", scratch_.path() + "/x.zpx", tree});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("lang/\u8aac\u660e.txt: the name cannot be written in code page 1252"),
            std::string::npos)
      << refused.err;
  const RunResult japanese =
      run_zpx({"build", "-1", "--codepage", "932", "-o", scratch_.path() + "/x.zpx", tree});
  EXPECT_NE(japanese.err.find("code page 932"), std::string::npos) << japanese.err;  // the Ü
}

}  // namespace

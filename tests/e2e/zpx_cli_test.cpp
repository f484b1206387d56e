// zpx as a command-line tool: exit statuses and help, what OUT may replace, what a scan of
// the input follows or passes over, choosing entries to extract, --json, and messages
// that carry the zpx: prefix and POSIX paths and come once per cause. Run as root too:
// cases that rest on permissions say where root is not refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every line of standard error starts with "zpx:", except the second lines of the
// installer's own two-line texts.
void expect_prefixed(const std::string& err) {
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    const bool continuation = line == "corrupt disk or download error" ||
                              line.rfind("usage:", 0) == 0 || line.rfind("      zpx", 0) == 0 ||
                              line.rfind("Try 'zpx", 0) == 0 || line == "Access denied" ||
                              line.rfind("The path would be", 0) == 0;
    EXPECT_TRUE(line.rfind("zpx: ", 0) == 0 || continuation) << "line: " << line << "\n" << err;
    start = end + 1;
  }
}

class ZpxCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.path() + "/payload";
    write_file(tree_ + "/a.txt", "alpha\n");
    write_file(tree_ + "/sub/b.txt", std::string(3000, 'b'));
    write_file(tree_ + "/sub/deep/c.bin", noise(5000, 3));
    write_file(tree_ + "/z.txt", "last\n");
    archive_ = scratch_.path() + "/demo.zpx";
    const RunResult built = build_archive(tree_, archive_);
    ASSERT_EQ(built.exit_code, 0) << built.err;
  }

  std::string listing(const std::string& file) {
    const RunResult run = run_zpx({"list", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return run.out;
  }

  Scratch scratch_;
  std::string tree_, archive_;
};

TEST_F(ZpxCliTest, ExitStatusAndHelpAreTheSameForEveryCommand) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* in_out;  // in standard output, or nullptr
    const char* in_err;  // in standard error, or nullptr
  };
  const std::string out = scratch_.path() + "/never.zpx";
  const Case cases[] = {
      {{}, 2, nullptr, "usage: zpx COMMAND"},
      {{"--version"}, 0, "zpx ", nullptr},
      {{"--help"}, 0, "Exit status: 0 success, 1 damage or failure, 2 usage error", nullptr},
      {{"help", "extract"}, 0, "usage: zpx extract", nullptr},
      {{"help", "nosuch"}, 2, nullptr, "zpx: help: no command \"nosuch\""},
      {{"nosuch"}, 2, nullptr, "zpx: unknown command \"nosuch\""},
      {{"build", "--help"}, 0, "--exclude PATTERN", nullptr},
      {{"wrap", "-h"}, 0, "usage: zpx wrap", nullptr},
      {{"list", "--help"}, 0, "--json", nullptr},
      {{"test", "--help"}, 0, "Exit status", nullptr},
      {{"extract", "--help"}, 0, "--overwrite", nullptr},
      {{"build", tree_}, 2, nullptr, "zpx: build: an output (-o OUT) is needed"},
      {{"build", "-o", out}, 2, nullptr, "zpx: build: a folder to pack"},
      {{"build", "-o", out, "--level=10", tree_}, 2, nullptr, "the level is a digit from 0 to 9"},
      {{"build", "-o", out, "--level=x", tree_}, 2, nullptr, "the level is a digit"},
      {{"build", "-stub", "posix", "-o", out, tree_},
       2,
       nullptr,
       "zpx: build: unknown option -stub; long options take two dashes: --stub"},
      {{"build", "-force", "-o", out, tree_}, 2, nullptr, "long options take two dashes: --force"},
      {{"build", "--codepage", "437", "-o", out, tree_}, 2, nullptr, "unknown code page \"437\""},
      {{"build", "--stub", "windows-arm", "-o", out, tree_},
       1,
       nullptr,
       "windows-arm: cannot open"},
      {{"wrap", "-o", out, archive_}, 2, nullptr, "zpx: wrap: a stub (--stub STUB) is needed"},
      {{"list"}, 2, nullptr, "zpx: list: a file (FILE) is needed"},
      {{"list", "--json=yes", archive_}, 2, nullptr, "--json takes no value"},
      {{"test", archive_, archive_}, 2, nullptr, "zpx: test: one file only"},
      {{"extract", "-d"}, 2, nullptr, "-d needs a value (DIR)"},
      {{"extract", "--force", archive_}, 2, nullptr, "unknown option --force"},
      {{"list", scratch_.path() + "/missing.zpx"}, 1, nullptr, "No such file or directory"},
      {{"test", tree_}, 1, nullptr, "it is a folder"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const RunResult run = run_zpx(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
    if (c.in_out != nullptr) {
      EXPECT_NE(run.out.find(c.in_out), std::string::npos) << run.out;
    }
    if (c.in_err != nullptr) {
      EXPECT_NE(run.err.find(c.in_err), std::string::npos) << run.err;
    }
    if (c.exit_code == 0) {
      EXPECT_EQ(run.err, "");
    }
    if (c.exit_code == 2 && !c.args.empty() && c.args[0] != "help" && c.args[0] != "nosuch") {
      EXPECT_NE(run.err.find("usage: zpx " + c.args[0]), std::string::npos) << run.err;
    }
    expect_prefixed(run.err);
    EXPECT_FALSE(exists(out));
  }
}

TEST_F(ZpxCliTest, DoubleDashEndsTheOptions) {
  // An option's value may start with '-'; an operand that does needs "--" before it.
  const RunResult built = run_zpx({"build", "-q", "-o", "-odd.zpx", tree_}, scratch_.path());
  ASSERT_EQ(built.exit_code, 0) << built.err;
  EXPECT_EQ(run_zpx({"list", "-odd.zpx"}, scratch_.path()).exit_code, 2);
  const RunResult listed = run_zpx({"list", "--", "-odd.zpx"}, scratch_.path());
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("sub\\b.txt"), std::string::npos);
}

TEST_F(ZpxCliTest, OutIsCheckedFirstAndReplacedOnlyWithForce) {
  const std::string missing_input = scratch_.path() + "/no-such-folder";
  const std::string folder = scratch_.path() + "/a-folder";
  make_folders(folder);
  const std::string existing = scratch_.path() + "/existing.zpx";
  write_file(existing, "keep me");
  const std::string target = scratch_.path() + "/target.zpx";
  write_file(target, "old target");
  const std::string link = scratch_.path() + "/link.zpx";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string fifo = scratch_.path() + "/fifo.zpx";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  struct Case {
    std::vector<std::string> args;
    const char* in_err;
  };
  // The input does not exist either: the message about OUT shows it was checked first.
  const Case refused[] = {
      {{"-o", scratch_.path() + "/nofolder/x.zpx", missing_input}, "nofolder/x.zpx: cannot create"},
      {{"-o", folder, missing_input}, "a-folder: cannot write: it is a folder"},
      {{"-f", "-o", folder, missing_input}, "a-folder: cannot write: it is a folder"},
      {{"-o", existing, missing_input}, "existing.zpx: already exists (-f replaces it)"},
      {{"-o", link, missing_input}, "link.zpx: already exists"},
      {{"-f", "-o", fifo, missing_input}, "fifo.zpx: not a regular file"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.in_err);
    std::vector<std::string> args = {"build"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = run_zpx(args);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(c.in_err), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("no-such-folder"), std::string::npos) << run.err;
    expect_prefixed(run.err);
  }
  EXPECT_EQ(read_file(existing), "keep me");
  EXPECT_EQ(read_file(target), "old target");
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // -f replaces a file, and a symbolic link itself, as gzip does: whatever the link
  // pointed to (a file, a folder, nothing) stays as it was. Over a planted link a run
  // as root must not replace the file it names.
  const std::string folder_link = scratch_.path() + "/folder-link.zpx";
  ASSERT_EQ(symlink(folder.c_str(), folder_link.c_str()), 0);
  const std::string dangling = scratch_.path() + "/dangling.zpx";
  ASSERT_EQ(symlink((scratch_.path() + "/never-made").c_str(), dangling.c_str()), 0);
  for (const std::string& out : {existing, link, folder_link, dangling}) {
    const RunResult run = run_zpx({"build", "-f", "-1", "-o", out, tree_});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << out;
    EXPECT_EQ(read_file(out).substr(0, 4), "ZPX\n") << out;
  }
  EXPECT_EQ(read_file(target), "old target");
  EXPECT_TRUE(list_tree(folder).empty());
  EXPECT_FALSE(exists(scratch_.path() + "/never-made"));
  // Nothing but the outputs: no temporary file left behind.
  for (const std::string& name : list_tree(scratch_.path())) {
    EXPECT_EQ(name.find(".zpx-"), std::string::npos) << name;
  }
}

// Runs zpx through the shell, so that a standard descriptor can be closed or a signal
// ignored before it starts.
RunResult run_zpx_in_shell(const std::string& script, const std::string& cwd) {
  RunOptions options;
  options.args = {"/bin/sh", "-c", script, "sh", zpx_bin()};
  options.cwd = cwd;
  return run_program(options);
}

TEST_F(ZpxCliTest, NoSuccessWithoutTheArchiveWhateverTheDescriptorsAndSignals) {
  const std::string out = scratch_.path() + "/out.zpx";
  const std::string reference = scratch_.path() + "/reference.zpx";
  ASSERT_EQ(run_zpx({"build", "-1", "-o", reference, tree_}).exit_code, 0);
  // Text: data that cannot compress would be stored without any search.
  std::string big;
  for (int i = 0; big.size() < (3u << 20); ++i)
    big += "line " + std::to_string(i * 7919 % 100003) + " of the big file\n";
  write_file(scratch_.path() + "/big/big.bin", big);
  struct Case {
    const char* name;
    const char* script;  // $1 is zpx
    int exit_code;
    bool written;
  } cases[] = {
      // The temporary file would take the closed descriptor and pass for standard output.
      {"stdout closed", "\"$1\" build -1 -o out.zpx payload >&-", 0, true},
      {"stdin closed", "\"$1\" build -1 -o out.zpx payload <&-", 0, true},
      {"stdin closed, build fails", "\"$1\" build -1 -o out.zpx no-such-folder <&-", 1, false},
      {"stdout closed, -o -", "\"$1\" build -1 -o - payload >&-", 1, false},
      // Level 9 holds over 100 MB per thread: the packer's allocation fails (std::bad_alloc).
      {"out of memory", "ulimit -v 100000; exec \"$1\" build -9 -T 1 -o out.zpx big", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(out.c_str());
    const RunResult run = run_zpx_in_shell(c.script, scratch_.path());
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(exists(out), c.written);
    if (c.written) {
      EXPECT_TRUE(read_file(out) == read_file(reference));
    }
    for (const std::string& name : list_tree(scratch_.path())) {
      EXPECT_EQ(name.find(".zpx-"), std::string::npos) << name;
    }
  }
}

TEST_F(ZpxCliTest, SignalsEndTheRunWithoutATemporaryFileUnlessIgnoredAtStart) {
  // The signal is sent as soon as the temporary file is there, while the run packs.
  write_file(tree_ + "/big.bin", noise(2 << 20, 5));
  struct Case {
    const char* signal_name;
    const char* before;  // shell commands before zpx takes the shell's place
    bool finishes;
  } cases[] = {
      {"INT", "", false},
      {"TERM", "", false},
      {"HUP", "", false},
      {"QUIT", "", false},
      {"PIPE", "", false},
      {"XFSZ", "", false},
      // nohup, and a script's background job, which starts with SIGINT ignored.
      {"HUP", "trap '' HUP; ", true},
      {"INT", "trap '' INT; ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before) + c.signal_name);
    const std::string script =
        std::string(c.before) +
        "(while ! ls -a | grep -q '^\\.out\\.zpx\\.zpx-'; do sleep 0.01; done; kill -" +
        c.signal_name + " $$) & exec \"$1\" build -T 1 " + (c.finishes ? "-1" : "-9") +
        " -o out.zpx payload";
    const RunResult run = run_zpx_in_shell(script, scratch_.path());
    EXPECT_EQ(run.exit_code, c.finishes ? 0 : -1) << run.err;
    EXPECT_EQ(exists(scratch_.path() + "/out.zpx"), c.finishes);
    for (const std::string& name : list_tree(scratch_.path())) {
      EXPECT_EQ(name.find(".zpx-"), std::string::npos) << name;
    }
    std::remove((scratch_.path() + "/out.zpx").c_str());
  }
}

TEST_F(ZpxCliTest, DashWritesTheArchiveAloneToStandardOutput) {
  const std::string file = scratch_.path() + "/file.zpx";
  ASSERT_EQ(run_zpx({"build", "-1", "-o", file, tree_}).exit_code, 0);
  const RunResult piped = run_zpx({"build", "-1", "-o", "-", tree_});
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_TRUE(piped.out == read_file(file));  // nothing else on the data stream
  EXPECT_NE(piped.err.find("standard output: 4 files, 2 folders"), std::string::npos) << piped.err;

  const RunResult wrapped = run_zpx({"wrap", "--stub", setup_bin(), "-o", "-", file});
  ASSERT_EQ(wrapped.exit_code, 0) << wrapped.err;
  const std::string setup = scratch_.path() + "/setup";
  ASSERT_EQ(run_zpx({"wrap", "--stub", setup_bin(), "-o", setup, file}).exit_code, 0);
  EXPECT_TRUE(wrapped.out == read_file(setup));
}

TEST_F(ZpxCliTest, TheScanFollowsLinksAndSkipsWhatItCannotPack) {
  const std::string outside = scratch_.path() + "/outside";
  write_file(outside + "/linked.txt", "via a link\n");
  ASSERT_EQ(symlink((outside + "/linked.txt").c_str(), (tree_ + "/file-link").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (tree_ + "/folder-link").c_str()), 0);
  ASSERT_EQ(symlink("..", (tree_ + "/sub/loop").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tree_ + "/broken").c_str()), 0);
  ASSERT_EQ(mkfifo((tree_ + "/pipe").c_str(), 0644), 0);
  // An earlier output inside the tree is not packed into the next one.
  const std::string out = tree_ + "/self.zpx";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const RunResult run = run_zpx({"build", "-f", "-1", "-o", out, tree_});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("3 skipped"), std::string::npos) << run.out;
    EXPECT_EQ(count_of(run.err, "zpx: warning: "), 3u) << run.err;
    EXPECT_NE(run.err.find(tree_ + "/sub/loop: a symbolic link back into a folder"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("loop/loop"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(tree_ + "/broken: a broken symbolic link"), std::string::npos);
    EXPECT_NE(run.err.find(tree_ + "/pipe: a FIFO"), std::string::npos);
  }
  const std::string list = listing(out);
  EXPECT_NE(list.find("file-link"), std::string::npos) << list;
  EXPECT_NE(list.find("folder-link\\linked.txt"), std::string::npos) << list;
  EXPECT_EQ(list.find("  self.zpx"), std::string::npos) << list;
  EXPECT_EQ(list.find("loop"), std::string::npos) << list;
  const RunResult quiet = run_zpx({"build", "-q", "-f", "-1", "-o", out, tree_});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");

  if (geteuid() != 0) {  // root reads whatever the permissions say
    chmod((tree_ + "/sub/b.txt").c_str(), 0);
    const RunResult run = run_zpx({"build", "-f", "-o", out, tree_});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("zpx: " + tree_ + "/sub/b.txt: cannot read"), std::string::npos)
        << run.err;
  }
}

TEST_F(ZpxCliTest, ExcludeLeavesOutWhatItsPatternsMatch) {
  write_file(tree_ + "/notes.tmp", "x");
  write_file(tree_ + "/sub/more.tmp", "x");
  write_file(tree_ + "/cache/big.bin", "x");
  write_file(tree_ + "/sub/cache/keep-not.bin", "x");
  write_file(tree_ + "/docs/a.html", "x");
  write_file(tree_ + "/docs/deeper/b.html", "x");
  const std::string out = scratch_.path() + "/ex.zpx";
  const RunResult run = run_zpx({"build", "-1", "--exclude", "*.tmp", "--exclude=cache",
                                 "--exclude", "docs/*.html", "-o", out, tree_});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("5 excluded"), std::string::npos) << run.out;
  const std::string list = listing(out);
  for (const char* gone :
       {"  notes.tmp", "sub\\more.tmp", "  cache", "sub\\cache", "docs\\a.html"}) {
    EXPECT_EQ(list.find(gone), std::string::npos) << gone << "\n" << list;
  }
  for (const char* kept : {"a.txt", "sub\\b.txt", "docs\\deeper\\b.html"}) {
    EXPECT_NE(list.find(kept), std::string::npos) << kept << "\n" << list;
  }
}

TEST_F(ZpxCliTest, ExtractTakesTheEntriesNamedOrMatched) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> tree;  // what lands in the folder
    int exit_code;
  };
  const Case cases[] = {
      {{"sub"}, {"sub", "sub/b.txt", "sub/deep", "sub/deep/c.bin"}, 0},
      {{"sub/deep/c.bin"}, {"sub", "sub/deep", "sub/deep/c.bin"}, 0},
      {{"sub\\b.txt", "z.txt"}, {"sub", "sub/b.txt", "z.txt"}, 0},
      {{"*.txt"}, {"a.txt", "sub", "sub/b.txt", "z.txt"}, 0},
      {{"./sub/deep/"}, {"sub", "sub/deep", "sub/deep/c.bin"}, 0},
      {{"a.txt", "nothing-like-it"}, {"a.txt"}, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names[0]);
    const std::string out = scratch_.path() + "/subset" + std::to_string(n++);
    std::vector<std::string> args = {"extract", "-d", out, archive_};
    args.insert(args.end(), c.names.begin(), c.names.end());
    const RunResult run = run_zpx(args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(list_tree(out), c.tree);
    if (c.exit_code == 1) {
      EXPECT_NE(run.err.find("zpx: nothing-like-it: not in the archive"), std::string::npos)
          << run.err;
    }
  }
  EXPECT_TRUE(read_file(scratch_.path() + "/subset1/sub/deep/c.bin") == noise(5000, 3));
}

TEST_F(ZpxCliTest, ListJsonGivesOneObjectPerEntry) {
  const RunResult run = run_zpx({"list", "--json", archive_});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string& json = run.out;
  EXPECT_EQ(json.rfind("{\"file\": \"" + archive_ + "\", \"stub\": null, \"entries\": [", 0), 0u)
      << json;
  EXPECT_EQ(json.substr(json.size() - 3), "]}\n");
  EXPECT_EQ(count_of(json, "{\"name\": "), 6u) << json;
  EXPECT_NE(json.find("{\"name\": \"sub\\\\deep\", \"kind\": \"folder\""), std::string::npos)
      << json;
  const std::regex file(
      "\\{\"name\": \"sub\\\\\\\\b.txt\", \"kind\": \"file\", \"size\": 3000, "
      "\"modified\": \"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\", "
      "\"created\": \"[-0-9T:]{19}\", \"attributes\": \\[\"archive\"\\], "
      "\"crc32\": \"([0-9a-f]{8})\", \"stream_offset\": \\d+, \"stream_position\": \\d+, "
      "\"same_member_as\": null\\}");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(json, match, file)) << json;
  // The same CRC as the table shows.
  EXPECT_NE(listing(archive_).find(match[1].str() + "  sub\\b.txt"), std::string::npos);
}

TEST_F(ZpxCliTest, OverwriteReplacesReadOnlyFilesAndKeptFilesAreOneLine) {
  const std::string out = scratch_.path() + "/out";
  ASSERT_EQ(run_zpx({"extract", "-q", archive_, "-d", out}).exit_code, 0);
  write_file(out + "/a.txt", "mine\n");
  chmod((out + "/a.txt").c_str(), 0444);
  chmod((out + "/z.txt").c_str(), 0444);

  const RunResult kept = run_zpx({"extract", archive_, "-d", out});
  EXPECT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_EQ(count_of(kept.err, "\n"), 1u) << kept.err;
  EXPECT_NE(kept.err.find("zpx: 4 existing files kept (--overwrite replaces them; -v names them)"),
            std::string::npos)
      << kept.err;
  EXPECT_EQ(read_file(out + "/a.txt"), "mine\n");
  EXPECT_EQ(run_zpx({"extract", "-q", archive_, "-d", out}).out, "");
  EXPECT_EQ(run_zpx({"extract", "-q", archive_, "-d", out}).err, "");

  // The installer's file layer refuses to replace a read-only file, root or not.
  const RunResult replaced = run_zpx({"extract", "--overwrite", archive_, "-d", out});
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(read_file(out + "/a.txt"), "alpha\n");
  EXPECT_EQ(read_file(out + "/z.txt"), "last\n");
  EXPECT_NE(replaced.out.find("4 files, 2 folders extracted to " + out), std::string::npos)
      << replaced.out;
}

TEST_F(ZpxCliTest, TestNamesWhyADamagedBlockEnded) {
  const std::string tree = scratch_.path() + "/cut";
  for (int i = 0; i < 4; ++i) {
    std::string text;
    for (int k = i; k < 20000; ++k) text += std::to_string(k * 7919 % 100003) + "\n";
    write_file(tree + "/f" + std::to_string(i) + ".txt", text);
  }
  const std::string file = scratch_.path() + "/cut.zpx";
  ASSERT_EQ(build_archive(tree, file).exit_code, 0);
  // The stream's first chunk claims half its length: its block's data run out.
  std::string bytes = read_file(file);
  const size_t chunk = bytes.find(std::string("ZPXLH\0", 6));
  ASSERT_NE(chunk, std::string::npos);
  uint32_t word = 0;
  std::memcpy(&word, bytes.data() + chunk + 6 + 3, 4);  // chunk length: bits 25 to 44
  const uint32_t length = (word >> 1) & 0xFFFFF;
  word = (word & ~(0xFFFFFu << 1)) | ((length / 2) << 1);
  std::memcpy(bytes.data() + chunk + 6 + 3, &word, 4);
  write_file(file, bytes);

  const RunResult tested = run_zpx({"test", "-v", file});
  EXPECT_EQ(tested.exit_code, 1);
  EXPECT_NE(tested.out.find(" (block ended short: its chunk's data ran out)"), std::string::npos)
      << tested.out;
  EXPECT_EQ(count_of(tested.out, "OK      "), 0u) << tested.out;
}

TEST_F(ZpxCliTest, ADamagedStreamIsReportedOnceWithTheFilesItTakesDown) {
  const std::string tree = scratch_.path() + "/many";
  for (int i = 0; i < 30; ++i) {
    std::string text;
    for (int k = i; k < 2000; ++k) text += std::to_string(k) + "\n";
    write_file(tree + "/f" + std::to_string(100 + i) + ".txt", text);
  }
  const std::string file = scratch_.path() + "/many.zpx";
  ASSERT_EQ(build_archive(tree, file).exit_code, 0);
  std::string bytes = read_file(file);
  uint32_t directory = 0;
  std::memcpy(&directory, bytes.data() + 4, 4);
  bytes[directory / 2] = static_cast<char>(bytes[directory / 2] ^ 0x55);
  write_file(file, bytes);

  const RunResult tested = run_zpx({"test", file});
  EXPECT_EQ(tested.exit_code, 1);
  EXPECT_EQ(count_of(tested.err, kDamagedText), 1u) << tested.err;
  EXPECT_EQ(tested.out, "");  // no line per file without -v
  const std::regex took_down("zpx: the same failure took down (\\d+) more: f1\\d\\d\\.txt, ");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(tested.err, match, took_down)) << tested.err;
  const int lost = std::stoi(match[1].str()) + 1;
  EXPECT_NE(tested.err.find("zpx: " + file + ": " + std::to_string(lost) + " of 30 files failed"),
            std::string::npos)
      << tested.err;
  expect_prefixed(tested.err);
  const RunResult verbose = run_zpx({"test", "-v", file});
  EXPECT_EQ(count_of(verbose.out, "FAILED  "), static_cast<size_t>(lost));
  EXPECT_EQ(count_of(verbose.err, " more (-v names them all)"), 0u) << verbose.err;

  const std::string out = scratch_.path() + "/many-out";
  const RunResult extracted = run_zpx({"extract", file, "-d", out});
  EXPECT_EQ(extracted.exit_code, 1);
  EXPECT_EQ(count_of(extracted.err, kDamagedText), 1u) << extracted.err;
  EXPECT_NE(extracted.err.find("zpx: " + out + "/f1"), std::string::npos) << extracted.err;
  expect_prefixed(extracted.err);
}

TEST_F(ZpxCliTest, SummariesCountWhatHappened) {
  const std::string setup = scratch_.path() + "/setup";
  ASSERT_EQ(build_installer(tree_, setup).exit_code, 0);
  const uint32_t base = archive_offset(setup);
  ASSERT_NE(base, 0u);
  const std::string modified = scratch_.path() + "/modified";
  std::string bytes = read_file(setup);
  bytes[100] = static_cast<char>(bytes[100] ^ 1);
  write_file(modified, bytes);
  const RunResult tested = run_zpx({"test", modified});
  EXPECT_EQ(tested.exit_code, 1);
  EXPECT_NE(tested.err.find("zpx: " + modified + ": stub modified; 4 files OK"), std::string::npos)
      << tested.err;

  const std::string cut = scratch_.path() + "/cut.zpx";
  write_file(cut, read_file(archive_).substr(0, read_file(archive_).size() - 30));
  const RunResult truncated = run_zpx({"test", cut});
  EXPECT_EQ(truncated.exit_code, 1);
  // How many entries lie wholly before the cut depends on how the directory compressed,
  // which the files' times change: any count short of all is right, never all six.
  const std::regex cut_short("archive truncated: ([0-5]) of 6 entries could be read");
  EXPECT_TRUE(std::regex_search(truncated.err, cut_short)) << truncated.err;
  EXPECT_EQ(run_zpx({"list", cut}).exit_code, 1);

  // A file that cannot be created is named by its POSIX path, never its Windows form.
  const std::string out = scratch_.path() + "/blocked";
  make_folders(out + "/a.txt");
  const RunResult blocked = run_zpx({"extract", archive_, "-d", out});
  EXPECT_EQ(blocked.exit_code, 1);
  EXPECT_NE(blocked.err.find("zpx: Cannot create " + out + "/a.txt\nAccess denied"),
            std::string::npos)
      << blocked.err;
  EXPECT_EQ(blocked.err.find("Z:\\"), std::string::npos) << blocked.err;
  EXPECT_NE(blocked.out.find("3 files, 2 folders extracted to " + out + ", 1 failed"),
            std::string::npos)
      << blocked.out;
}

}  // namespace

// Collecting a folder tree for packing: order, names, times and attributes, and the
// errors a user must see with the file's name and the reason.
#include "builder/source_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "builder/archive_writer.h"
#include "common/dos_time.h"

namespace {

class SourceTreeTest : public ::testing::Test {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/zarpex-tree-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    const std::string cmd = "chmod -R u+w '" + root_ + "' && rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << root_;
  }
  void write(const std::string& rel, const std::string& text) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << text;
  }
  void folder(const std::string& rel) { ASSERT_EQ(mkdir((root_ + "/" + rel).c_str(), 0755), 0); }
  std::string root_;
};

TEST_F(SourceTreeTest, FoldersComeBeforeTheirContentsWithBackslashNamesTimesAndAttributes) {
  folder("b");
  folder("b/inner");
  write("b/inner/z.txt", "zz");
  write("b/a.txt", "a");
  write("a.txt", "top");
  chmod((root_ + "/b/a.txt").c_str(), 0444);
  const bool have_xattr =
      setxattr((root_ + "/a.txt").c_str(), "user.zarpex.attributes", "6", 1, 0) == 0 &&
      setxattr((root_ + "/a.txt").c_str(), "user.zarpex.creation", "946684800", 9, 0) == 0;
  std::vector<builder::SourceEntry> entries;
  std::string error;
  ASSERT_TRUE(builder::scan_tree(root_, &entries, &error)) << error;
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.txt", "b", "b\\a.txt", "b\\inner", "b\\inner\\z.txt"}));
  EXPECT_TRUE(entries[1].folder);
  EXPECT_EQ(entries[1].attributes & 0x10, 0x10);
  EXPECT_EQ(entries[2].attributes & 0x01, 0x01);  // no owner write bit: read-only
  EXPECT_EQ(entries[4].attributes & 0x07, 0);
  EXPECT_EQ(entries[0].size, 3u);
  EXPECT_NE(entries[0].write_date, 0);
  if (have_xattr) {
    EXPECT_EQ(entries[0].attributes & 0x06, 0x06);
    uint16_t date, time;
    dos_date_time(946684800, &date, &time);  // 2000-01-01, local time
    EXPECT_EQ(entries[0].creation_date, date);
    EXPECT_EQ(entries[0].creation_time, time);
  } else {
    // Without the xattr the creation time is the last-write time.
    EXPECT_EQ(entries[0].creation_date, entries[0].write_date);
  }
}

TEST_F(SourceTreeTest, ErrorsNameTheFileAndTheReason) {
  struct Case {
    const char* what;
    void (*make)(SourceTreeTest&);
    const char* reason;
  };
  const Case cases[] = {
      {"name longer than the installer can use",
       [](SourceTreeTest& t) {
         std::string path;
         for (int i = 0; i < 6; ++i) {
           path += (i ? "/" : "") + std::string(50, char('a' + i));
           t.folder(path);
         }
       },
       "longer than the 256"},
      {"4 GiB file",
       [](SourceTreeTest& t) {
         t.write("huge.bin", "");
         ASSERT_EQ(truncate((t.root_ + "/huge.bin").c_str(), 0x100000000ll), 0);
       },
       "4 GiB"},
      {"special file",
       [](SourceTreeTest& t) { ASSERT_EQ(mkfifo((t.root_ + "/pipe").c_str(), 0644), 0); },
       "not a regular file"},
      {"backslash in a name", [](SourceTreeTest& t) { t.write("a\\b.txt", "x"); }, "backslash"},
      {"colon in a name", [](SourceTreeTest& t) { t.write("a:b.txt", "x"); }, "colon"},
      {"dots only", [](SourceTreeTest& t) { t.write("...", "x"); }, "dots and spaces"},
      {"control character in a name", [](SourceTreeTest& t) { t.write("a\x1b[1m.txt", "x"); },
       "control character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    c.make(*this);
    std::vector<builder::SourceEntry> entries;
    std::string error;
    EXPECT_FALSE(builder::scan_tree(root_, &entries, &error));
    EXPECT_NE(error.find(root_), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST_F(SourceTreeTest, AFileThatVanishesOrChangesBeforePackingIsAnError) {
  write("gone.txt", "soon gone");
  write("grows.txt", "12345");
  std::vector<builder::SourceEntry> entries;
  std::string error;
  ASSERT_TRUE(builder::scan_tree(root_, &entries, &error)) << error;
  builder::PackOptions options;
  std::vector<uint8_t> archive;
  builder::PackStats stats;

  write("grows.txt", "123456789");
  std::vector<builder::SourceEntry> copy = entries;
  EXPECT_FALSE(builder::build_archive(copy, options, &archive, &stats, &error));
  EXPECT_NE(error.find("grows.txt: the file changed size"), std::string::npos) << error;

  unlink((root_ + "/gone.txt").c_str());
  copy = entries;
  EXPECT_FALSE(builder::build_archive(copy, options, &archive, &stats, &error));
  EXPECT_NE(error.find("gone.txt: cannot open"), std::string::npos) << error;

  // A file replaced by a FIFO after the scan: refused at once, never waited on. The alarm
  // ends a run that would wait.
  ASSERT_EQ(mkfifo((root_ + "/gone.txt").c_str(), 0644), 0);
  write("grows.txt", "12345");
  copy = entries;
  alarm(20);
  EXPECT_FALSE(builder::build_archive(copy, options, &archive, &stats, &error));
  alarm(0);
  EXPECT_NE(error.find("gone.txt: no longer a regular file"), std::string::npos) << error;
}

TEST_F(SourceTreeTest, AFolderReachedByManyLinksIsPackedOnce) {
  // A chain of levels, each with two links to the next: every level would double the
  // entries if each link were walked (2^15 copies of the last level here).
  constexpr int kLevels = 15;
  for (int i = 0; i <= kLevels; ++i) folder("l" + std::to_string(i));
  write("l" + std::to_string(kLevels) + "/end.txt", "end");
  for (int i = 0; i < kLevels; ++i) {
    const std::string next = root_ + "/l" + std::to_string(i + 1);
    for (const char* name : {"/x", "/y"}) {
      ASSERT_EQ(symlink(next.c_str(), (root_ + "/l" + std::to_string(i) + name).c_str()), 0);
    }
  }
  builder::ScanOptions options;
  std::vector<builder::SourceEntry> entries;
  builder::ScanReport report;
  std::string error;
  ASSERT_TRUE(builder::scan_tree(root_, options, &entries, &report, &error)) << error;
  // Each level where it lies, and once more through the first link that reaches it (the
  // chain below l0), never through a second link: at most twice each, end.txt too.
  size_t files = 0;
  for (const builder::SourceEntry& e : entries) files += e.folder ? 0 : 1;
  EXPECT_LE(files, 2u);
  EXPECT_LE(entries.size(), 2u * (kLevels + 1) + 2);
  for (int i = 0; i <= kLevels; ++i) {
    const std::string level = "l" + std::to_string(i);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const builder::SourceEntry& e) {
      return e.name == level;
    })) << level;
  }
  ASSERT_FALSE(report.skipped.empty());
  EXPECT_NE(report.skipped[0].find("a link to the same folder as "), std::string::npos)
      << report.skipped[0];

  // The strict scan refuses what the other one passes over.
  EXPECT_FALSE(builder::scan_tree(root_, &entries, &error));
  EXPECT_NE(error.find("a link to the same folder as "), std::string::npos) << error;
}

// What Windows cannot create, or would read as something else, stops the scan naming the
// file; names that only look like those pass.
TEST_F(SourceTreeTest, NamesWindowsCannotCreateAreRefused) {
  struct Case {
    std::vector<std::string> files;  // the last one is refused
    const char* reason;
  };
  const Case cases[] = {
      {{"what?.txt"}, "'?'"},
      {{"star*.txt"}, "'*'"},
      {{"pipe|x.txt"}, "'|'"},
      {{"a<b"}, "'<'"},
      {{"a>b"}, "'>'"},
      {{"say\"hi\""}, "'\"'"},
      {{"trailing."}, "ends in a dot"},
      {{"trailing "}, "ends in a space"},
      {{"sub/trailing."}, "ends in a dot"},
      {{"aux.txt"}, "device"},
      {{"CON"}, "device"},
      {{"nul.tar.gz"}, "device"},
      {{"Com1"}, "device"},
      {{"lpt9.log"}, "device"},
      {{"con .txt"}, "device"},
      {{"com\u00b9.txt"}, "device"},
      {{"sub/prn"}, "device"},
      {{"Aux notes.txt"}, "device"},  // Windows would take it; the installer does not
      {{"README.txt", "Readme.txt"}, "differs from \"README.txt\" in the same folder only in case"},
      {{"sub/A", "sub/a"}, "only in case"},
      {{"\u00dcberblick.txt", "\u00fcberblick.txt"}, "only in case"},
      {{"\u8aac\u660e.txt"}, "cannot be written in code page 1252"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files.back());
    TearDown();
    SetUp();
    for (const std::string& f : c.files) {
      if (f.find('/') != std::string::npos) mkdir((root_ + "/sub").c_str(), 0755);
      write(f, "x");
    }
    std::vector<builder::SourceEntry> entries;
    std::string error;
    EXPECT_FALSE(builder::scan_tree(root_, &entries, &error));
    EXPECT_EQ(error.find(root_ + "/" + c.files.back() + ": "), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  TearDown();
  SetUp();
  for (const char* f : {"com0.txt", "COM10", "console.txt", "auxiliary", "x.aux", "nul_", "lpt.txt",
                        "c on", ".hidden", "a.b.c", "Readme.txt.bak"}) {
    write(f, "x");
  }
  write("readme.txt", "x");
  std::vector<builder::SourceEntry> entries;
  std::string error;
  EXPECT_TRUE(builder::scan_tree(root_, &entries, &error)) << error;
}

// Names are stored in the chosen Windows code page; messages keep this system's name.
TEST_F(SourceTreeTest, NamesAreStoredInTheCodePage) {
  folder("docs");
  write("docs/\u00dcberblick \u2013 Caf\u00e9.txt", "x");
  builder::ScanOptions options;
  builder::ScanReport report;
  std::vector<builder::SourceEntry> entries;
  std::string error;
  ASSERT_TRUE(builder::scan_tree(root_, options, &entries, &report, &error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name,
            "docs\\\xdc"
            "berblick \x96 Caf\xe9.txt");
  EXPECT_EQ(entries[1].shown_name, "docs/\u00dcberblick \u2013 Caf\u00e9.txt");

  write("\u8aac\u660e.txt", "x");
  entries.clear();
  EXPECT_FALSE(builder::scan_tree(root_, options, &entries, &report, &error));
  options.code_page = 932;
  entries.clear();
  EXPECT_FALSE(builder::scan_tree(root_, options, &entries, &report, &error));  // the Ü, the dash
  unlink((root_ + "/docs/\u00dcberblick \u2013 Caf\u00e9.txt").c_str());
  entries.clear();
  ASSERT_TRUE(builder::scan_tree(root_, options, &entries, &report, &error)) << error;
  EXPECT_EQ(entries.back().name, "\x90\xe0\x96\xbe.txt");
  // The second byte of this character is 0x5C, which the installer takes for a separator.
  write("\u8868.txt", "x");
  entries.clear();
  EXPECT_FALSE(builder::scan_tree(root_, options, &entries, &report, &error));
  EXPECT_NE(error.find("\u8868.txt: in code page 932 the name holds the byte of a backslash"),
            std::string::npos)
      << error;
}

// SOURCE_DATE_EPOCH: no time later than the epoch, and DOS times as UTC whatever TZ says.
TEST_F(SourceTreeTest, ReproducibleTimesAreClampedAndUtc) {
  write("old.txt", "old");
  write("new.txt", "new");
  const bool have_xattr = setxattr((root_ + "/old.txt").c_str(), "user.zarpex.creation",
                                   "946684800", 9, 0) == 0;               // 2000-01-01 00:00:00 UTC
  const struct timespec old_times[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, (root_ + "/old.txt").c_str(), old_times, 0), 0);
  builder::ScanOptions options;
  options.reproducible = true;
  options.latest_time = 1262304000;  // 2010-01-01 00:00:00 UTC, before new.txt's time
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved != nullptr ? saved : "";
  std::vector<std::vector<builder::SourceEntry>> runs;
  // POSIX zone rules: no zone files needed.
  for (const char* tz : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "JST-9"}) {
    setenv("TZ", tz, 1);
    tzset();
    builder::ScanReport report;
    std::vector<builder::SourceEntry> entries;
    std::string error;
    ASSERT_TRUE(builder::scan_tree(root_, options, &entries, &report, &error)) << error;
    runs.push_back(entries);
  }
  if (saved != nullptr) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  const uint16_t date_2010 = (30 << 9) | (1 << 5) | 1, date_2001 = (21 << 9) | (1 << 5) | 1;
  for (const auto& entries : runs) {
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "new.txt");
    EXPECT_EQ(entries[0].write_date, date_2010);
    EXPECT_EQ(entries[0].write_time, 0);
    EXPECT_EQ(entries[0].creation_date, date_2010);
    EXPECT_EQ(entries[1].write_date, date_2001);
    EXPECT_EQ(entries[1].write_time, 0);
    if (have_xattr) {
      EXPECT_EQ(entries[1].creation_date, (20 << 9) | (1 << 5) | 1);
      EXPECT_EQ(entries[1].creation_time, 0);
    }
  }
}

}  // namespace

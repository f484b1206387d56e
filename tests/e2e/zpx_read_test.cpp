// zpx list, test and extract on installers and bare archives, good and damaged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/pe_image.h"
#include "support/test_archive.h"

namespace {

class ZpxReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.path() + "/payload";
    write_file(tree_ + "/a.txt", "alpha\n");
    write_file(tree_ + "/sub/b.txt", std::string(3000, 'b'));
    write_file(tree_ + "/sub/n.bin", noise_);
    write_file(tree_ + "/z.txt", "last\n");
    installer_ = scratch_.path() + "/setup";
    archive_ = scratch_.path() + "/demo.zpx";
    const RunResult a = build_installer(tree_, installer_);
    ASSERT_EQ(a.exit_code, 0) << a.err;
    const RunResult b = build_archive(tree_, archive_);
    ASSERT_EQ(b.exit_code, 0) << b.err;
  }

  // Adds sub/n2.bin, incompressible and large enough to fill a whole block, which is then
  // stored as it is, rebuilds, and changes one byte of it: only that file's CRC can notice.
  void build_damaged() {
    const std::string big = noise(2200000, 12);
    write_file(tree_ + "/sub/n2.bin", big);
    for (const std::string& file : {installer_, archive_}) {
      const RunResult built =
          file == installer_ ? build_installer(tree_, file) : build_archive(tree_, file);
      ASSERT_EQ(built.exit_code, 0) << built.err;
      const size_t at = find_in_file(file, big.substr(1500000, 64));
      ASSERT_NE(at, std::string::npos) << "the noise was not stored";
      patch_file(file, at, std::string(1, static_cast<char>(big[1500000] ^ 0x21)));
    }
  }

  void expect_tree(const std::string& out) {
    EXPECT_EQ(list_tree(out), list_tree(tree_));
    for (const char* name : {"a.txt", "sub/b.txt", "sub/n.bin", "z.txt"}) {
      EXPECT_TRUE(read_file(out + "/" + name) == read_file(tree_ + "/" + name)) << name;
    }
  }

  Scratch scratch_;
  std::string tree_, installer_, archive_;
  const std::string noise_ = noise(30000, 11);
};

TEST_F(ZpxReadTest, ListShowsEveryEntryOfInstallerAndArchive) {
  for (const std::string& file : {installer_, archive_}) {
    SCOPED_TRACE(file);
    const RunResult run = run_zpx({"list", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const char* name : {"a.txt", "sub\\b.txt", "sub\\n.bin", "z.txt"}) {
      EXPECT_NE(run.out.find(name), std::string::npos) << name << "\n" << run.out;
    }
    EXPECT_NE(run.out.find("folder"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("      30000  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("4 files, 1 folder, 33011 bytes"), std::string::npos) << run.out;
  }
  EXPECT_NE(run_zpx({"list", installer_}).out.find(": installer, POSIX ELF x86_64 stub of"),
            std::string::npos);
}

TEST_F(ZpxReadTest, TestAndExtractAcceptGoodFiles) {
  for (const std::string& file : {installer_, archive_}) {
    SCOPED_TRACE(file);
    const RunResult tested = run_zpx({"test", file});
    EXPECT_EQ(tested.exit_code, 0) << tested.err;
    EXPECT_NE(tested.out.find("4 files tested, no errors"), std::string::npos) << tested.out;

    const std::string out = scratch_.path() + "/out-" + std::to_string(file.size());
    const RunResult extracted = run_zpx({"extract", file, "-d", out});
    EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
    expect_tree(out);
  }
}

TEST_F(ZpxReadTest, ExtractWithoutFolderUsesTheCurrentFolder) {
  const std::string out = scratch_.path() + "/here";
  make_folders(out);
  const RunResult run = run_zpx({"extract", archive_}, out);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  expect_tree(out);
}

TEST_F(ZpxReadTest, ExistingFilesAreKeptUnlessOverwriteIsGiven) {
  const std::string out = scratch_.path() + "/out";
  write_file(out + "/a.txt", "mine\n");
  const RunResult kept = run_zpx({"extract", "-v", archive_, "-d", out});
  EXPECT_EQ(kept.exit_code, 0) << kept.err;  // keeping a file by choice is no failure
  EXPECT_EQ(read_file(out + "/a.txt"), "mine\n");
  EXPECT_EQ(read_file(out + "/z.txt"), "last\n");
  EXPECT_NE(kept.err.find("Kept existing file"), std::string::npos) << kept.err;

  const RunResult replaced = run_zpx({"extract", "--overwrite", archive_, "-d", out});
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(read_file(out + "/a.txt"), "alpha\n");
}

TEST_F(ZpxReadTest, DamagedContentsFailTestAndExtractButSpareTheOtherFiles) {
  ASSERT_NO_FATAL_FAILURE(build_damaged());
  for (const std::string& file : {installer_, archive_}) {
    SCOPED_TRACE(file);
    const RunResult tested = run_zpx({"test", "-v", file});
    EXPECT_EQ(tested.exit_code, 1);
    EXPECT_NE(tested.out.find("FAILED  sub\\n2.bin (CRC-32 differs)"), std::string::npos)
        << tested.out;
    EXPECT_NE(tested.out.find("OK      sub\\n.bin"), std::string::npos) << tested.out;
    EXPECT_NE(tested.out.find("OK      z.txt"), std::string::npos) << tested.out;
    EXPECT_NE(tested.err.find(kDamagedText), std::string::npos) << tested.err;

    const std::string out = scratch_.path() + "/bad-" + std::to_string(file.size());
    const RunResult extracted = run_zpx({"extract", file, "-d", out});
    EXPECT_EQ(extracted.exit_code, 1);
    EXPECT_NE(extracted.err.find(kDamagedText), std::string::npos) << extracted.err;
    EXPECT_NE(extracted.err.find("n2.bin"), std::string::npos) << extracted.err;
    EXPECT_FALSE(exists(out + "/sub/n2.bin"));
    EXPECT_TRUE(read_file(out + "/sub/n.bin") == noise_);
    EXPECT_EQ(read_file(out + "/a.txt"), "alpha\n");
    EXPECT_EQ(read_file(out + "/z.txt"), "last\n");
  }
}

TEST_F(ZpxReadTest, StructuralDamageFailsEveryCommand) {
  struct Case {
    const char* name;
    uint32_t keep;  // bytes of the archive kept
  };
  const uint32_t base = archive_offset(installer_);
  ASSERT_NE(base, 0u);
  for (const Case& c : {Case{"header cut", 20}, Case{"directory cut", 30000}}) {
    SCOPED_TRACE(c.name);
    const std::string file = scratch_.path() + "/cut";
    write_file(file, read_file(installer_).substr(0, base + c.keep));
    for (const char* command : {"list", "test", "extract"}) {
      SCOPED_TRACE(command);
      std::vector<std::string> args = {command, file};
      if (std::string(command) == "extract") {
        args.push_back("-d");
        args.push_back(scratch_.path() + "/cut-out");
      }
      const RunResult run = run_zpx(args);
      EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
      EXPECT_FALSE(run.err.empty());
    }
  }
}

TEST_F(ZpxReadTest, ChangedStubIsReportedByTest) {
  const size_t at = find_in_file(installer_, "Click the Install button");
  ASSERT_NE(at, std::string::npos);
  patch_file(installer_, at, "K");
  const RunResult tested = run_zpx({"test", installer_});
  EXPECT_EQ(tested.exit_code, 1);
  EXPECT_NE(tested.err.find("This installer has been modified."), std::string::npos);
  EXPECT_EQ(run_zpx({"list", installer_}).exit_code, 0);  // the archive itself is sound

  // extract stops as the installer would, unless told to ignore the stub.
  const std::string out = scratch_.path() + "/out";
  const RunResult refused = run_zpx({"extract", installer_, "-d", out});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("This installer has been modified."), std::string::npos);
  EXPECT_NE(refused.err.find("--ignore-stub"), std::string::npos) << refused.err;
  EXPECT_FALSE(exists(out + "/a.txt"));
  const RunResult forced = run_zpx({"extract", installer_, "-d", out, "--ignore-stub"});
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_NE(forced.err.find("This installer has been modified."), std::string::npos);
  expect_tree(out);
}

// A PE32 stub for zpx alone (it is never run): headers, the integrity tag, filler.
std::vector<uint8_t> pe_stub() {
  std::vector<uint8_t> stub(6144, 0x90);
  pe_image::put_headers(stub, false);
  const char tag[] = "ZPX-INTEGRITY-v1";
  for (uint32_t i = 0; i < 16; ++i) stub[0x1000 + i] = static_cast<uint8_t>(tag[i]);
  for (uint32_t i = 16; i < 28; ++i) stub[0x1000 + i] = 0;
  return stub;
}

std::string as_text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}
std::vector<uint8_t> as_bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST_F(ZpxReadTest, SignedInstallerIsListedTestedAndExtracted) {
  const std::string stub = scratch_.path() + "/pe-stub.exe";
  write_file(stub, as_text(pe_stub()));
  const std::string setup = scratch_.path() + "/signed.exe";
  const RunResult wrapped = run_zpx({"wrap", "--stub", stub, "-o", setup, archive_});
  ASSERT_EQ(wrapped.exit_code, 0) << wrapped.err;
  std::vector<uint8_t> file = as_bytes(read_file(setup));
  EXPECT_NE(run_zpx({"list", setup}).out.find("not signed"), std::string::npos);
  pe_image::sign(file, false, 1000);
  const size_t table = file.size() - 1000;
  write_file(setup, as_text(file));

  const RunResult listed = run_zpx({"list", setup});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("signed: certificate table at offset " + std::to_string(table) +
                            ", 1000 bytes"),
            std::string::npos)
      << listed.out;
  const RunResult tested = run_zpx({"test", setup});
  EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
  EXPECT_NE(tested.out.find("4 files tested, no errors"), std::string::npos) << tested.out;
  const std::string out = scratch_.path() + "/out-signed";
  const RunResult extracted = run_zpx({"extract", setup, "-d", out});
  EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
  expect_tree(out);

  // "Signed" needs a certificate table where the entry says, ending the file, that starts
  // with a WIN_CERTIFICATE header; the entry alone lies where the self-check does not
  // look. Anything else is said by list and fails test.
  const auto le32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  const uint32_t entry = pe_image::certificate_entry(false);
  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
    const char* said;
  };
  const Damage damages[] = {
      {"junk behind the table", [](std::vector<uint8_t>& f) { f.insert(f.end(), 100 * 1024, 'j'); },
       "102400 bytes follow the certificate table"},
      {"entry past the end",
       [&](std::vector<uint8_t>& f) {
         const std::string size = le32(1008);
         std::copy(size.begin(), size.end(), f.begin() + entry + 4);
       },
       "points past the end of the file"},
      {"wrong revision", [&](std::vector<uint8_t>& f) { f[table + 5] = 0x01; },
       "revision is 0x0100, not 0x0200"},
      {"length beyond the table",
       [&](std::vector<uint8_t>& f) {
         const std::string length = le32(5000);
         std::copy(length.begin(), length.end(), f.begin() + table);
       },
       "the certificate's length is 5000, its table 1000 bytes"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> damaged = file;
    d.apply(damaged);
    const std::string path = scratch_.path() + "/damaged-signature.exe";
    write_file(path, as_text(damaged));
    const RunResult damaged_list = run_zpx({"list", path});
    EXPECT_EQ(damaged_list.exit_code, 0) << damaged_list.err;
    EXPECT_NE(damaged_list.out.find(std::string("not signed: ")), std::string::npos)
        << damaged_list.out;
    EXPECT_NE(damaged_list.out.find(d.said), std::string::npos) << damaged_list.out;
    const RunResult damaged_test = run_zpx({"test", path});
    EXPECT_EQ(damaged_test.exit_code, 1) << damaged_test.out;
    EXPECT_NE(damaged_test.err.find(d.said), std::string::npos) << damaged_test.err;
  }

  // A signed installer whose stub code changed still fails the self-check.
  patch_file(setup, 0x800, "\xCC");
  const RunResult changed = run_zpx({"test", setup});
  EXPECT_EQ(changed.exit_code, 1);
  EXPECT_NE(changed.err.find("This installer has been modified."), std::string::npos);

  // A signed stub is refused: the signature would not cover the archive.
  std::vector<uint8_t> signed_stub = pe_stub();
  pe_image::sign(signed_stub, false, 64);
  write_file(stub, as_text(signed_stub));
  for (const char* command : {"wrap", "build"}) {
    const std::string refused = scratch_.path() + "/refused-" + command;
    const RunResult run =
        run_zpx({command, "--stub", stub, "-o", refused, command[0] == 'w' ? archive_ : tree_});
    EXPECT_EQ(run.exit_code, 1) << command;
    EXPECT_NE(run.err.find("sign the finished installer instead"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(refused)) << command;
  }
}

TEST_F(ZpxReadTest, FilesThatAreNoArchiveFail) {
  const std::string text = scratch_.path() + "/plain.txt";
  write_file(text, "just text, no archive\n");
  const std::string fifo = scratch_.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);  // refused at once, not waited on
  for (const std::string& file : {text, scratch_.path() + "/missing", fifo}) {
    SCOPED_TRACE(file);
    for (const char* command : {"list", "test", "extract"}) {
      const RunResult run = run_zpx({command, file});
      EXPECT_EQ(run.exit_code, 1) << command;
      EXPECT_FALSE(run.err.empty()) << command;
    }
  }
  EXPECT_NE(run_zpx({"list", scratch_.path() + "/missing"}).err.find("Cannot open"),
            std::string::npos);
}

TEST_F(ZpxReadTest, NamesTooLongForTheFolderAreReportedNotPassedOverSilently) {
  const std::string tree = scratch_.path() + "/long";
  const std::string long_name(40, 'n');
  write_file(tree + "/" + long_name, "long\n");
  write_file(tree + "/s", "short\n");
  const std::string archive = scratch_.path() + "/long.zpx";
  ASSERT_EQ(build_archive(tree, archive).exit_code, 0);
  // A folder whose Windows name leaves room for "s" but not for the long name.
  std::string out = scratch_.path();
  while (out.size() < 200) out += "/" + std::string(40, 'd');
  out = out.substr(0, 228);
  const RunResult run = run_zpx({"extract", archive, "-d", out});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find(long_name + "\nThe path would be longer than 259 characters"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(out + "/s"), "short\n");
  EXPECT_FALSE(exists(out + "/" + long_name));
}

TEST_F(ZpxReadTest, FolderOfTheLongestWindowsNameIsRefusedWithoutOverflow) {
  // 258 characters here, 260 in its Windows form (Z: in front): no room for a separator.
  std::string out = scratch_.path();
  while (out.size() < 258) out += "/" + std::string(40, 'd');
  out = out.substr(0, 258);
  if (out.back() == '/') out.back() = 'e';
  const RunResult run = run_zpx({"extract", archive_, "-d", out});
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("Cannot create folder"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(out + "/a.txt"));
}

TEST_F(ZpxReadTest, NamesReachTheTerminalWithoutControlBytes) {
  // A title-setting escape sequence with its bell, a screen clear, a carriage return and
  // a DEL: the unsafe names are refused, the DEL name is extracted; every command and
  // the installer show each control byte as '?'.
  const std::string archive = scratch_.path() + "/names.zpx";
  write_file(archive, build_test_archive({{.name = "evil\x1b]0;owned\x07.txt", .contents = "1"},
                                          {.name = "clear\x1b[2J\r.txt", .contents = "2"},
                                          {.name = "del\x7f.txt", .contents = "3"}}));
  const std::string setup = scratch_.path() + "/names-setup";
  const RunResult wrapped = run_zpx({"wrap", "--stub", setup_bin(), "-o", setup, archive});
  ASSERT_EQ(wrapped.exit_code, 0) << wrapped.err;
  auto expect_clean = [](const std::string& text) {
    for (char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      EXPECT_TRUE((u >= 0x20 && u != 0x7F) || u == '\n') << int(u) << " in\n" << text;
    }
  };
  const std::string out = scratch_.path() + "/names-out";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", archive}, {"test", archive}, {"extract", archive, "-d", out}}) {
    SCOPED_TRACE(args[0]);
    const RunResult run = run_zpx(args);
    expect_clean(run.out);
    expect_clean(run.err);
  }
  EXPECT_EQ(read_file(out + "/del\x7f.txt"), "3");
  EXPECT_EQ(list_tree(out), std::vector<std::string>{"del\x7f.txt"});

  const RunResult run = run_setup(scratch_, setup, "folder C:\\Names\ninstall\nok\nok\n");
  EXPECT_EQ(run.exit_code, 0);
  expect_clean(run.out);
  EXPECT_NE(run.out.find("Extracting del?.txt"), std::string::npos) << run.out;
  EXPECT_EQ(read_file(scratch_.drive_c("Names/del\x7f.txt")), "3");
}

// A name that is a device on Windows is damage for zpx extract as for the installer:
// nothing is written for it, and the files around it are.
TEST_F(ZpxReadTest, ExtractWritesNothingForDeviceNames) {
  const std::string archive = scratch_.path() + "/devices.zpx";
  write_file(archive, build_test_archive({{.name = "aux.txt", .contents = "device"},
                                          {.name = "sub", .folder = true},
                                          {.name = "sub\\Con .log", .contents = "device"},
                                          {.name = "sub\\console.txt", .contents = "file"}}));
  const std::string out = scratch_.path() + "/devices";
  const RunResult run = run_zpx({"extract", "-d", out, archive});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("aux.txt"), std::string::npos) << run.err;
  EXPECT_EQ(list_tree(out), (std::vector<std::string>{"sub", "sub/console.txt"}));
}

TEST_F(ZpxReadTest, TestReportsStructureThatDisagreesWithTheFileAsDamage) {
  // Nothing guards the header, the directory and the entry count with a checksum; zpx
  // test holds them against what the packer writes. Every file's contents stay sound.
  const std::vector<TestEntry> entries = {{.name = "sub", .folder = true},
                                          {.name = "sub\\a.txt", .contents = "alpha"},
                                          {.name = "b.txt", .contents = "beta"}};
  const std::string good = build_test_archive(entries);
  auto le32 = [](uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  uint32_t directory = 0;
  std::memcpy(&directory, good.data() + 4, 4);
  struct Case {
    const char* what;
    std::string archive;
    const char* reason;  // in the Structure line; nullptr: none
  };
  std::vector<Case> cases = {{"as written", good, nullptr}};
  {
    std::vector<TestEntry> two = entries;
    two[2].name = "sub\\a.txt";
    cases.push_back({"two entries of one name", build_test_archive(two), "two entries are named"});
  }
  cases.push_back({"entry count one short", build_test_archive(entries, {.entry_count = 2}),
                   "does not end after the header's 2 entries"});
  {
    std::string a = good;
    a.replace(20, 4, le32(uint32_t(a.size()) + 1));
    cases.push_back({"archive length", a, "archive length"});
  }
  {
    std::string a = good;
    a.replace(24, 4, le32(directory - 41));
    cases.push_back({"data length", a, "data length"});
  }
  {
    std::string a = good + "appended";
    cases.push_back({"bytes behind the directory", a, "archive length"});
  }
  {
    // The stored directory block holds the records as they are: the first file's
    // stream offset (behind the folder's record and name) points into the directory.
    std::string a = good;
    const size_t record = directory + 6 + 7 + 38 + 3;
    ASSERT_EQ(a.substr(record + 38, 9), "sub\\a.txt");
    a.replace(record + 4, 4, le32(directory));
    cases.push_back({"stream offset in the directory", a, "lies outside the data area"});
  }
  // The streams held against the directory. Records in the stored directory block:
  // "sub" at 0, "sub\\a.txt" at 41, "b.txt" at 88.
  const size_t records = directory + 6 + 7;
  auto with_record = [&](std::string a, size_t record, size_t field, const std::string& value) {
    a.replace(records + record + field, value.size(), value);
    return a;
  };
  const std::string folder_bit(1, char(format::kFlagFolder));
  ASSERT_EQ(good.substr(records + 41 + 38, 9), "sub\\a.txt");
  ASSERT_EQ(good.substr(records + 88 + 38, 5), "b.txt");
  cases.push_back({"a file turned into a folder",
                   with_record(good, 88, format::kEntryFlags, folder_bit),
                   "stream member b.txt is claimed by no entry"});
  cases.push_back({"both files turned into folders",
                   with_record(with_record(good, 41, format::kEntryFlags, folder_bit), 88,
                               format::kEntryFlags, folder_bit),
                   "stream member sub\\a.txt is claimed by no entry"});
  // An entry whose file still passes its test, but which disagrees with its member.
  cases.push_back({"an entry renamed", with_record(good, 88, 38, "c"),
                   "stream member b.txt is claimed by entries of other names: c.txt"});
  {
    std::vector<TestEntry> short_entry = entries;
    short_entry[2].size = 3;  // "bet", with its CRC
    short_entry[2].crc_xor = test_crc32("beta") ^ test_crc32("bet");
    cases.push_back({"an entry's size", build_test_archive(short_entry),
                     "the entry b.txt is 3 bytes, its stream member b.txt 4"});
  }
  {
    // Identical files stored once: several entries claim one member, under its name or
    // another; each keeps its own name in the directory.
    std::vector<TestEntry> shared = entries;
    shared.push_back({.name = "copy of a.txt", .contents = "alpha", .shares = 1});
    shared.push_back({.name = "sub\\again.txt", .contents = "alpha", .shares = 1});
    cases.push_back({"entries sharing a member", build_test_archive(shared), nullptr});
    shared.back().contents = "alph";
    cases.push_back({"an entry sharing a member of another size", build_test_archive(shared),
                     "the entry sub\\again.txt is 4 bytes, its stream member sub\\a.txt 5"});
    // b.txt at the member of a.txt, with its size and CRC: its own member is left over.
    std::vector<TestEntry> moved = entries;
    moved[2].shares = 1;
    moved[2].contents = "alpha";
    const std::string moved_archive = build_test_archive(moved);
    uint32_t moved_directory = 0;
    std::memcpy(&moved_directory, moved_archive.data() + 4, 4);
    // The data area as written, the directory with the moved entry (of the same length).
    const std::string a = good.substr(0, directory) + moved_archive.substr(moved_directory);
    ASSERT_EQ(a.size(), good.size());
    cases.push_back(
        {"an entry at another file's member", a, "stream member b.txt is claimed by no entry"});
  }
  // Names the installer refuses as damage, and dates no clock shows: one flipped bit of
  // the directory makes them, and the file's contents stay sound.
  const struct {
    const char* what;
    TestEntry changed;  // in place of b.txt
    const char* reason;
  } entry_cases[] = {
      {"a slash in a name", {.name = "b/txt", .contents = "beta"}, "holds a slash"},
      {"a control byte in a name",
       {.name = std::string("b\x01txt"), .contents = "beta"},
       "is one the installer refuses"},
      {"a parent folder",
       {.name = "..\\b.txt", .contents = "beta"},
       "is one the installer refuses"},
      {"month 0", {.name = "b.txt", .contents = "beta", .write_date = (20 << 9) | 6}, "(month 0)"},
      {"hour 27",
       {.name = "b.txt", .contents = "beta", .write_date = 0x2926, .write_time = 27 << 11},
       "(hour 27)"},
      {"February 30 of a creation date",
       {.name = "b.txt", .contents = "beta", .creation_date = (21 << 9) | (2 << 5) | 30},
       "creation time of b.txt is impossible (day 30 of month 2)"},
  };
  for (const auto& e : entry_cases) {
    std::vector<TestEntry> changed = entries;
    changed[2] = e.changed;
    cases.push_back({e.what, build_test_archive(changed), e.reason});
  }
  cases.push_back({"February 29 of a leap year",
                   build_test_archive({{.name = "b.txt",
                                        .contents = "beta",
                                        .write_date = (20 << 9) | (2 << 5) | 29,
                                        .write_time = (23 << 11) | (59 << 5) | 29}}),
                   nullptr});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = scratch_.path() + "/structure.zpx";
    write_file(file, c.archive);
    const RunResult run = run_zpx({"test", file});
    if (c.reason == nullptr) {
      EXPECT_EQ(run.exit_code, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
    EXPECT_NE(run.err.find(std::string("Structure: ")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(kDamagedText), std::string::npos) << run.err;
    // A failure of the structure, not of a file: every file decodes and matches its CRC
    // (but the one whose stream offset was changed).
    EXPECT_NE(run.err.find("structure damaged ("), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("failed the test") == std::string::npos,
              std::string(c.what) != "stream offset in the directory")
        << run.err;
  }
}

TEST_F(ZpxReadTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"list"},
      {"test"},
      {"extract"},
      {"list", archive_, archive_},
      {"test", "--overwrite", archive_},
      {"list", "--ignore-stub", archive_},
      {"extract", archive_, "-d"},
      {"extract", archive_, "--force"},
  };
  for (const auto& args : cases) {
    const RunResult run = run_zpx(args);
    EXPECT_EQ(run.exit_code, 2) << args[0] << " " << args.size();
    EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
  }
}

}  // namespace

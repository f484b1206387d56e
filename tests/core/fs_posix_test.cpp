#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "codec/archive_reader.h"
#include "platform/fs.h"
#include "support/temp_root.h"
#include "ui/ui.h"

namespace {

class FileLayer : public ::testing::Test {
 protected:
  void SetUp() override { last_os_error = 0; }
  void TearDown() override { last_os_error = 0; }
  TempRoot root;
};

TEST_F(FileLayer, MissingPathsGiveMinusOneAndNotFound) {
  struct Case {
    const char* path;
    uint32_t error;
  } cases[] = {
      {"C:\\missing.txt", kErrorFileNotFound},
      {"C:\\no\\such\\file.txt", kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    last_os_error = 0;
    EXPECT_EQ(fs_get_attributes(c.path), kInvalidAttributes) << c.path;
    EXPECT_EQ(last_os_error, c.error) << c.path;
    EXPECT_EQ(fs_open_existing(c.path, kGenericRead), kNoFile) << c.path;
    EXPECT_EQ(last_os_error, c.error) << c.path;
    last_os_error = 0;
    EXPECT_EQ(fs_delete(c.path), 0) << c.path;
    EXPECT_EQ(last_os_error, c.error) << c.path;
  }
  EXPECT_EQ(fs_create_output("C:\\no\\file.txt", kAttributeNormal), kNoFile);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorPathNotFound));
}

TEST_F(FileLayer, OverlongNameComponentHasNoReasonText) {
  // Windows refuses a name component beyond 255 characters with a number that has no
  // reason line; it is no "Invalid path".
  const std::string path = "C:\\" + std::string(256, 'a');
  EXPECT_EQ(fs_create_output(path.c_str(), kAttributeNormal), kNoFile);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorFilenameExcedRange));
  EXPECT_STREQ(os_error_suffix(), "");
  last_os_error = 0;
  EXPECT_EQ(fs_create_folder(path.c_str()), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorFilenameExcedRange));
}

TEST_F(FileLayer, WriteFailuresRecordDiskFull) {
  // ENOSPC from /dev/full (opened here: the file layer opens no device).
  const FileHandle full = open("/dev/full", O_RDWR | O_CLOEXEC);
  ASSERT_NE(full, kNoFile);
  const char bytes[64] = {};
  EXPECT_EQ(fs_write(full, bytes, sizeof bytes), -1);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorDiskFull));
  fs_close(full);

  // A write cut short by the file size limit.
  const FileHandle out = fs_create_output("C:\\limited.bin", kAttributeNormal);
  ASSERT_NE(out, kNoFile);
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 40;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const int32_t written = fs_write(out, bytes, sizeof bytes);
  const uint32_t error = last_os_error;
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(written, -1);
  EXPECT_EQ(error, static_cast<uint32_t>(kErrorDiskFull));

  // A successful write clears the error; writing nothing succeeds with 0.
  EXPECT_EQ(fs_write(out, bytes, 0), 0);
  EXPECT_EQ(last_os_error, 0u);
  last_os_error = 5;
  EXPECT_EQ(fs_write(out, bytes, 8), 8);
  EXPECT_EQ(last_os_error, 0u);
  EXPECT_EQ(fs_close(out), 1);
}

TEST_F(FileLayer, FailedCloseKeepsAnEarlierError) {
  const FileHandle full = open("/dev/full", O_RDWR | O_CLOEXEC);
  ASSERT_NE(full, kNoFile);
  const char byte = 0;
  EXPECT_EQ(fs_write(full, &byte, 1), -1);
  EXPECT_EQ(fs_close(full), 1);
  EXPECT_EQ(fs_close(full), 0);  // no longer open
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorDiskFull));
  last_os_error = 0;
  EXPECT_EQ(fs_close(full), 0);
  EXPECT_NE(last_os_error, 0u);  // with nothing recorded before, the close's own error
}

TEST_F(FileLayer, WhichSuccessesClearTheError) {
  write_file(root.posix("C:\\a.txt"), "abc");
  // These leave an earlier error in place.
  last_os_error = 5;
  EXPECT_NE(fs_get_attributes("C:\\a.txt"), kInvalidAttributes);
  EXPECT_EQ(fs_create_folder("C:\\dir"), 1);
  EXPECT_EQ(fs_delete("C:\\a.txt"), 1);
  EXPECT_EQ(last_os_error, 5u);
  // These clear it.
  const FileHandle out = fs_create_output("C:\\b.txt", kAttributeNormal);
  ASSERT_NE(out, kNoFile);
  EXPECT_EQ(last_os_error, 0u);
  last_os_error = 5;
  EXPECT_EQ(fs_seek(out, 0, kFileBegin), 0u);
  EXPECT_EQ(last_os_error, 0u);
  last_os_error = 5;
  char buffer[4];
  EXPECT_EQ(fs_read(out, buffer, sizeof buffer), 0);  // empty file: end at once
  EXPECT_EQ(last_os_error, 0u);
  fs_close(out);
}

TEST_F(FileLayer, SeekBeforeTheStartIsANegativeSeekWithoutReasonText) {
  write_file(root.posix("C:\\a.txt"), "abc");
  const FileHandle file = fs_open_existing("C:\\a.txt", kGenericRead);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs_seek(file, -1, kFileBegin), kSeekFailed);
  EXPECT_EQ(last_os_error, 131u);  // ERROR_NEGATIVE_SEEK, as Windows records it
  EXPECT_STREQ(os_error_suffix(), "");
  EXPECT_EQ(fs_seek(file, 0, kFileCurrent), 0u);  // the position is unchanged
  fs_close(file);
}

TEST_F(FileLayer, FolderCreation) {
  EXPECT_EQ(fs_create_folder("C:\\new"), 1);
  EXPECT_TRUE(is_folder(root.posix("C:\\new")));
  EXPECT_EQ(fs_create_folder("C:\\new"), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAlreadyExists));
  EXPECT_EQ(fs_create_folder("C:\\missing\\new"), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorPathNotFound));
  EXPECT_EQ(fs_get_attributes("C:\\new") & kAttributeDirectory, kAttributeDirectory);
}

TEST_F(FileLayer, ArchiveReadKeepsThePositionInStep) {
  write_file(root.posix("C:\\self.bin"), "0123456789");
  archive_reader.archive_file = fs_open_existing("C:\\self.bin", kGenericRead);
  ASSERT_NE(archive_reader.archive_file, kNoFile);
  archive_reader.file_position = 0;
  char buffer[16];
  EXPECT_EQ(archive_read(buffer, 4), 4);
  EXPECT_EQ(archive_reader.file_position, 4u);
  EXPECT_EQ(archive_read(buffer, 16), 6);  // short at the end of the file
  EXPECT_EQ(archive_reader.file_position, 10u);
  EXPECT_EQ(archive_read(buffer, 16), 0);
  EXPECT_EQ(archive_reader.file_position, 10u);
  fs_close(archive_reader.archive_file);
  EXPECT_EQ(archive_read(buffer, 4), -1);  // closed handle: fails, position kept
  EXPECT_EQ(archive_reader.file_position, 10u);
  archive_reader.archive_file = kNoFile;
}

TEST_F(FileLayer, ReadOnlyAttributeRefusesWritingAndDeleting) {
  write_file(root.posix("C:\\ro.txt"), "keep");
  ASSERT_EQ(fs_set_attributes("C:\\ro.txt", kAttributeReadOnly | kAttributeHidden), 1);
  EXPECT_EQ(fs_get_attributes("C:\\ro.txt"), kAttributeReadOnly | kAttributeHidden);

  EXPECT_EQ(fs_create_output("C:\\ro.txt", kAttributeNormal), kNoFile);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  EXPECT_EQ(fs_open_existing("C:\\ro.txt", kGenericRead | kGenericWrite), kNoFile);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  EXPECT_EQ(fs_delete("C:\\ro.txt"), 0);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  const FileHandle reader = fs_open_existing("C:\\ro.txt", kGenericRead);
  EXPECT_NE(reader, kNoFile);
  fs_close(reader);
  EXPECT_EQ(read_file(root.posix("C:\\ro.txt")), "keep");

  // Clearing the bits makes it an ordinary file again.
  ASSERT_EQ(fs_set_attributes("C:\\ro.txt", 0), 1);
  EXPECT_EQ(fs_get_attributes("C:\\ro.txt"), kAttributeNormal);
  EXPECT_EQ(fs_delete("C:\\ro.txt"), 1);
}

TEST_F(FileLayer, ReadOnlyFolderStillTakesNewFiles) {
  ASSERT_EQ(fs_create_folder("C:\\dir"), 1);
  ASSERT_EQ(fs_set_attributes("C:\\dir", kAttributeReadOnly | kAttributeSystem), 1);
  EXPECT_EQ(fs_get_attributes("C:\\dir"),
            kAttributeDirectory | kAttributeReadOnly | kAttributeSystem);
  struct stat st;
  ASSERT_EQ(stat(root.posix("C:\\dir").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);  // as on Windows, the bit does not lock the folder
  ASSERT_EQ(fs_set_attributes("C:\\dir", 0), 1);
  EXPECT_EQ(fs_get_attributes("C:\\dir"), kAttributeDirectory);
}

TEST_F(FileLayer, FolderIsNotAFile) {
  ASSERT_EQ(fs_create_folder("C:\\dir"), 1);
  EXPECT_EQ(fs_create_output("C:\\dir", kAttributeNormal), kNoFile);
  EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  EXPECT_EQ(fs_open_existing("C:\\dir", kGenericRead), kNoFile);
  EXPECT_EQ(fs_delete("C:\\dir"), 0);
}

TEST_F(FileLayer, CreateOutputTruncatesAndDropsOldAttributes) {
  write_file(root.posix("C:\\f.txt"), "old contents");
  const FileHandle old = fs_open_existing("C:\\f.txt", kGenericRead | kGenericWrite);
  ASSERT_NE(old, kNoFile);
  ASSERT_EQ(fs_set_times(old, 0x2849, 0xB026, 0, 0), 1);  // a recorded creation time
  fs_close(old);
  const FileHandle out = fs_create_output("C:\\f.txt", kAttributeNormal);
  ASSERT_NE(out, kNoFile);
  EXPECT_EQ(fs_write(out, "new", 3), 3);
  fs_close(out);
  EXPECT_EQ(read_file(root.posix("C:\\f.txt")), "new");
  EXPECT_EQ(fs_get_attributes("C:\\f.txt"), kAttributeNormal);
  char created[32];
  EXPECT_LT(
      getxattr(root.posix("C:\\f.txt").c_str(), "user.zarpex.creation", created, sizeof created),
      0);
}

TEST_F(FileLayer, HiddenOrSystemFileIsNotReplaced) {
  // As CreateFileA with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL: access denied, the file
  // untouched.
  for (uint32_t bits : {kAttributeHidden, kAttributeSystem, kAttributeHidden | kAttributeSystem}) {
    SCOPED_TRACE(bits);
    write_file(root.posix("C:\\h.txt"), "keep");
    ASSERT_EQ(fs_set_attributes("C:\\h.txt", bits), 1);
    EXPECT_EQ(fs_create_output("C:\\h.txt", kAttributeNormal), kNoFile);
    EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
    EXPECT_EQ(read_file(root.posix("C:\\h.txt")), "keep");
    EXPECT_EQ(fs_get_attributes("C:\\h.txt"), bits);
    ASSERT_EQ(fs_set_attributes("C:\\h.txt", 0), 1);
  }
}

TEST_F(FileLayer, OnlyARegularFileOpensAsAFile) {
  // A FIFO, a socket and a device are refused at once, as Windows refuses a device
  // name; nothing waits for a reader or a writer. The alarm ends a run that would.
  ASSERT_EQ(mkfifo(root.posix("C:\\fifo").c_str(), 0666), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sock_path = root.posix("C:\\sock");
  ASSERT_LT(sock_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, sock_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(symlink("/dev/null", root.posix("C:\\device").c_str()), 0);
  alarm(10);
  for (const char* path : {"C:\\fifo", "C:\\sock", "C:\\device"}) {
    SCOPED_TRACE(path);
    for (uint32_t access : {kGenericRead, kGenericWrite, kGenericRead | kGenericWrite}) {
      last_os_error = 0;
      EXPECT_EQ(fs_open_existing(path, access), kNoFile);
      EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
    }
    if (std::string(path) == "C:\\device") continue;  // a link: replaced (below)
    last_os_error = 0;
    EXPECT_EQ(fs_create_output(path, kAttributeNormal), kNoFile);
    EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  }
  alarm(0);
  close(sock);
}

TEST_F(FileLayer, CreateOutputReplacesWhatIsAtTheNameNeverWritesThroughIt) {
  namespace fs = std::filesystem;
  fs::create_directories(root.posix("C:\\out\\dir"));
  write_file(root.posix("C:\\out\\victim"), "victim");
  write_file(root.posix("C:\\out\\hard"), "hard");
  ASSERT_EQ(symlink(root.posix("C:\\out\\victim").c_str(), root.posix("C:\\file").c_str()), 0);
  ASSERT_EQ(symlink(root.posix("C:\\out\\dir").c_str(), root.posix("C:\\folder").c_str()), 0);
  ASSERT_EQ(symlink(root.posix("C:\\out\\new").c_str(), root.posix("C:\\nothing").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", root.posix("C:\\device").c_str()), 0);
  ASSERT_EQ(link(root.posix("C:\\out\\hard").c_str(), root.posix("C:\\hardlink").c_str()), 0);
  for (const char* path : {"C:\\file", "C:\\folder", "C:\\nothing", "C:\\device", "C:\\hardlink"}) {
    SCOPED_TRACE(path);
    const FileHandle out = fs_create_output(path, kAttributeNormal);
    ASSERT_NE(out, kNoFile);
    EXPECT_EQ(last_os_error, 0u);
    EXPECT_EQ(fs_write(out, "new", 3), 3);
    EXPECT_EQ(fs_set_times(out, 0, 0, 0x2926, 0x98F1), 1);
    fs_close(out);
    struct stat st;
    ASSERT_EQ(lstat(root.posix(path).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(read_file(root.posix(path)), "new");
  }
  EXPECT_EQ(read_file(root.posix("C:\\out\\victim")), "victim");
  EXPECT_EQ(read_file(root.posix("C:\\out\\hard")), "hard");
  EXPECT_FALSE(path_exists(root.posix("C:\\out\\new")));
  EXPECT_TRUE(fs::is_empty(root.posix("C:\\out\\dir")));
  // Nothing but the names themselves: no temporary file left beside them.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(root.root() + "/drive_c")) ++entries;
  EXPECT_EQ(entries, 6u);  // out, file, folder, nothing, device, hardlink
}

TEST_F(FileLayer, LinksAreReportedAsLinksAndTheirAttributesNeverSetThroughThem) {
  std::filesystem::create_directories(root.posix("C:\\dir"));
  write_file(root.posix("C:\\victim"), "victim");
  ASSERT_EQ(symlink(root.posix("C:\\victim").c_str(), root.posix("C:\\file").c_str()), 0);
  ASSERT_EQ(symlink(root.posix("C:\\dir").c_str(), root.posix("C:\\folder").c_str()), 0);
  ASSERT_EQ(symlink(root.posix("C:\\none").c_str(), root.posix("C:\\nothing").c_str()), 0);
  EXPECT_EQ(fs_get_attributes("C:\\file"), kAttributeReparsePoint);
  EXPECT_EQ(fs_get_attributes("C:\\folder"), kAttributeReparsePoint | kAttributeDirectory);
  EXPECT_EQ(fs_get_attributes("C:\\nothing"), kAttributeReparsePoint);
  for (const char* path : {"C:\\file", "C:\\folder", "C:\\nothing"}) {
    SCOPED_TRACE(path);
    last_os_error = 0;
    EXPECT_EQ(fs_set_attributes(path, kAttributeReadOnly | kAttributeHidden), 0);
    EXPECT_EQ(last_os_error, static_cast<uint32_t>(kErrorAccessDenied));
  }
  EXPECT_EQ(fs_get_attributes("C:\\victim"), kAttributeNormal);
  EXPECT_EQ(fs_get_attributes("C:\\dir"), kAttributeDirectory);
  EXPECT_FALSE(path_exists(root.posix("C:\\none")));
}

TEST_F(FileLayer, TimesFromDosDateAndTime) {
  const FileHandle out = fs_create_output("C:\\t.txt", kAttributeNormal);
  ASSERT_NE(out, kNoFile);
  struct stat before;
  ASSERT_EQ(stat(root.posix("C:\\t.txt").c_str(), &before), 0);
  // Both dates 0: nothing changes, and the call succeeds.
  EXPECT_EQ(fs_set_times(out, 0, 0x1234, 0, 0x1234), 1);
  struct stat after;
  ASSERT_EQ(stat(root.posix("C:\\t.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtime, before.st_mtime);

  // 2000-09-06 19:07:34 written; created 2000-02-09 22:01:12.
  EXPECT_EQ(fs_set_times(out, 0x2849, 0xB026, 0x2926, 0x98F1), 1);
  fs_close(out);
  ASSERT_EQ(stat(root.posix("C:\\t.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtime, local_time(2000, 9, 6, 19, 7, 34));
  char created[32] = {};
  ASSERT_GT(getxattr(root.posix("C:\\t.txt").c_str(), "user.zarpex.creation", created,
                     sizeof created - 1),
            0);
  EXPECT_EQ(std::stoll(created), static_cast<long long>(local_time(2000, 2, 9, 22, 1, 12)));
}

}  // namespace

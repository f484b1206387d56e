// Feeds fuzzer input to the whole extraction, as the installer runs it: the extraction
// driver with its name checks, folders, overwrite prompt, progress line, error reports,
// deletes and the block stream, writing real files into a scratch folder.
//
// Input: byte 0 holds options (bit 0: extract a second time over the first run's files,
// bit 1: overwrite without asking, bit 2: a file-size limit of 512 KB instead of 2 MB, so
// that larger files fail to write), byte 1
// the message-pump call at which Cancel is pressed (0: never), bytes 2 and 3 the answers
// to the message boxes and overwrite prompts, bit by bit; the rest is the archive
// (archive_base 0).
//
// Checked after every run: nothing outside the install folder was created, changed or
// given attributes, and every file left in the install folder has the size and CRC-32 of
// an entry whose name leads there (the driver deletes the files it cannot vouch for).
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "archive/directory.h"
#include "archive/extract.h"
#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/format.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "platform/posix/path_map.h"
#include "state/install_state.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPrefix = 4;
constexpr char kFolder[] = "C:\\inst\\dir";  // the install folder, two levels down
constexpr uint32_t kMaxFiles = 128;          // files begun per run; then Cancel is pressed

struct Run {
  uint8_t answers[2] = {};
  uint32_t answer_bit = 0;
  uint32_t cancel_at = 0;  // drain_messages call that presses Cancel; 0: none
  uint32_t drains = 0;
  uint32_t files = 0;
};
Run run;

bool next_answer() {
  const uint32_t bit = run.answer_bit++ % 16;
  return (run.answers[bit / 8] >> (bit % 8)) & 1;
}

struct Scratch {
  std::string root;    // ZARPEX_ROOT
  std::string parent;  // drive_c/inst: the install folder's parent, with the sentinel
  std::string folder;  // drive_c/inst/dir: the install folder
  std::string sentinel;
};

// Made once and kept to the end of the process, when it is removed (not on a crash, so
// that what the run left can be looked at).
const Scratch& scratch() {
  static const Scratch& s = *[] {
    Scratch& made = *new Scratch;
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/zarpex-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    made.root = pattern;
    made.parent = made.root + "/drive_c/inst";
    made.folder = made.parent + "/dir";
    made.sentinel = made.parent + "/sentinel.txt";
    setenv("ZARPEX_ROOT", made.root.c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(scratch().root, ignored);
    });
    // Writes past the limit fail (disk full) instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    return &made;
  }();
  return s;
}

int archive_fd() {
  static const int fd = memfd_create("archive", 0);
  return fd;
}

// What lies outside the install folder: every path below the root with its kind,
// size, mode, modification time and extended attributes.
std::string describe(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  std::string text = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                     std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  char names[256];
  const ssize_t n = llistxattr(path.c_str(), names, sizeof names);
  if (n > 0) text += " " + std::string(names, static_cast<size_t>(n));
  return text;
}

std::map<std::string, std::string> outside_state() {
  const Scratch& s = scratch();
  std::map<std::string, std::string> state;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(s.root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    if (path == s.folder) {
      it.disable_recursion_pending();
      continue;
    }
    state[path] = describe(path);
  }
  if (ec) abort();
  return state;
}

// Empties the install folder; it stays, so that its parent does not change.
void reset_scratch() {
  const Scratch& s = scratch();
  std::error_code ec;
  if (fs::exists(s.folder)) {
    for (const fs::directory_entry& e : fs::directory_iterator(s.folder)) {
      fs::remove_all(e.path(), ec);  // read-only files go too: folders are never locked
      if (ec) abort();
    }
  }
  if (!fs::exists(s.sentinel)) {
    fs::create_directories(s.folder);
    FILE* f = std::fopen(s.sentinel.c_str(), "w");
    if (f == nullptr) abort();
    std::fputs("outside the install folder\n", f);
    std::fclose(f);
  }
}

// The file entries of the archive, grouped by the POSIX file their name leads to.
struct Expected {
  uint32_t size;
  uint32_t crc;
};

std::map<std::string, std::vector<Expected>> expected_files(uint8_t* staging) {
  std::map<std::string, std::vector<Expected>> files;
  install_state.cancel_requested = 0;  // the decoder stops at a Cancel left by the run
  if (begin_reading(staging, archive_header.directory_offset) != kResultOk) abort();
  for (uint32_t i = 0; i < archive_header.entry_count; ++i) {
    EntryRecord entry;
    const uint8_t* name = nullptr;
    if (parse_next_entry(staging, &entry, &name) != kResultOk) break;
    if (entry.flags & format::kFlagFolder) continue;
    char path[kPathBufferSize * 2];
    std::snprintf(path, sizeof path, "%s\\%.*s", kFolder, static_cast<int>(entry.name_length),
                  reinterpret_cast<const char*>(name));
    char posix[4096];
    if (!map_to_posix(path, posix, sizeof posix)) continue;
    files[fs::path(posix).lexically_normal().string()].push_back({entry.size, entry.crc});
  }
  end_reading();
  return files;
}

uint32_t file_crc(const std::string& path, uint64_t* size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) abort();
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t buffer[65536];
  *size = 0;
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    if (n == 0) break;
    crc = crc_update(buffer, static_cast<uint32_t>(n), crc);
    *size += n;
  }
  std::fclose(f);
  return ~crc;
}

void check_extracted_files(const std::map<std::string, std::vector<Expected>>& expected) {
  std::error_code ec;
  if (!fs::is_directory(scratch().folder)) abort();
  for (auto it = fs::recursive_directory_iterator(scratch().folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file() || it->is_symlink()) continue;
    const std::string path = it->path().lexically_normal().string();
    const auto found = expected.find(path);
    if (found == expected.end()) {
      std::fprintf(stderr, "extracted file %s belongs to no entry\n", path.c_str());
      abort();
    }
    uint64_t size = 0;
    const uint32_t crc = file_crc(path, &size);
    bool matches = false;
    for (const Expected& e : found->second) matches |= e.size == size && e.crc == crc;
    if (!matches) {
      std::fprintf(stderr, "extracted file %s: %llu bytes, CRC %08x, matches no entry\n",
                   path.c_str(), static_cast<unsigned long long>(size), crc);
      abort();
    }
  }
  if (ec) abort();
}

}  // namespace

// The front end: answers from the input, Cancel at a chosen pump call.
int ui_message_box(Window, const char*, const char*, uint32_t style) {
  if ((style & 0x0F) != kMbOkCancel) return kIdOk;
  return next_answer() ? kIdCancel : kIdOk;
}

int ui_overwrite_prompt(Window) {
  if (!next_answer()) return kAnswerYes;
  return next_answer() ? kAnswerYesToAll : kAnswerNo;
}

void ui_set_progress(Window, const char*) {
  if (++run.files >= kMaxFiles) install_state.cancel_requested = 1;
}

void drain_messages() {
  if (++run.drains == run.cancel_at) install_state.cancel_requested = 1;
}

int32_t ui_main_dialog() {
  return -1;
}

int ui_choose_folder(Window, char*) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kPrefix) return 0;
  const Scratch& s = scratch();
  reset_scratch();
  const std::map<std::string, std::string> before = outside_state();

  const int fd = archive_fd();
  if (fd < 0 || ftruncate(fd, 0) != 0) abort();
  const size_t body = size - kPrefix;
  if (body != 0 && pwrite(fd, data + kPrefix, body, 0) != static_cast<ssize_t>(body)) abort();

  std::memset(&archive_reader, 0, sizeof archive_reader);
  std::memset(&archive_header, 0, sizeof archive_header);
  std::memcpy(&archive_header, data + kPrefix, std::min(body, sizeof archive_header));
  crc_build_table();
  archive_reader.archive_file = fd;
  archive_reader.archive_base = 0;
  install_state.overwrite_all = 0;
  install_state.cancel_requested = 0;
  std::strcpy(install_state.module_name, "setup.exe");

  struct rlimit old_limit;
  if (getrlimit(RLIMIT_FSIZE, &old_limit) != 0) abort();
  struct rlimit limit = old_limit;
  limit.rlim_cur = (data[0] & 4) ? 512u << 10 : 2u << 20;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) abort();

  const int runs = (data[0] & 1) ? 2 : 1;
  for (int i = 0; i < runs; ++i) {
    run = Run{};
    run.answers[0] = data[2];
    run.answers[1] = data[3];
    run.cancel_at = data[1];
    install_state.cancel_requested = 0;
    install_state.overwrite_all = (data[0] >> 1) & 1;
    std::strcpy(install_state.install_folder, kFolder);
    lseek(fd, 0, SEEK_SET);
    extract_all(nullptr);
    if (archive_reader.input_buffer != nullptr || archive_reader.history != nullptr) abort();
  }
  setrlimit(RLIMIT_FSIZE, &old_limit);

  if (outside_state() != before) {
    std::fprintf(stderr, "something outside %s changed\n", s.folder.c_str());
    abort();
  }
  uint8_t* staging = static_cast<uint8_t*>(std::malloc(format::kEntryStagingSize));
  check_extracted_files(expected_files(staging));
  std::free(staging);
  return 0;
}

// zpx list, test and extract: the installer's own reader, directory walk and driver,
// run on an installer or a bare archive named on the command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "archive/directory.h"
#include "archive/extract.h"
#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/crc32.h"
#include "codec/format.h"
#include "installer/install_state.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"
#include "tools/commands.h"
#include "ui/batch/batch.h"
#include "ui/ui.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kModifiedWarning[] =
    "This installer has been modified. An error may have occurred during downloading, or "
    "your computer may have a virus. Make sure your virus scanner is the latest version, and "
    "check your computer for viruses. You will need to download this installer again.";
constexpr char kNoFiles[] = "Archive contains no files";

// The file named on the command line, opened as the installer opens its own file.
struct Source {
  std::string path;
  uint64_t size = 0;
  bool installer = false;  // a stub in front of the archive
  uint32_t stub_length = 0;
  bool stub_intact = true;
};

int usage(const char* command) {
  if (std::strcmp(command, "extract") == 0) {
    std::fputs("usage: zpx extract FILE [-d DIR] [--overwrite] [--ignore-stub]\n", stderr);
  } else {
    std::fprintf(stderr, "usage: zpx %s FILE\n", command);
  }
  return kExitUsage;
}

bool read_at(int fd, uint64_t offset, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, static_cast<char*>(buffer) + done, count - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Finds the stub's IntegrityRecord by its tag. A record counts only where it describes
// itself: its CRC field lies right where the record puts it, inside the stub it measures.
bool find_integrity_record(int fd, uint64_t size, IntegrityRecord* record) {
  constexpr size_t kPiece = 1 << 20;
  constexpr size_t kRecordEnd = kIntegrityTagSize + format::kIntegrityRecordSize;
  std::vector<uint8_t> piece(kPiece + kRecordEnd);
  for (uint64_t start = 0; start < size; start += kPiece) {
    const size_t want = static_cast<size_t>(
        size - start < kPiece + kRecordEnd ? size - start : kPiece + kRecordEnd);
    if (!read_at(fd, start, piece.data(), want)) return false;
    for (size_t i = 0; i + kRecordEnd <= want && i < kPiece; ++i) {
      if (piece[i] != static_cast<uint8_t>(kIntegrityTag[0]) ||
          std::memcmp(&piece[i], kIntegrityTag, kIntegrityTagSize) != 0) {
        continue;
      }
      const uint64_t at = start + i;
      const IntegrityRecord found = format::read_integrity_record(&piece[i + kIntegrityTagSize]);
      if (found.crc_field_offset == at + kIntegrityTagSize + format::kIntegrityExpectedCrc &&
          found.stub_length >= at + kRecordEnd && found.stub_length <= size) {
        *record = found;
        return true;
      }
    }
  }
  return false;
}

// The self-check of the installer image, done on the named file.
bool stub_intact(int fd, const IntegrityRecord& record) {
  std::vector<uint8_t> stub(record.stub_length);
  if (!read_at(fd, 0, stub.data(), stub.size())) return false;
  std::memset(&stub[record.crc_field_offset], 0, 4);
  return crc_update(stub.data(), static_cast<uint32_t>(stub.size()), 0xFFFFFFFFu) ==
         record.expected_crc;
}

// Opens the file, finds the archive in it and reads the archive header. Reports what
// goes wrong on standard error; false then.
bool open_source(const char* path, Source* source) {
  source->path = path;
  const char* base_name = std::strrchr(path, '/');
  base_name = base_name != nullptr ? base_name + 1 : path;
  text_copy(install_state.module_name, kWorkPathSize, base_name);

  // Without blocking, so that a FIFO is refused rather than waited on: only a regular
  // file can hold an archive.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    last_os_error = fd < 0 ? windows_error_from_errno(errno, path) : kErrorAccessDenied;
    if (fd >= 0) close(fd);
    report_error(nullptr, kResultCannotOpenSelf, path, 0);
    return false;
  }
  source->size = static_cast<uint64_t>(st.st_size);
  if (source->size > 0xFFFFFFFFu) {
    std::fprintf(stderr, "%s is too large for an archive (4 GiB or more)\n", path);
    close(fd);
    return false;
  }
  archive_reader.archive_file = fd;
  crc_build_table();

  uint8_t magic[4] = {};
  const bool has_magic = read_at(fd, 0, magic, sizeof magic);
  if (has_magic && std::memcmp(magic, format::kHeaderMagic, 4) == 0) {
    source->installer = false;  // a bare archive starts with its header
  } else {
    IntegrityRecord record{};
    if (!find_integrity_record(fd, source->size, &record)) {
      std::fprintf(stderr, "%s is neither a Zarpex archive nor a Zarpex installer\n", path);
      return false;
    }
    source->installer = true;
    source->stub_length = record.stub_length;
    source->stub_intact = stub_intact(fd, record);
  }
  archive_reader.archive_base = source->stub_length;

  const uint32_t position = fs_seek(fd, static_cast<int32_t>(source->stub_length), kFileBegin);
  if (position == kSeekFailed) {
    report_error(nullptr, kResultReadFailed, path, 0);
    return false;
  }
  archive_reader.file_position = position;
  if (archive_read(&archive_header, sizeof archive_header) !=
      static_cast<int32_t>(sizeof archive_header)) {
    report_error(nullptr, kResultShortRead, path, 0);
    return false;
  }
  return true;
}

// One walk over the directory, set up as the extraction driver sets up its run.
class DirectoryWalk {
 public:
  DirectoryWalk() : staging_(format::kEntryStagingSize) {}
  ~DirectoryWalk() { finish(); }
  DirectoryWalk(const DirectoryWalk&) = delete;
  DirectoryWalk& operator=(const DirectoryWalk&) = delete;

  ResultCode start() {
    archive_reader.input_buffer = static_cast<uint8_t*>(mem_alloc(format::kInputBufferSize));
    if (archive_reader.input_buffer == nullptr) return kResultNoMemory;
    archive_reader.history = nullptr;
    archive_reader.history_capacity = 0;
    archive_reader.stream_start = -1;
    archive_reader.entry_read_pointer = staging_.data();
    archive_reader.entry_end_pointer = staging_.data();
    const uint32_t directory = archive_reader.archive_base + archive_header.directory_offset;
    archive_reader.directory_position = directory;
    archive_reader.file_position = directory;
    fs_seek(archive_reader.archive_file, static_cast<int32_t>(directory), kFileBegin);
    return kResultOk;
  }

  // The next entry; its name is copied out and terminated.
  ResultCode next(EntryRecord* entry, std::string* name) {
    const uint8_t* bytes = nullptr;
    const ResultCode result = parse_next_entry(staging_.data(), entry, &bytes);
    if (result < 0) return result;
    name->assign(reinterpret_cast<const char*>(bytes), entry->name_length);
    return kResultOk;
  }

  void finish() {
    if (archive_reader.history != nullptr) mem_free(archive_reader.history);
    if (archive_reader.input_buffer != nullptr) mem_free(archive_reader.input_buffer);
    archive_reader.history = nullptr;
    archive_reader.history_capacity = 0;
    archive_reader.input_buffer = nullptr;
  }

 private:
  std::vector<uint8_t> staging_;
};

// A name as stored, fit for a terminal: control bytes are shown as '?'.
std::string printable(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// Where the archive's data end in the file: the file's end. This is the one place that
// says so.
uint64_t archive_data_end(const Source& source) {
  return source.size;
}

// What our packer writes and nothing checks while installing: the directory and the
// entry count carry no checksum, so a changed bit there could rename or drop files.
// Collects what the walk sees and tells every mismatch.
class StructureCheck {
 public:
  explicit StructureCheck(const Source& source) : source_(source) {
    const uint64_t end = archive_data_end(source);
    const uint64_t length = end - source.stub_length;
    if (archive_header.archive_length != length) {
      problem("the header's archive length is " + std::to_string(archive_header.archive_length) +
              ", the archive's data are " + std::to_string(length) + " bytes");
    }
    if (archive_header.directory_offset < format::kHeaderSize ||
        archive_header.directory_offset >= length) {
      problem("the directory offset " + std::to_string(archive_header.directory_offset) +
              " lies outside the archive");
    }
    if (archive_header.data_length != archive_header.directory_offset - format::kHeaderSize) {
      problem("the header's data length is " + std::to_string(archive_header.data_length) +
              ", the data area " +
              std::to_string(archive_header.directory_offset - format::kHeaderSize) + " bytes");
    }
  }

  void entry(const EntryRecord& entry, const std::string& name) {
    if (!names_.insert(name).second) problem("two entries are named " + printable(name));
    if (!(entry.flags & format::kFlagFolder) &&
        (entry.stream_offset < format::kHeaderSize ||
         entry.stream_offset >= archive_header.directory_offset)) {
      problem("the stream of " + printable(name) + " lies outside the data area");
    }
  }

  // After the last entry the header counts: nothing may follow it in the directory.
  void directory_end() {
    const ArchiveReader& r = archive_reader;
    if (r.entry_read_pointer != r.entry_end_pointer) {
      problem("the directory does not end after the header's " +
              std::to_string(archive_header.entry_count) + " entries");
    } else if (r.directory_position != archive_data_end(source_)) {
      problem("the directory ends at offset " + std::to_string(r.directory_position) +
              " of the file, the archive's data at " + std::to_string(archive_data_end(source_)));
    }
  }

  // Prints each mismatch; true when there was none.
  bool report() const {
    for (const std::string& p : problems_) std::fprintf(stderr, "Structure: %s\n", p.c_str());
    return problems_.empty();
  }

 private:
  void problem(const std::string& text) { problems_.push_back(text); }

  const Source& source_;
  std::set<std::string> names_;
  std::vector<std::string> problems_;
};

std::string dos_time_text(uint16_t date, uint16_t time) {
  if (date == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980u,
                (date >> 5) & 0x0Fu, date & 0x1Fu, (time >> 11) & 0x1Fu, (time >> 5) & 0x3Fu,
                (time & 0x1Fu) * 2);
  return text;
}

std::string attribute_text(uint16_t attributes) {
  std::string text = "----";
  if (attributes & kAttributeReadOnly) text[0] = 'R';
  if (attributes & kAttributeHidden) text[1] = 'H';
  if (attributes & kAttributeSystem) text[2] = 'S';
  if (attributes & 0x20) text[3] = 'A';
  return text;
}

// The entry's kind: a folder, a file, or a file whose call addresses were transformed.
const char* flags_text(uint8_t flags) {
  if (flags & format::kFlagFolder) return "folder";
  if (flags & format::kFlagCall16) return "call16";
  if (flags & format::kFlagCall32) return "call32";
  return "file";
}

void describe(const Source& source) {
  if (source.installer) {
    std::printf("%s: installer, stub of %u bytes, archive at offset %u, %u entries\n",
                source.path.c_str(), source.stub_length, source.stub_length,
                archive_header.entry_count);
  } else {
    std::printf("%s: archive, %u entries\n", source.path.c_str(), archive_header.entry_count);
  }
}

// Splits the command's arguments into the file and the options it allows.
struct Arguments {
  const char* file = nullptr;
  const char* folder = nullptr;
  bool overwrite = false;
  bool ignore_stub = false;
};

bool parse_arguments(int argc, char** argv, bool extract_options, Arguments* out) {
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (extract_options && std::strcmp(arg, "-d") == 0 && i + 1 < argc && out->folder == nullptr) {
      out->folder = argv[++i];
    } else if (extract_options && std::strcmp(arg, "--overwrite") == 0) {
      out->overwrite = true;
    } else if (extract_options && std::strcmp(arg, "--ignore-stub") == 0) {
      out->ignore_stub = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return false;
    } else if (out->file == nullptr) {
      out->file = arg;
    } else {
      return false;
    }
  }
  return out->file != nullptr;
}

}  // namespace

int zpx_list(int argc, char** argv) {
  Arguments args;
  if (!parse_arguments(argc - 1, argv + 1, false, &args)) return usage("list");
  Source source;
  if (!open_source(args.file, &source)) return kExitFailed;
  describe(source);
  if (!source.stub_intact) {
    std::printf("The stub fails its self-check: the installer would refuse to run.\n");
  }
  std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n", "Attr", "Kind", "Size", "Modified",
              "Created", "CRC-32", "Name");

  DirectoryWalk walk;
  ResultCode result = walk.start();
  uint32_t files = 0, folders = 0;
  uint64_t bytes = 0;
  for (uint32_t i = 0; result == kResultOk && i < archive_header.entry_count; ++i) {
    EntryRecord entry;
    std::string name;
    result = walk.next(&entry, &name);
    if (result < 0) break;
    if (entry.flags & format::kFlagFolder) {
      ++folders;
      std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n",
                  attribute_text(entry.attributes).c_str(), flags_text(entry.flags), "", "", "", "",
                  printable(name).c_str());
    } else {
      ++files;
      bytes += entry.size;
      std::printf("%-4s  %-6s  %10u  %-19s  %-19s  %08x  %s\n",
                  attribute_text(entry.attributes).c_str(), flags_text(entry.flags), entry.size,
                  dos_time_text(entry.write_date, entry.write_time).c_str(),
                  dos_time_text(entry.creation_date, entry.creation_time).c_str(), entry.crc,
                  printable(name).c_str());
    }
  }
  walk.finish();
  std::printf("%u file(s), %u folder(s), %llu bytes\n", files, folders,
              static_cast<unsigned long long>(bytes));
  std::fflush(stdout);
  if (result < 0) {
    report_error(nullptr, result, nullptr, 0);
    return kExitFailed;
  }
  return kExitOk;
}

int zpx_test(int argc, char** argv) {
  Arguments args;
  if (!parse_arguments(argc - 1, argv + 1, false, &args)) return usage("test");
  Source source;
  if (!open_source(args.file, &source)) return kExitFailed;
  uint32_t failures = 0;
  if (!source.stub_intact) {
    std::fprintf(stderr, "%s\n", kModifiedWarning);
    ++failures;
  }
  if (archive_header.entry_count == 0) {
    std::fprintf(stderr, "%s\n", kNoFiles);
    return failures != 0 ? kExitFailed : kExitOk;
  }
  batch_begin(0);

  StructureCheck structure(source);
  DirectoryWalk walk;
  ResultCode result = walk.start();
  uint32_t tested = 0;
  uint32_t walked = 0;
  for (uint32_t i = 0; result == kResultOk && i < archive_header.entry_count; ++i) {
    drain_messages();
    if (install_state.cancel_requested) break;
    EntryRecord entry;
    std::string name;
    result = walk.next(&entry, &name);
    if (result < 0) break;
    ++walked;
    structure.entry(entry, name);
    if (entry.flags & format::kFlagFolder) continue;
    ++tested;
    ResultCode outcome = extract_stream(kNoFile, entry.stream_offset, entry.stream_position,
                                        entry.size, entry.flags);
    if (outcome == kResultOk && archive_reader.running_crc != entry.crc) outcome = kResultDamaged;
    if (outcome == kResultOk) {
      std::printf("OK      %s\n", printable(name).c_str());
      continue;
    }
    if (outcome == kResultCancelled) break;
    ++failures;
    std::printf("FAILED  %s\n", printable(name).c_str());
    std::fflush(stdout);
    // As in the installer: damaged contents let the run go on, anything else stops it.
    const std::string shown = printable(name);
    if (report_error(nullptr, outcome, shown.c_str(), outcome == kResultDamaged) != 0) break;
  }
  if (result == kResultOk && walked == archive_header.entry_count) structure.directory_end();
  walk.finish();
  std::fflush(stdout);
  if (result < 0) {
    ++failures;
    report_error(nullptr, result, nullptr, 0);
  } else if (!structure.report()) {
    ++failures;
    report_error(nullptr, kResultDamaged, nullptr, 0);
  }
  batch_end();
  if (batch_interrupted()) return kExitFailed;
  if (failures == 0) {
    std::printf("%u files tested, no errors\n", tested);
    return kExitOk;
  }
  std::fprintf(stderr, "%u of %u files failed the test\n", failures, tested);
  return kExitFailed;
}

int zpx_extract(int argc, char** argv) {
  Arguments args;
  if (!parse_arguments(argc - 1, argv + 1, true, &args)) return usage("extract");
  install_state.install_folder[0] = '\0';
  if (args.folder != nullptr &&
      !map_to_windows(args.folder, install_state.install_folder, kPathBufferSize)) {
    std::fprintf(stderr, "zpx: the folder name is too long: %s\n", args.folder);
    return kExitUsage;
  }
  install_state.overwrite_all = args.overwrite ? 1 : 0;
  Source source;
  if (!open_source(args.file, &source)) return kExitFailed;
  if (!source.stub_intact) {
    // The installer itself would stop at its warning: nothing is extracted unless asked.
    std::fprintf(stderr, "%s\n", kModifiedWarning);
    if (!args.ignore_stub) {
      std::fputs("zpx: nothing extracted (--ignore-stub extracts all the same)\n", stderr);
      return kExitFailed;
    }
  }
  if (archive_header.entry_count == 0) {
    std::fprintf(stderr, "%s\n", kNoFiles);
    return kExitOk;
  }

  // The driver passes over names too long for the folder without a word; say which.
  // One byte more than the folder's own buffer: a folder of 260 characters still takes
  // its separator here (the driver then refuses it as too long for any name).
  char folder[kPathBufferSize + 1];
  text_copy(folder, sizeof folder, install_state.install_folder);
  strip_separators(folder);
  const int name_room = 259 - static_cast<int>(append_separator(folder) - folder);
  uint32_t files = 0, too_long = 0;
  {
    DirectoryWalk walk;
    ResultCode result = walk.start();
    for (uint32_t i = 0; result == kResultOk && i < archive_header.entry_count; ++i) {
      EntryRecord entry;
      std::string name;
      result = walk.next(&entry, &name);
      if (result < 0) break;  // the driver meets and reports the same damage
      if (static_cast<int>(entry.name_length) > name_room) {
        ++too_long;
        std::fprintf(stderr, "Cannot create %s%s\nThe path would be longer than 259 characters\n",
                     folder, printable(name).c_str());
      } else if (!(entry.flags & format::kFlagFolder)) {
        ++files;
      }
    }
  }

  batch_begin(files);
  const ResultCode result = extract_all(nullptr);
  batch_end();
  uint32_t failures = batch_failures() + too_long;
  if (result < 0) {
    ++failures;
    report_error(nullptr, result, nullptr, 0);
  }
  if (batch_kept() != 0) {
    std::fprintf(stderr, "%u existing files kept (--overwrite replaces them)\n", batch_kept());
  }
  if (batch_interrupted()) return kExitFailed;
  return failures == 0 ? kExitOk : kExitFailed;
}

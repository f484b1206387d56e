// zpx list, test and extract: the installer's own reader, directory walk and driver,
// run on an installer or a bare archive named on the command line.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/directory.h"
#include "archive/extract.h"
#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/crc32.h"
#include "codec/format.h"
#include "installer/messages.h"
#include "platform/fs.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_map.h"
#include "state/install_state.h"
#include "tools/commands.h"
#include "ui/batch/batch.h"
#include "ui/batch/output.h"
#include "ui/ui.h"

namespace {

// The file named on the command line, opened as the installer opens its own file.
struct Source {
  std::string path;
  uint64_t size = 0;
  bool installer = false;  // a stub in front of the archive
  uint32_t stub_length = 0;
  bool stub_intact = true;
  CertificateTable signature = {0, 0};  // where a signature appended its certificate table
  uint64_t data_end = 0;                // where the archive's data end in the file
};

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

// Where the archive's data end in the file: at the file's end, or in a signed installer
// where its certificate table begins, less the zeros (fewer than 8) that a signing tool
// puts in front of the table to align it, when the header's length says the archive ends
// there.
uint64_t signed_archive_end(int fd, const Source& source) {
  const CertificateTable& table = source.signature;
  if (table.offset == 0 || table.offset < source.stub_length || table.offset > source.size) {
    return source.size;
  }
  const uint64_t declared = uint64_t{source.stub_length} + archive_header.archive_length;
  if (declared > table.offset || table.offset - declared >= 8) return table.offset;
  uint8_t padding[8] = {};
  const size_t count = static_cast<size_t>(table.offset - declared);
  if (!read_at(fd, declared, padding, count)) return table.offset;
  for (size_t i = 0; i < count; ++i) {
    if (padding[i] != 0) return table.offset;
  }
  return declared;
}

// Opens the file, finds the archive in it and reads the archive header. Reports what
// goes wrong on standard error; false then.
bool open_source(const std::string& path_text, Source* source) {
  const char* path = path_text.c_str();
  source->path = path_text;
  const char* base_name = std::strrchr(path, '/');
  base_name = base_name != nullptr ? base_name + 1 : path;
  text_copy(install_state.module_name, kWorkPathSize, base_name);
  const std::string name = shown(path_text);

  // Without blocking, so that a FIFO is refused rather than waited on: only a regular
  // file can hold an archive.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    print_error("Cannot open %s: %s", name.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    print_error("Cannot open %s: %s", name.c_str(),
                S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    close(fd);
    return false;
  }
  source->size = static_cast<uint64_t>(st.st_size);
  if (source->size > 0xFFFFFFFFu) {
    print_error("%s: too large for an archive (4 GiB or more)", name.c_str());
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
      print_error("%s: neither a Zarpex archive nor a Zarpex installer", name.c_str());
      return false;
    }
    source->installer = true;
    source->stub_length = record.stub_length;
    // The installer's own self-check, run on the record found in the file, passing over
    // what a signature changes as the stub's headers in the file place it.
    std::vector<uint8_t> headers(std::min<uint32_t>(record.stub_length, 4096));
    SignatureFields fields = {0, 0};
    if (read_at(fd, 0, headers.data(), headers.size())) {
      const uint32_t length = static_cast<uint32_t>(headers.size());
      fields = find_signature_fields(headers.data(), length);
      source->signature = find_certificate_table(headers.data(), length);
    }
    source->stub_intact = check_image(record, fields) == kResultOk;
  }
  archive_reader.archive_base = source->stub_length;

  const uint32_t position = fs_seek(fd, static_cast<int32_t>(source->stub_length), kFileBegin);
  if (position == kSeekFailed) {
    print_error("Cannot read %s: %s", name.c_str(), std::strerror(errno));
    return false;
  }
  archive_reader.file_position = position;
  if (archive_read(&archive_header, sizeof archive_header) !=
      static_cast<int32_t>(sizeof archive_header)) {
    print_error("%s: archive truncated: the file ends inside the archive header", name.c_str());
    return false;
  }
  source->data_end = signed_archive_end(fd, *source);
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
    return begin_reading(staging_.data(),
                         archive_reader.archive_base + archive_header.directory_offset);
  }

  // The next entry; its name is copied out and terminated.
  ResultCode next(EntryRecord* entry, std::string* name) {
    const uint8_t* bytes = nullptr;
    const ResultCode result = parse_next_entry(staging_.data(), entry, &bytes);
    if (result < 0) return result;
    name->assign(reinterpret_cast<const char*>(bytes), entry->name_length);
    return kResultOk;
  }

  void finish() { end_reading(); }

 private:
  std::vector<uint8_t> staging_;
};

// Where the archive's data end in the file: the file's end, or the start of a signed
// installer's certificate table (signed_archive_end). This is the one place that says so.
uint64_t archive_data_end(const Source& source) {
  return source.data_end;
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
    if (!names_.insert(name).second) problem("two entries are named " + shown(name));
    if (!(entry.flags & format::kFlagFolder) &&
        (entry.stream_offset < format::kHeaderSize ||
         entry.stream_offset >= archive_header.directory_offset)) {
      problem("the stream of " + shown(name) + " lies outside the data area");
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
    for (const std::string& p : problems_) print_error("Structure: %s", p.c_str());
    return problems_.empty();
  }

 private:
  void problem(const std::string& text) { problems_.push_back(text); }

  const Source& source_;
  std::set<std::string> names_;
  std::vector<std::string> problems_;
};

// A stored DOS date and time as text: date and time joined by `separator`, within
// `quote`; `none` when no date is stored.
std::string dos_time_text(uint16_t date, uint16_t time, char separator, const char* quote,
                          const char* none) {
  if (date == 0) return none;
  char text[32];
  std::snprintf(text, sizeof text, "%s%04u-%02u-%02u%c%02u:%02u:%02u%s", quote, (date >> 9) + 1980u,
                (date >> 5) & 0x0Fu, date & 0x1Fu, separator, (time >> 11) & 0x1Fu,
                (time >> 5) & 0x3Fu, (time & 0x1Fu) * 2, quote);
  return text;
}

std::string dos_time_text(uint16_t date, uint16_t time) {
  return dos_time_text(date, time, ' ', "", "-");
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

// "2001-02-03T04:05:06": the stored local time in ISO 8601; "null" for none.
std::string iso_time(uint16_t date, uint16_t time) {
  return dos_time_text(date, time, 'T', "\"", "null");
}

// A JSON string. Names are bytes of the ANSI code page: valid UTF-8 passes, any other byte
// is taken as Latin-1.
std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const std::string rest = text.substr(i, 4);
      const std::string one = shown(rest.substr(0, 1 + (c >= 0xC0) + (c >= 0xE0) + (c >= 0xF0)));
      if (one.find('?') == std::string::npos && one.size() > 1) {
        out += one;
        i += one.size() - 1;
      } else {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out += escape;
      }
    }
  }
  return out + "\"";
}

std::string json_attributes(uint16_t attributes) {
  std::string out = "[";
  const std::pair<uint16_t, const char*> names[] = {{kAttributeReadOnly, "read-only"},
                                                    {kAttributeHidden, "hidden"},
                                                    {kAttributeSystem, "system"},
                                                    {0x20, "archive"}};
  for (const auto& [bit, name] : names) {
    if (attributes & bit) out += std::string(out.size() > 1 ? ", " : "") + "\"" + name + "\"";
  }
  return out + "]";
}

void describe(const Source& source) {
  const std::string name = shown(source.path);
  if (source.installer) {
    print_result("%s: installer, stub of %u bytes, archive at offset %u, %u entries", name.c_str(),
                 source.stub_length, source.stub_length, archive_header.entry_count);
    if (source.signature.offset != 0 || source.signature.size != 0) {
      print_result("signed: certificate table at offset %u, %u bytes", source.signature.offset,
                   source.signature.size);
    } else {
      print_result("not signed");
    }
  } else {
    print_result("%s: archive, %u entries", name.c_str(), archive_header.entry_count);
  }
}

// What a damaged directory means for a summary: the file is cut short, or its
// directory does not decode.
std::string directory_damage(const Source& source) {
  const uint64_t end = static_cast<uint64_t>(source.stub_length) + archive_header.archive_length;
  return archive_header.archive_length != 0 && end > source.size ? "archive truncated"
                                                                 : "directory damaged";
}

// Every entry of the directory, read ahead of a run.
struct ListedEntry {
  EntryRecord record;
  std::string name;  // as stored
};

ResultCode read_directory(std::vector<ListedEntry>* entries, StructureCheck* structure = nullptr) {
  DirectoryWalk walk;
  ResultCode result = walk.start();
  for (uint32_t i = 0; result == kResultOk && i < archive_header.entry_count; ++i) {
    ListedEntry e;
    result = walk.next(&e.record, &e.name);
    if (result < 0) break;
    if (structure != nullptr) structure->entry(e.record, e.name);
    entries->push_back(std::move(e));
  }
  if (structure != nullptr && result == kResultOk) structure->directory_end();
  return result;
}

// The entries a list of names and shell patterns chooses: those matched, everything in a
// matched folder, and the folders that lead to them. Names compare with '/' for '\'.
class EntryChoice {
 public:
  explicit EntryChoice(const std::vector<std::string>& patterns) {
    for (std::string p : patterns) {
      std::replace(p.begin(), p.end(), '\\', '/');
      while (p.size() > 2 && p.compare(0, 2, "./") == 0) p.erase(0, 2);
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      patterns_.push_back(p);
    }
    matched_.assign(patterns_.size(), false);
  }

  // Decides for every entry; the names chosen are kept.
  void choose(const std::vector<ListedEntry>& entries) {
    std::vector<std::string> folders;  // matched folders, '/' form
    for (const ListedEntry& e : entries) {
      std::string name = e.name;
      std::replace(name.begin(), name.end(), '\\', '/');
      bool take = false;
      for (const std::string& folder : folders) {
        if (name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
            name[folder.size()] == '/') {
          take = true;
        }
      }
      for (size_t i = 0; i < patterns_.size(); ++i) {
        const std::string& p = patterns_[i];
        const bool under =
            name.size() > p.size() && name.compare(0, p.size(), p) == 0 && name[p.size()] == '/';
        if (fnmatch(p.c_str(), name.c_str(), 0) == 0 || under) {
          matched_[i] = true;
          take = true;
          if (!under && (e.record.flags & format::kFlagFolder)) folders.push_back(name);
        }
      }
      if (!take) continue;
      chosen_.insert(e.name);
      // The folders above it, so that its folder exists before it is written.
      for (size_t at = e.name.find('\\'); at != std::string::npos; at = e.name.find('\\', at + 1))
        chosen_.insert(e.name.substr(0, at));
    }
  }

  bool chosen(const std::string& name) const { return chosen_.count(name) != 0; }
  // The patterns that matched nothing.
  std::vector<std::string> unmatched() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < patterns_.size(); ++i) {
      if (!matched_[i]) out.push_back(patterns_[i]);
    }
    return out;
  }

 private:
  std::vector<std::string> patterns_;
  std::vector<bool> matched_;
  std::unordered_set<std::string> chosen_;
};

// Set while zpx extract runs the driver.
const EntryChoice* active_choice = nullptr;

bool choose_entry(const EntryRecord& entry, const char* name) {
  if (active_choice != nullptr && !active_choice->chosen(name)) return false;
  batch_entry(entry.size, entry.stream_offset, (entry.flags & format::kFlagFolder) != 0);
  return true;
}

}  // namespace

int zpx_list(const CommandDef& cmd, const CommandLine& line) {
  if (line.operands.size() != 1) {
    return usage_error(cmd, line.operands.empty() ? "a file (FILE) is needed" : "one file only");
  }
  const bool json = line.has("--json");
  Source source;
  if (!open_source(line.operands[0], &source)) return kExitFailed;
  std::vector<ListedEntry> entries;
  const ResultCode result = read_directory(&entries);

  if (json) {
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i) {
      const EntryRecord& r = entries[i].record;
      const bool folder = (r.flags & format::kFlagFolder) != 0;
      std::printf(
          "%s\n  {\"name\": %s, \"kind\": \"%s\", \"size\": %u, \"modified\": %s, "
          "\"created\": %s, \"attributes\": %s, \"crc32\": %s, \"stream_offset\": %u, "
          "\"stream_position\": %u}",
          i == 0 ? "" : ",", json_string(entries[i].name).c_str(), flags_text(r.flags),
          folder ? 0 : r.size, iso_time(r.write_date, r.write_time).c_str(),
          iso_time(r.creation_date, r.creation_time).c_str(), json_attributes(r.attributes).c_str(),
          folder ? "null"
                 : ("\"" +
                    [&] {
                      char hex[9];
                      std::snprintf(hex, sizeof hex, "%08x", r.crc);
                      return std::string(hex);
                    }() +
                    "\"")
                       .c_str(),
          r.stream_offset, r.stream_position);
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
  } else {
    describe(source);
    if (!source.stub_intact) {
      print_result("The stub fails its self-check: the installer would refuse to run.");
    }
    std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n", "Attr", "Kind", "Size", "Modified",
                "Created", "CRC-32", "Name");
    uint32_t files = 0, folders = 0;
    uint64_t bytes = 0;
    for (const ListedEntry& e : entries) {
      const EntryRecord& r = e.record;
      if (r.flags & format::kFlagFolder) {
        ++folders;
        std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n",
                    attribute_text(r.attributes).c_str(), flags_text(r.flags), "", "", "", "",
                    shown(e.name).c_str());
      } else {
        ++files;
        bytes += r.size;
        std::printf(
            "%-4s  %-6s  %10u  %-19s  %-19s  %08x  %s\n", attribute_text(r.attributes).c_str(),
            flags_text(r.flags), r.size, dos_time_text(r.write_date, r.write_time).c_str(),
            dos_time_text(r.creation_date, r.creation_time).c_str(), r.crc, shown(e.name).c_str());
      }
    }
    std::printf("%s, %s, %llu bytes\n", counted(files, "file", "files").c_str(),
                counted(folders, "folder", "folders").c_str(),
                static_cast<unsigned long long>(bytes));
  }
  std::fflush(stdout);
  if (result < 0) {
    print_error("%s: %s: %zu of %u entries could be read", shown(source.path).c_str(),
                directory_damage(source).c_str(), entries.size(), archive_header.entry_count);
    return kExitFailed;
  }
  return kExitOk;
}

int zpx_test(const CommandDef& cmd, const CommandLine& line) {
  if (line.operands.size() != 1) {
    return usage_error(cmd, line.operands.empty() ? "a file (FILE) is needed" : "one file only");
  }
  Source source;
  if (!open_source(line.operands[0], &source)) return kExitFailed;
  const std::string file = shown(source.path);
  if (!source.stub_intact) print_error("%s", kModifiedInstallerText);
  if (archive_header.entry_count == 0) {
    print_note("%s", kNoFilesText);
    return source.stub_intact ? kExitOk : kExitFailed;
  }

  std::vector<ListedEntry> entries;
  StructureCheck structure(source);
  const ResultCode directory = read_directory(&entries, &structure);
  BatchSettings settings;
  for (const ListedEntry& e : entries) {
    if (e.record.flags & format::kFlagFolder) continue;
    ++settings.files;
    settings.bytes += e.record.size;
  }
  batch_begin(settings);

  DirectoryWalk walk;  // sets the reader up for decoding
  ResultCode result = walk.start();
  uint32_t tested = 0, failures = 0;
  uint64_t bytes_done = 0;
  for (const ListedEntry& e : entries) {
    if (result < 0) break;
    drain_messages();
    if (install_state.cancel_requested) break;
    const EntryRecord& entry = e.record;
    if (entry.flags & format::kFlagFolder) continue;
    ++tested;
    progress_update(bytes_done, e.name);
    bytes_done += entry.size;
    batch_entry(entry.size, entry.stream_offset, false);
    ResultCode outcome = extract_stream(kNoFile, entry.stream_offset, entry.stream_position,
                                        entry.size, entry.flags);
    if (outcome == kResultOk && archive_reader.running_crc != entry.crc) outcome = kResultDamaged;
    if (outcome == kResultOk) {
      print_detail("OK      %s", shown(e.name).c_str());
      continue;
    }
    if (outcome == kResultCancelled) break;
    ++failures;
    print_detail("FAILED  %s", shown(e.name).c_str());
    // As in the installer: damaged contents let the run go on, anything else stops it.
    text_copy(install_state.install_folder, kPathBufferSize, e.name.c_str());
    const int stop =
        report_error(nullptr, outcome, install_state.install_folder, outcome == kResultDamaged);
    install_state.install_folder[0] = '\0';
    if (stop != 0) break;
  }
  walk.finish();
  batch_end();
  if (batch_interrupted()) return kExitFailed;
  if (directory == kResultOk && !structure.report()) {
    // What the packer writes disagrees with the file: the directory may have been changed.
    ++failures;
    install_state.install_folder[0] = '\0';
    report_error(nullptr, kResultDamaged, nullptr, 0);
  }

  const uint32_t files = settings.files;
  std::string summary = source.stub_intact ? "" : "stub modified; ";
  if (directory < 0) {
    summary += directory_damage(source) + ": " + std::to_string(entries.size()) + " of " +
               std::to_string(archive_header.entry_count) + " entries could be read";
    if (failures != 0) summary += ", " + std::to_string(failures) + " of their files failed";
    print_error("%s: %s", file.c_str(), summary.c_str());
    return kExitFailed;
  }
  if (failures != 0) {
    print_error("%s: %s%u of %s failed the test", file.c_str(), summary.c_str(), failures,
                counted(files, "file", "files").c_str());
    return kExitFailed;
  }
  if (!source.stub_intact) {
    print_error("%s: stub modified; %s OK", file.c_str(), counted(tested, "file", "files").c_str());
    return kExitFailed;
  }
  print_result("%s tested, no errors", counted(tested, "file", "files").c_str());
  return kExitOk;
}

int zpx_extract(const CommandDef& cmd, const CommandLine& line) {
  if (line.operands.empty()) return usage_error(cmd, "a file (FILE) is needed");
  const std::vector<std::string> names(line.operands.begin() + 1, line.operands.end());
  install_state.install_folder[0] = '\0';
  if (const std::string* folder = line.value("--directory")) {
    // Room for a separator and a one-character name within the 259 of a full path.
    // A folder too long for any name is the driver's to refuse, as the installer does.
    if (!map_to_windows(folder->c_str(), install_state.install_folder, kPathBufferSize)) {
      print_error("%s: the folder's name is too long for the installer's paths",
                  shown(*folder).c_str());
      return kExitFailed;
    }
  }
  Source source;
  if (!open_source(line.operands[0], &source)) return kExitFailed;
  if (!source.stub_intact) {
    // The installer itself would stop at its warning: nothing is extracted unless asked.
    print_error("%s", kModifiedInstallerText);
    if (!line.has("--ignore-stub")) {
      print_error("nothing extracted (--ignore-stub extracts all the same)");
      return kExitFailed;
    }
  }
  if (archive_header.entry_count == 0) {
    print_note("%s", kNoFilesText);
    return kExitOk;
  }

  // Read the directory ahead: the entries chosen, their bytes for the bar, and the names
  // too long for the folder, which the driver passes over without a word.
  std::vector<ListedEntry> entries;
  read_directory(&entries);  // the driver meets and reports the same damage
  EntryChoice choice(names);
  if (!names.empty()) choice.choose(entries);
  std::string folder = install_state.install_folder;
  while (folder.size() > 1 && folder.back() == '\\' && folder[folder.size() - 2] != ':')
    folder.pop_back();
  if (!folder.empty() && folder.back() != '\\' && folder.back() != ':') folder += '\\';
  const size_t name_room =
      folder.size() < kWorkPathSize - 1 ? kWorkPathSize - 1 - folder.size() : 0;
  BatchSettings settings;
  settings.overwrite = line.has("--overwrite");
  std::vector<std::string> too_long;
  for (const ListedEntry& e : entries) {
    if (!names.empty() && !choice.chosen(e.name)) continue;
    if (e.name.size() > name_room) {
      too_long.push_back(shown_windows_path((folder + e.name).c_str()));
    } else if (!(e.record.flags & format::kFlagFolder)) {
      ++settings.files;
      settings.bytes += e.record.size;
    }
  }
  uint32_t failures = static_cast<uint32_t>(too_long.size());
  if (!too_long.empty()) {
    print_error("Cannot create %s\nThe path would be longer than 259 characters",
                too_long[0].c_str());
    if (too_long.size() > 1) {
      print_error("the same failure took down %zu more (-v names them)", too_long.size() - 1);
      for (size_t i = 1; i < too_long.size(); ++i) print_detail("%s", too_long[i].c_str());
    }
  }
  for (const std::string& pattern : choice.unmatched()) {
    print_error("%s: not in the archive", shown(pattern).c_str());
    ++failures;
  }

  active_choice = names.empty() ? nullptr : &choice;
  entry_chosen = choose_entry;
  batch_begin(settings);
  const ResultCode result = extract_all(nullptr);
  batch_end();
  entry_chosen = nullptr;
  active_choice = nullptr;
  failures += batch_failures();
  if (result < 0) {
    ++failures;
    install_state.install_folder[0] = '\0';
    report_error(nullptr, result, nullptr, 0);
  }
  const std::vector<std::string>& kept = batch_kept();
  if (!kept.empty()) {
    print_note("%zu existing file%s kept (--overwrite replaces them%s)", kept.size(),
               kept.size() == 1 ? "" : "s",
               verbosity == Verbosity::kVerbose ? "" : "; -v names them");
  }
  if (batch_interrupted()) return kExitFailed;
  std::string where = folder.empty() ? std::string(".") : shown_windows_path(folder.c_str());
  if (where.size() > 1 && where.back() == '/') where.pop_back();
  print_result("%s, %s extracted to %s%s", counted(batch_files_done(), "file", "files").c_str(),
               counted(batch_folders_done(), "folder", "folders").c_str(), where.c_str(),
               failures != 0 ? (", " + std::to_string(failures) + " failed").c_str() : "");
  return failures == 0 ? kExitOk : kExitFailed;
}

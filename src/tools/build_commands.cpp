// zpx build and zpx wrap: pack a folder into an archive or installer, or put an existing
// archive behind a stub.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builder/archive_writer.h"
#include "builder/source_tree.h"
#include "builder/stamp.h"
#include "tools/commands.h"
#include "tools/output_file.h"
#include "ui/batch/output.h"

namespace {

constexpr int kDefaultLevel = 7;

// The largest stub read: a stub is some tens of kilobytes; this only bounds a wrong path.
constexpr uint64_t kMaxStubSize = uint64_t{64} << 20;
// The largest archive wrap reads: the format's offsets are 32-bit.
constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFFu;

// Reads a whole regular file of at most `limit` bytes. Opened without blocking, so that a
// FIFO or a device (/dev/zero) is refused at once instead of waited on or read forever.
bool read_file(const std::string& path, uint64_t limit, std::vector<uint8_t>* data,
               std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = path + ": not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    close(fd);
    *error = path + ": " + std::to_string(st.st_size) + " bytes, more than the " +
             std::to_string(limit) + " zpx reads here";
    return false;
  }
  data->clear();
  data->reserve(static_cast<size_t>(st.st_size));
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      close(fd);
      *error = path + ": cannot read: " + std::strerror(saved);
      return false;
    }
    if (n == 0) break;
    data->insert(data->end(), buffer, buffer + n);
    if (data->size() > limit) {  // it grew while being read
      close(fd);
      *error = path + ": more than the " + std::to_string(limit) + " bytes zpx reads here";
      return false;
    }
  }
  close(fd);
  return true;
}

// A thread count of 1 to kMaxThreads.
bool parse_threads(const std::string& text, uint32_t* threads) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int n = std::stoi(text);
  if (n < 1 || n > static_cast<int>(builder::kMaxThreads)) return false;
  *threads = static_cast<uint32_t>(n);
  return true;
}

int fail(const std::string& message) {
  print_error("%s", shown(message).c_str());
  return kExitFailed;
}

// The stubs installed with zpx, by the names --stub takes for them: the file's name, and
// where it lies from the folder of the running zpx, installed and in the build tree.
struct NamedStub {
  const char* word;
  const char* installed;  // below the installation's prefix
  const char* built;      // beside zpx in the build tree
};
constexpr NamedStub kNamedStubs[] = {
    {"windows", "share/zarpex/stubs/zarpex-setup-windows.exe", "../mingw-i686/zarpex-setup.exe"},
    {"windows-x64", "share/zarpex/stubs/zarpex-setup-windows-x64.exe",
     "../mingw-x86_64/zarpex-setup.exe"},
    {"posix", "lib/zarpex/stubs/zarpex-setup-posix", "zarpex-setup"},
};

// The folder of the running zpx, with its trailing slash.
std::string own_folder() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  const std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

// STUB as given: a path, or one of the words above.
bool find_stub(const std::string& given, std::string* path, std::string* error) {
  for (const NamedStub& named : kNamedStubs) {
    if (given != named.word) continue;
    const std::string folder = own_folder();
    for (const std::string& candidate : {folder + "../" + named.installed, folder + named.built}) {
      if (access(candidate.c_str(), R_OK) == 0) {
        *path = candidate;
        return true;
      }
    }
    *error = "no " + given + " stub is installed with this zpx (looked for " + folder + "../" +
             named.installed + "); give its path (./" + given + " for a file of that name)";
    return false;
  }
  *path = given;
  return true;
}

// Reads and stamps the stub; an installer is the stub followed directly by the archive.
bool load_stub(const std::string& given, std::vector<uint8_t>* stub, std::string* error) {
  std::string path;
  if (!find_stub(given, &path, error)) return false;
  if (!read_file(path, kMaxStubSize, stub, error)) return false;
  std::string reason;
  if (!builder::stamp_stub(*stub, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  return true;
}

// Opens OUT, the first thing a command does, so that a wrong OUT costs no packing.
bool open_output(const CommandLine& line, OutputFile* out, std::string* error) {
  if (!out->open(*line.value("--output"), line.has("--force"), error)) return false;
  set_data_on_stdout(out->to_stdout());
  return true;
}

bool write_and_commit(OutputFile* out, const std::vector<uint8_t>& stub,
                      const std::vector<uint8_t>& archive, std::string* error) {
  return out->write(stub.data(), stub.size(), error) &&
         out->write(archive.data(), archive.size(), error) && out->commit(!stub.empty(), error);
}

std::string output_name(const CommandLine& line) {
  const std::string& path = *line.value("--output");
  return path == "-" ? "standard output" : shown(path);
}

// An installer's name says which system runs it: a Windows stub wants ".exe", a POSIX
// stub must not have it.
void check_output_suffix(const std::string& output, const std::vector<uint8_t>& stub) {
  if (output == "-" || stub.size() < 4) return;
  const bool windows = stub[0] == 'M' && stub[1] == 'Z';
  const bool elf = std::memcmp(stub.data(),
                               "\x7f"
                               "ELF",
                               4) == 0;
  std::string lower = output.size() >= 4 ? output.substr(output.size() - 4) : std::string();
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  if (windows && lower != ".exe") {
    print_warning(
        "%s: a Windows installer without the .exe ending; Windows will not run it "
        "when opened",
        shown(output).c_str());
  } else if (elf && lower == ".exe") {
    print_warning(
        "%s: the stub is a POSIX (ELF) program, not a Windows one, but the name ends "
        "in .exe",
        shown(output).c_str());
  }
}

// "ratio 38.12%", or what an archive larger than its input is: a small payload does not
// pay for the header and directory.
std::string ratio_text(uint64_t in, uint64_t out) {
  if (in == 0 || out >= in) return "stored larger than its input";
  char text[32];
  std::snprintf(text, sizeof text, "ratio %.2f%%",
                100.0 * static_cast<double>(out) / static_cast<double>(in));
  return text;
}

// SOURCE_DATE_EPOCH, when set: the latest time stored, and times made DOS times as UTC.
bool source_date_epoch(builder::ScanOptions* scan, std::string* error) {
  const char* given = std::getenv("SOURCE_DATE_EPOCH");
  if (given == nullptr || given[0] == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const long long seconds = std::strtoll(given, &end, 10);
  if (*end != '\0' || errno != 0 || seconds < 0 || given[0] == '-' || given[0] == '+' ||
      given[0] == ' ') {
    *error = std::string("SOURCE_DATE_EPOCH is \"") + given +
             "\", not a count of seconds since 1970-01-01 00:00 UTC";
    return false;
  }
  scan->reproducible = true;
  scan->latest_time = seconds;
  return true;
}

// The level and thread count of zpx build; -1 to go on, or the exit status of a usage
// error.
int parse_pack_options(const CommandDef& cmd, const CommandLine& line,
                       builder::PackOptions* options) {
  options->level = kDefaultLevel;
  if (const std::string* given = line.value("--level")) {
    if (given->size() != 1 || (*given)[0] < '0' || (*given)[0] > '9')
      return usage_error(cmd, "the level is a digit from 0 to 9");
    options->level = (*given)[0] - '0';
  }
  options->call_transform = options->level != 0;  // -0 stores the files as they are
  options->dedupe = !line.has("--no-dedupe");
  options->threads = 0;  // 0: one per core
  if (const std::string* given = line.value("--threads")) {
    if (!parse_threads(*given, &options->threads)) {
      return usage_error(cmd, line.spelling("--threads") + " needs a thread count from 1 to " +
                                  std::to_string(builder::kMaxThreads));
    }
  }
  return -1;
}

// The tree under `input`, less what is excluded and the output's own files; warns of what
// was skipped. False (with `error`) when it cannot be read or holds nothing.
bool scan_input(const std::string& input, const CommandLine& line, const OutputFile& out,
                builder::ScanOptions scan, std::vector<builder::SourceEntry>* entries,
                builder::ScanReport* report, std::string* error) {
  scan.excludes = line.values("--exclude");
  scan.skip = out.own_files();
  if (!builder::scan_tree(input, scan, entries, report, error)) return false;
  for (const std::string& skipped : report->skipped) {
    print_warning("%s; skipped", shown(skipped).c_str());
  }
  if (entries->empty()) {
    *error = input + ": the folder is empty; there is nothing to pack";
    return false;
  }
  for (const builder::SourceEntry& e : *entries) {
    print_detail("%s%s", shown(e.shown_name).c_str(), e.folder ? "/" : "");
  }
  return true;
}

// Packs the entries behind the stub into `out` and commits it.
bool pack(std::vector<builder::SourceEntry>& entries, builder::PackOptions options,
          const std::vector<uint8_t>& stub, OutputFile* out, builder::PackStats* stats,
          std::string* error) {
  progress_start(0, true);
  options.progress = [](uint64_t done, uint64_t total) {
    progress_set_total(total);
    progress_update(done, "");
  };
  if (out->to_stdout()) {
    // A pipe cannot take the header again at the end: the archive is made in memory.
    std::vector<uint8_t> archive;
    const bool packed = builder::build_archive(entries, options, &archive, stats, error);
    progress_end();
    return packed && write_and_commit(out, stub, archive, error);
  }
  // The archive goes to the output as it is made, behind the stub.
  std::string write_error;
  builder::ArchiveSink sink;
  sink.write = [&](const uint8_t* data, size_t n) { return out->write(data, n, &write_error); };
  sink.rewrite_header = [&](const uint8_t* header, size_t n) {
    return out->write_at(stub.size(), header, n, &write_error);
  };
  const bool packed = out->write(stub.data(), stub.size(), &write_error) &&
                      builder::write_archive(entries, options, sink, stats, error);
  progress_end();
  if (!packed && !write_error.empty()) *error = write_error;
  return packed && out->commit(!stub.empty(), error);
}

void print_build_summary(const CommandLine& line, const builder::PackStats& stats, size_t stub_size,
                         const builder::ScanReport& report, double seconds) {
  const uint64_t total = stats.bytes_out + stub_size;
  std::string skipped;
  if (!report.skipped.empty()) skipped += ", " + std::to_string(report.skipped.size()) + " skipped";
  if (report.excluded != 0) skipped += ", " + std::to_string(report.excluded) + " excluded";
  if (stats.shared != 0)
    skipped += " (" + std::to_string(stats.shared) + " stored as another file's member)";
  print_result("%s: %s, %s%s, %s in, %s out (archive %llu), %s, %.2f s", output_name(line).c_str(),
               counted(stats.files, "file", "files").c_str(),
               counted(stats.folders, "folder", "folders").c_str(), skipped.c_str(),
               counted(stats.bytes_in, "byte", "bytes").c_str(),
               counted(total, "byte", "bytes").c_str(),
               static_cast<unsigned long long>(stats.bytes_out),
               ratio_text(stats.bytes_in, stats.bytes_out).c_str(), seconds);
}

}  // namespace

int zpx_build(const CommandDef& cmd, const CommandLine& line) {
  if (!line.has("--output")) return usage_error(cmd, "an output (-o OUT) is needed");
  if (line.operands.size() != 1) {
    return usage_error(cmd, line.operands.empty() ? "a folder to pack (DIR) is needed"
                                                  : "more than one folder given");
  }
  builder::PackOptions options;
  if (const int status = parse_pack_options(cmd, line, &options); status >= 0) return status;
  builder::ScanOptions scan;
  if (const int status = code_page_option(cmd, line, &scan.code_page); status >= 0) return status;
  const auto started = std::chrono::steady_clock::now();

  std::string error;
  if (!source_date_epoch(&scan, &error)) return fail(error);
  OutputFile out;
  if (!open_output(line, &out, &error)) return fail(error);
  std::vector<uint8_t> stub;
  if (const std::string* stub_path = line.value("--stub")) {
    if (!load_stub(*stub_path, &stub, &error)) return fail(error);
    check_output_suffix(*line.value("--output"), stub);
  }
  builder::ScanReport report;
  std::vector<builder::SourceEntry> entries;
  if (!scan_input(line.operands[0], line, out, scan, &entries, &report, &error)) return fail(error);
  builder::PackStats stats;
  if (!pack(entries, options, stub, &out, &stats, &error)) return fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  print_build_summary(line, stats, stub.size(), report, seconds);
  return kExitOk;
}

int zpx_wrap(const CommandDef& cmd, const CommandLine& line) {
  if (!line.has("--stub")) return usage_error(cmd, "a stub (--stub STUB) is needed");
  if (!line.has("--output")) return usage_error(cmd, "an output (-o OUT) is needed");
  if (line.operands.size() != 1) {
    return usage_error(cmd, line.operands.empty() ? "an archive (ARCHIVE) is needed"
                                                  : "more than one archive given");
  }
  const std::string& input = line.operands[0];
  OutputFile out;
  std::string error;
  if (!open_output(line, &out, &error)) return fail(error);
  std::vector<uint8_t> stub, archive;
  if (!load_stub(*line.value("--stub"), &stub, &error)) return fail(error);
  check_output_suffix(*line.value("--output"), stub);
  if (!read_file(input, kMaxArchiveSize, &archive, &error)) return fail(error);
  if (archive.size() < 42 || std::memcmp(archive.data(), "ZPX\n", 4) != 0)
    return fail(input + ": not an archive (no archive header at its start)");
  if (!write_and_commit(&out, stub, archive, &error)) return fail(error);
  print_result("%s: stub %zu bytes + archive %zu bytes", output_name(line).c_str(), stub.size(),
               archive.size());
  return kExitOk;
}

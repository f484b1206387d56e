// zpx build and zpx wrap: pack a folder into an archive or installer, or put an existing
// archive behind a stub.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "builder/archive_writer.h"
#include "builder/source_tree.h"
#include "builder/stamp.h"
#include "tools/commands.h"

namespace {

constexpr int kDefaultLevel = 7;

bool read_file(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  data->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    data->insert(data->end(), buffer, buffer + n);
  const bool failed = std::ferror(f) != 0;
  const int saved = errno;
  std::fclose(f);
  if (failed) {
    *error = path + ": cannot read: " + std::strerror(saved);
    return false;
  }
  return true;
}

// An output written to a temporary file beside it and renamed into place once complete,
// so a failure never leaves a half-written output behind.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path)
      : path_(path), temporary_(path + ".partial-" + std::to_string(getpid())) {}
  ~OutputFile() {
    if (file_) std::fclose(file_);
    if (!committed_) std::remove(temporary_.c_str());
  }
  bool open(std::string* error) {
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (!file_) {
      *error = path_ + ": cannot create: " + std::strerror(errno);
      return false;
    }
    return true;
  }
  bool write(const uint8_t* data, size_t size) {
    if (failed_) return false;
    if (size && std::fwrite(data, 1, size, file_) != size) remember_failure();
    return !failed_;
  }
  bool write_at(uint64_t offset, const uint8_t* data, size_t size) {
    if (failed_) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) remember_failure();
    if (!failed_ && std::fwrite(data, 1, size, file_) != size) remember_failure();
    if (!failed_ && fseeko(file_, 0, SEEK_END) != 0) remember_failure();
    return !failed_;
  }
  // Closes and renames into place; an installer (executable) gets the execute bits
  // wherever it may be read.
  bool commit(bool executable, std::string* error) {
    if (!failed_ && std::fflush(file_) != 0) remember_failure();
    if (std::fclose(file_) != 0) remember_failure();
    file_ = nullptr;
    if (!failed_ && executable) {
      const mode_t mask = umask(0);
      umask(mask);
      chmod(temporary_.c_str(), 0777 & ~mask);
    }
    if (!failed_ && std::rename(temporary_.c_str(), path_.c_str()) != 0) remember_failure();
    if (failed_) {
      *error = path_ + ": cannot write: " + std::strerror(saved_errno_);
      return false;
    }
    committed_ = true;
    return true;
  }
  // The message for a failed write, once one has happened.
  std::string failure() const { return path_ + ": cannot write: " + std::strerror(saved_errno_); }

 private:
  void remember_failure() {
    if (!failed_) saved_errno_ = errno;
    failed_ = true;
  }
  std::string path_, temporary_;
  FILE* file_ = nullptr;
  bool failed_ = false, committed_ = false;
  int saved_errno_ = 0;
};

bool write_output(const std::string& path, const std::vector<const std::vector<uint8_t>*>& pieces,
                  std::string* error) {
  OutputFile out(path);
  if (!out.open(error)) return false;
  for (const auto* piece : pieces) out.write(piece->data(), piece->size());
  return out.commit(!pieces.empty() && !pieces.front()->empty(), error);
}

struct Arguments {
  std::string output;
  std::string stub;
  std::string input;
  int level = kDefaultLevel;
  uint32_t threads = 0;  // 0: one per core
};

// A thread count of 1 to kMaxThreads.
bool parse_threads(const std::string& text, uint32_t* threads) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int n = std::stoi(text);
  if (n < 1 || n > static_cast<int>(builder::kMaxThreads)) return false;
  *threads = static_cast<uint32_t>(n);
  return true;
}

bool parse_arguments(int argc, char** argv, bool allow_level, Arguments* a, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" || arg == "--stub") {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      (arg == "-o" ? a->output : a->stub) = argv[++i];
    } else if (allow_level && (arg == "-T" || arg == "--threads")) {
      if (i + 1 >= argc || !parse_threads(argv[i + 1], &a->threads)) {
        *error = arg + " needs a thread count from 1 to " + std::to_string(builder::kMaxThreads);
        return false;
      }
      ++i;
    } else if (allow_level && arg.size() == 2 && arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9') {
      a->level = arg[1] - '0';
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else if (a->input.empty()) {
      a->input = arg;
    } else {
      *error = "more than one input given";
      return false;
    }
  }
  if (a->output.empty() || a->input.empty()) {
    *error = "an output (-o) and an input are needed";
    return false;
  }
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "zpx: %s\n", message.c_str());
  return 1;
}

// Reads and stamps the stub; an installer is the stub followed directly by the archive.
bool load_stub(const std::string& path, std::vector<uint8_t>* stub, std::string* error) {
  if (!read_file(path, stub, error)) return false;
  std::string reason;
  if (!builder::stamp_stub(*stub, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace

int zpx_build(int argc, char** argv) {
  Arguments a;
  std::string error;
  if (!parse_arguments(argc, argv, true, &a, &error))
    return fail(error + "\nusage: zpx build -o OUT [--stub STUB] [-1 .. -9] [-T N] DIR");
  const auto started = std::chrono::steady_clock::now();
  std::vector<uint8_t> stub;
  if (!a.stub.empty() && !load_stub(a.stub, &stub, &error)) return fail(error);
  std::vector<builder::SourceEntry> entries;
  if (!builder::scan_tree(a.input, &entries, &error)) return fail(error);
  if (entries.empty()) return fail(a.input + ": the folder is empty; there is nothing to pack");

  builder::PackOptions options;
  options.level = a.level;
  options.threads = a.threads;
  const bool terminal = isatty(STDERR_FILENO) != 0;
  if (terminal) {
    options.progress = [](uint64_t done, uint64_t total) {
      const int width = 40;
      const int filled = total ? static_cast<int>(done * width / total) : width;
      std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                   width - filled, "", total ? static_cast<int>(done * 100 / total) : 100);
      std::fflush(stderr);
    };
  }
  // The archive goes to the output as it is made, behind the stub.
  OutputFile out(a.output);
  if (!out.open(&error)) return fail(error);
  out.write(stub.data(), stub.size());
  builder::ArchiveSink sink;
  sink.write = [&](const uint8_t* data, size_t n) { return out.write(data, n); };
  sink.rewrite_header = [&](const uint8_t* header, size_t n) {
    return out.write_at(stub.size(), header, n);
  };
  builder::PackStats stats;
  const bool packed = builder::write_archive(entries, options, sink, &stats, &error);
  if (terminal) std::fprintf(stderr, "\r%*s\r", 60, "");
  if (!packed) return fail(error == "cannot write" ? out.failure() : error);
  if (!out.commit(!stub.empty(), &error)) return fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const uint64_t total = stats.bytes_out + stub.size();
  std::printf(
      "%s: %u files, %u folders, %llu bytes in, %llu bytes out (archive %llu), "
      "ratio %.2f%%, %.2f s\n",
      a.output.c_str(), stats.files, stats.folders, static_cast<unsigned long long>(stats.bytes_in),
      static_cast<unsigned long long>(total), static_cast<unsigned long long>(stats.bytes_out),
      stats.bytes_in
          ? 100.0 * static_cast<double>(stats.bytes_out) / static_cast<double>(stats.bytes_in)
          : 0.0,
      seconds);
  return 0;
}

int zpx_wrap(int argc, char** argv) {
  Arguments a;
  std::string error;
  if (!parse_arguments(argc, argv, false, &a, &error) || a.stub.empty())
    return fail((error.empty() ? std::string("a stub (--stub) is needed") : error) +
                "\nusage: zpx wrap --stub STUB -o OUT ARCHIVE");
  std::vector<uint8_t> stub, archive;
  if (!load_stub(a.stub, &stub, &error)) return fail(error);
  if (!read_file(a.input, &archive, &error)) return fail(error);
  if (archive.size() < 42 || std::memcmp(archive.data(), "ZPX\n", 4) != 0)
    return fail(a.input + ": not an archive (no archive header at its start)");
  if (!write_output(a.output, {&stub, &archive}, &error)) return fail(error);
  std::printf("%s: stub %zu bytes + archive %zu bytes\n", a.output.c_str(), stub.size(),
              archive.size());
  return 0;
}

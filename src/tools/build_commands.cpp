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

// Writes the pieces to a temporary file beside the output and renames it into place, so
// a failure never leaves a half-written output behind.
bool write_output(const std::string& path, const std::vector<const std::vector<uint8_t>*>& pieces,
                  std::string* error) {
  const std::string temporary = path + ".partial-" + std::to_string(getpid());
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    *error = path + ": cannot create: " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  int saved = 0;
  for (const auto* piece : pieces) {
    if (!piece->empty() && std::fwrite(piece->data(), 1, piece->size(), f) != piece->size()) {
      ok = false;
      saved = errno;
      break;
    }
  }
  if (std::fflush(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  // An installer (a stub in front) is a program: executable wherever it may be read.
  if (ok && !pieces.empty() && !pieces.front()->empty()) {
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary.c_str(), 0777 & ~mask);
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    *error = path + ": cannot write: " + std::strerror(saved);
  }
  return ok;
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
  std::vector<uint8_t> archive;
  builder::PackStats stats;
  const bool packed = builder::build_archive(entries, options, &archive, &stats, &error);
  if (terminal) std::fprintf(stderr, "\r%*s\r", 60, "");
  if (!packed) return fail(error);
  if (!write_output(a.output, {&stub, &archive}, &error)) return fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const uint64_t out = archive.size() + stub.size();
  std::printf(
      "%s: %u files, %u folders, %llu bytes in, %llu bytes out (archive %llu), "
      "ratio %.2f%%, %.2f s\n",
      a.output.c_str(), stats.files, stats.folders, static_cast<unsigned long long>(stats.bytes_in),
      static_cast<unsigned long long>(out), static_cast<unsigned long long>(archive.size()),
      stats.bytes_in
          ? 100.0 * static_cast<double>(archive.size()) / static_cast<double>(stats.bytes_in)
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

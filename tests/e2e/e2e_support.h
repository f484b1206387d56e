// Running the built zpx and POSIX installer as a user runs them: a child process with
// its own environment, standard input fed from a script, both outputs captured.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunOptions {
  std::vector<std::string> args;                         // args[0] is the program
  std::string input;                                     // written to standard input
  bool close_input = true;                               // end of input after `input`
  std::vector<std::pair<std::string, std::string>> env;  // set in the child
  std::string cwd;                                       // empty: the test's own
  // When standard output first contains this text, send SIGINT (Ctrl+C) to the child.
  std::string interrupt_on;
  int timeout_ms = 60000;
};

struct RunResult {
  int exit_code = -1;  // -1 when killed by a signal or timed out
  bool timed_out = false;
  bool interrupted = false;  // SIGINT was sent
  std::string out;
  std::string err;
};

RunResult run_program(const RunOptions& options);

// A scratch folder for one test, removed with everything in it afterwards. HOME and
// ZARPEX_ROOT of the programs run in it point inside it.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& path() const { return path_; }
  std::string root() const { return path_ + "/zroot"; }  // ZARPEX_ROOT
  std::string home() const { return path_ + "/home"; }
  // POSIX path of a path on drive C: in Windows form ("C:\a" -> root()/drive_c/a).
  std::string drive_c(const std::string& rest) const;
  std::vector<std::pair<std::string, std::string>> env() const;

 private:
  std::string path_;
};

// Files and folders.
void make_folders(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
bool is_folder(const std::string& path);
// Sorted relative paths of everything below root ("a", "a/b.txt", ...).
std::vector<std::string> list_tree(const std::string& root);
// Modification time, and the extended attribute (empty when there is none).
int64_t mtime_of(const std::string& path);
std::string xattr_of(const std::string& path, const char* name);
bool owner_can_write(const std::string& path);
// Deterministic bytes that no compressor can shrink.
std::string noise(size_t size, uint32_t seed);

// Built programs and the repository.
std::string zpx_bin();
std::string setup_bin();
std::string source_dir();

// Packs `tree` into an installer at `out` with the POSIX stub (fastest level, replacing
// an earlier `out`); the zpx result. A block made only of incompressible bytes is stored as it is.
RunResult build_installer(const std::string& tree, const std::string& out);
// The same, a bare archive.
RunResult build_archive(const std::string& tree, const std::string& out);

// Where the archive starts in an installer file (its stub length), read from the
// stub's IntegrityRecord; 0 when none is found.
uint32_t archive_offset(const std::string& installer);
// Offset of the first occurrence of needle in the file, or npos.
size_t find_in_file(const std::string& path, const std::string& needle);
// Replaces bytes of a file at an offset.
void patch_file(const std::string& path, size_t offset, const std::string& bytes);

// Runs the built zpx with these arguments (in `cwd` when given).
RunResult run_zpx(const std::vector<std::string>& args, const std::string& cwd = "");

// The installer's message for damaged data, as it appears on screen.
inline constexpr char kDamagedText[] =
    "Archive data is damaged, probably caused by\ncorrupt disk or download error";

// Runs the installer with a scripted standard input in the scratch environment; the
// arguments of `extra.args` follow the installer's name.
RunResult run_setup(const Scratch& scratch, const std::string& installer, const std::string& script,
                    RunOptions extra = {});

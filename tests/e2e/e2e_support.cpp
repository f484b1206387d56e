#include "e2e/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads what a pipe holds; false at its end.
bool drain_pipe(int fd, std::string* into) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EINTR;
  }
}

}  // namespace

RunResult run_program(const RunOptions& options) {
  RunResult result;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const std::string& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  set_nonblocking(out[0]);
  set_nonblocking(err[0]);
  set_nonblocking(in[1]);

  // SIGPIPE would end the test when the child stops reading early.
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &saved);

  std::string pending = options.input;
  bool input_open = true;
  bool out_open = true, err_open = true;
  bool exited = false;
  int status = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
  // After the child has exited, a program it started may still hold the pipes open;
  // collect what is there for a moment and stop.
  auto grace_end = std::chrono::steady_clock::time_point::max();

  while (out_open || err_open) {
    if (input_open && !pending.empty()) {
      const ssize_t n = write(in[1], pending.data(), pending.size());
      if (n > 0)
        pending.erase(0, static_cast<size_t>(n));
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        pending.clear();
    }
    if (input_open && pending.empty() && options.close_input) {
      close(in[1]);
      input_open = false;
    }
    struct pollfd fds[3];
    nfds_t count = 0;
    if (out_open) fds[count++] = {out[0], POLLIN, 0};
    if (err_open) fds[count++] = {err[0], POLLIN, 0};
    if (input_open && !pending.empty()) fds[count++] = {in[1], POLLOUT, 0};
    poll(fds, count, 20);
    if (out_open) out_open = drain_pipe(out[0], &result.out);
    if (err_open) err_open = drain_pipe(err[0], &result.err);

    if (!result.interrupted && !options.interrupt_on.empty() &&
        result.out.find(options.interrupt_on) != std::string::npos) {
      kill(child, SIGINT);
      result.interrupted = true;
    }
    if (!exited && waitpid(child, &status, WNOHANG) == child) {
      exited = true;
      grace_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    }
    const auto now = std::chrono::steady_clock::now();
    if (exited && now > grace_end) break;
    if (!exited && now > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      exited = true;
      result.timed_out = true;
      break;
    }
  }
  if (!exited) waitpid(child, &status, 0);
  if (input_open) close(in[1]);
  close(out[0]);
  close(err[0]);
  sigaction(SIGPIPE, &saved, nullptr);
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

Scratch::Scratch() {
  std::string pattern = (fs::temp_directory_path() / "zarpex-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
  make_folders(root() + "/drive_c");
  make_folders(home());
}

Scratch::~Scratch() {
  // Read-only files and folders would stop the removal.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string Scratch::drive_c(const std::string& rest) const {
  std::string out = root() + "/drive_c";
  if (!rest.empty()) out += "/" + rest;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::vector<std::pair<std::string, std::string>> Scratch::env() const {
  return {{"HOME", home()}, {"ZARPEX_ROOT", root()}};
}

void make_folders(const std::string& path) {
  fs::create_directories(path);
}

void write_file(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> list_tree(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    out.push_back(fs::relative(entry.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

int64_t mtime_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtime);
}

std::string xattr_of(const std::string& path, const char* name) {
  char buffer[256];
  const ssize_t n = getxattr(path.c_str(), name, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool owner_can_write(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

std::string noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : out) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = static_cast<char>(state >> 24);
  }
  return out;
}

std::string zpx_bin() {
  return ZPX_BIN;
}
std::string setup_bin() {
  return SETUP_BIN;
}
std::string source_dir() {
  return ZARPEX_SOURCE_DIR;
}

// Packing under the sanitizers on a busy machine can take minutes; this only guards against a hang.
constexpr int kBuildTimeoutMs = 600000;

RunResult build_installer(const std::string& tree, const std::string& out) {
  RunOptions options;
  options.args = {zpx_bin(), "build", "-f", "-1", "--stub", setup_bin(), "-o", out, tree};
  options.timeout_ms = kBuildTimeoutMs;
  return run_program(options);
}

RunResult build_archive(const std::string& tree, const std::string& out) {
  RunOptions options;
  options.args = {zpx_bin(), "build", "-f", "-1", "-o", out, tree};
  options.timeout_ms = kBuildTimeoutMs;
  return run_program(options);
}

uint32_t archive_offset(const std::string& installer) {
  const std::string bytes = read_file(installer);
  static const char kTag[] = "ZPX-INTEGRITY-v1";
  for (size_t at = bytes.find(kTag); at != std::string::npos; at = bytes.find(kTag, at + 1)) {
    if (at + 28 > bytes.size()) break;
    uint32_t fields[3];
    std::memcpy(fields, bytes.data() + at + 16, sizeof fields);
    if (fields[1] == at + 24 && fields[0] <= bytes.size()) return fields[0];
  }
  return 0;
}

size_t find_in_file(const std::string& path, const std::string& needle) {
  return read_file(path).find(needle);
}

void patch_file(const std::string& path, size_t offset, const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot patch " + path);
}

RunResult run_zpx(const std::vector<std::string>& args, const std::string& cwd) {
  RunOptions options;
  options.args = {zpx_bin()};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.cwd = cwd;
  return run_program(options);
}

RunResult run_setup(const Scratch& scratch, const std::string& installer, const std::string& script,
                    RunOptions extra) {
  extra.args.insert(extra.args.begin(), installer);
  extra.input = script;
  auto env = scratch.env();
  env.insert(env.end(), extra.env.begin(), extra.env.end());
  extra.env = env;
  if (extra.cwd.empty()) extra.cwd = scratch.path();
  return run_program(extra);
}

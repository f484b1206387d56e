#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "state/install_state.h"
#include "ui/batch/batch.h"
#include "ui/batch/output.h"
#include "ui/ui.h"

namespace {

volatile sig_atomic_t interrupt_pending = 0;

void on_interrupt(int) {
  interrupt_pending = 1;
}

// One cause of failure: the message without its path, and for damaged data the stream.
struct Cause {
  std::string key;
  uint32_t stream_offset = 0;
  std::vector<std::string> entries;  // POSIX paths; the first was named when it was shown
};

struct BatchRun {
  BatchSettings settings;
  uint64_t bytes_done = 0;
  uint32_t current_size = 0;
  uint32_t current_stream = 0;
  uint32_t files_started = 0;
  uint32_t failures = 0;
  uint32_t failed_before = 0;  // failures when the current entry started
  uint32_t files_done = 0;
  uint32_t folders_done = 0;
  bool current_folder = false;
  bool current_counted = true;
  std::vector<std::string> kept;
  std::vector<Cause> causes;
  bool interrupted = false;
};

BatchRun run;

// The entry before counts as done when it raised no message.
void close_current_entry() {
  if (!run.current_counted && run.failures == run.failed_before)
    ++(run.current_folder ? run.folders_done : run.files_done);
  run.current_counted = true;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Each line made safe for a terminal; the installer's line breaks stay.
std::string shown_lines(const std::string& text) {
  std::string out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out += shown(text.substr(start, end - start)) + "\n";
  return out + shown(text.substr(start));
}

}  // namespace

void batch_begin(const BatchSettings& settings) {
  run = BatchRun{};
  run.settings = settings;
  install_state.overwrite_all = 0;  // every existing file comes to ui_overwrite_prompt
  progress_start(settings.bytes, true);
  // Ctrl+C stops after the current file, unless SIGINT was ignored at start (a script's
  // background job): then it stays ignored.
  struct sigaction old {};
  if (sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void batch_end() {
  close_current_entry();
  progress_end();
  for (const Cause& cause : run.causes) {
    if (cause.entries.size() < 2) continue;
    const size_t more = cause.entries.size() - 1;
    std::string names;
    const size_t shown_count = verbosity == Verbosity::kVerbose ? more : (more < 3 ? more : 3);
    for (size_t i = 1; i <= shown_count; ++i) names += (i > 1 ? ", " : "") + cause.entries[i];
    if (shown_count < more) {
      names += " and " + std::to_string(more - shown_count) + " more (-v names them all)";
    }
    print_error("the same failure took down %zu more: %s", more, names.c_str());
  }
}

uint32_t batch_failures() {
  return run.failures;
}
uint32_t batch_files_done() {
  return run.files_done;
}
uint32_t batch_folders_done() {
  return run.folders_done;
}
const std::vector<std::string>& batch_kept() {
  return run.kept;
}
bool batch_interrupted() {
  return run.interrupted;
}

void batch_entry(uint32_t size, uint32_t stream_offset, bool folder) {
  close_current_entry();
  run.current_size = folder ? 0 : size;
  run.current_folder = folder;
  run.current_stream = stream_offset;
  run.failed_before = run.failures;
  run.current_counted = false;
}

int ui_message_box(Window, const char* text, const char*, uint32_t style) {
  // The entry concerned is the path in the install folder; messages name it by its
  // POSIX form. The damaged-data text names no file: the entry is added on a line of its own.
  const char* entry = install_state.install_folder;
  const std::string path = entry[0] != '\0' ? shown_windows_path(entry) : std::string();
  std::string message = text;
  const bool names_entry = entry[0] != '\0' && message.find(entry) != std::string::npos;
  std::string key = message;
  if (names_entry) {
    key = replace_all(message, entry, "\x01");
    message = replace_all(message, entry, path);
  }
  message = shown_lines(message);
  ++run.failures;

  const bool per_entry = (style & 0x0F) == kMbOkCancel && !path.empty();
  // Damaged data is one cause per stream; a message that names its file, one per text.
  const uint32_t stream = names_entry ? 0 : run.current_stream;
  if (per_entry) {
    for (Cause& cause : run.causes) {
      if (cause.key == key && cause.stream_offset == stream) {
        cause.entries.push_back(path);
        return kIdOk;
      }
    }
    run.causes.push_back(Cause{key, stream, {path}});
  }
  if (per_entry && !names_entry) {
    print_error("%s: %s", path.c_str(), message.c_str());
  } else {
    print_error("%s", message.c_str());
  }
  return kIdOk;
}

int ui_overwrite_prompt(Window) {
  const char* path = install_state.install_folder;
  if (run.settings.overwrite) {
    // --overwrite replaces read-only files too: the installer's create would be refused.
    fs_set_attributes(path, kAttributeNormal);
    return kAnswerYes;
  }
  run.kept.push_back(shown_windows_path(path));
  if (verbosity == Verbosity::kVerbose)
    print_note("Kept existing file %s", run.kept.back().c_str());
  run.current_counted = true;  // neither done nor failed
  return kAnswerNo;
}

void ui_set_progress(Window, const char* text) {
  ++run.files_started;
  progress_update(run.bytes_done, text);
  print_detail("%s", shown_windows_path(install_state.install_folder).c_str());
  run.bytes_done += run.current_size;
}

void drain_messages() {
  if (interrupt_pending != 0 && !run.interrupted) {
    run.interrupted = true;
    install_state.cancel_requested = 1;
    print_error("interrupted: the run stops after the current file");
  }
}

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "installer/install_state.h"
#include "ui/batch/batch.h"
#include "ui/terminal_text.h"
#include "ui/ui.h"

namespace {

volatile sig_atomic_t interrupt_pending = 0;

void on_interrupt(int) {
  interrupt_pending = 1;
}

struct BatchRun {
  uint32_t files = 0;
  uint32_t started = 0;  // progress lines seen
  uint32_t failures = 0;
  uint32_t kept = 0;
  bool interrupted = false;
  bool bar_shown = false;
};

BatchRun run;

bool bar_wanted() {
  return isatty(2) == 1;
}

void clear_bar() {
  if (run.bar_shown) {
    std::fputs("\r\033[K", stderr);
    run.bar_shown = false;
  }
}

void draw_bar(const char* text) {
  constexpr uint32_t kWidth = 30;
  const uint32_t total = run.files != 0 ? run.files : 1;
  const uint32_t current = run.started > total ? total : run.started;
  char bar[kWidth + 1];
  const uint32_t filled = (current - 1) * kWidth / total;  // the files already done
  for (uint32_t i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  // The text is the installer's "Extracting name"; cut so the line stays on one row.
  char shown[41] = {};
  std::strncpy(shown, text, sizeof shown - 1);
  std::fprintf(stderr, "\r\033[K[%s] %u/%u ", bar, current, total);
  put_terminal_text(stderr, shown, false);
  std::fflush(stderr);
  run.bar_shown = true;
}

}  // namespace

void batch_begin(uint32_t files) {
  run = BatchRun{};
  run.files = files;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void batch_end() {
  clear_bar();
}

uint32_t batch_failures() {
  return run.failures;
}
uint32_t batch_kept() {
  return run.kept;
}
bool batch_interrupted() {
  return run.interrupted;
}

int ui_message_box(Window, const char* text, const char*, uint32_t style) {
  clear_bar();
  put_terminal_text(stderr, text, true);
  std::fputc('\n', stderr);
  // A box that offers to go on concerns one entry, whose full path the install folder
  // holds; name it where the text does not (the damaged-data text names no file).
  const char* entry = install_state.install_folder;
  if ((style & 0x0F) == kMbOkCancel && entry[0] != '\0' && std::strstr(text, entry) == nullptr) {
    std::fputs("  (", stderr);
    put_terminal_text(stderr, entry, false);
    std::fputs(")\n", stderr);
  }
  std::fflush(stderr);
  ++run.failures;
  return kIdOk;
}

int ui_overwrite_prompt(Window) {
  clear_bar();
  std::fputs("Kept existing file ", stderr);
  put_terminal_text(stderr, install_state.install_folder, false);
  std::fputc('\n', stderr);
  ++run.kept;
  return kAnswerNo;
}

void ui_set_progress(Window, const char* text) {
  ++run.started;
  if (bar_wanted()) draw_bar(text);
}

// zpx shows no dialog: the commands call the driver themselves.
int32_t ui_main_dialog() {
  return -1;
}

int ui_choose_folder(Window, char*) {
  return 0;
}

void drain_messages() {
  if (interrupt_pending != 0 && !run.interrupted) {
    run.interrupted = true;
    install_state.cancel_requested = 1;
    clear_bar();
    std::fputs("Interrupted: the run stops.\n", stderr);
  }
}

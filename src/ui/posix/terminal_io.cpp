// Standard input as a stream of command lines, standard output as the dialog's face,
// and Ctrl+C as a pending Cancel press.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ui/posix/terminal.h"
#include "ui/terminal_text.h"

namespace {

volatile sig_atomic_t interrupt_pending = 0;

void on_interrupt(int) {
  interrupt_pending = 1;
}

constexpr size_t kInputCapacity = 4096;

struct LineInput {
  char buffer[kInputCapacity + 1];  // +1: room to terminate a last line without line end
  size_t begin = 0;                 // first byte not yet handed out
  size_t end = 0;                   // end of the bytes read
  size_t line_next = 0;             // where the next line starts once the found one is taken
  const char* line = nullptr;       // the found line, terminated in place
  bool ended = false;
};

LineInput input;
bool progress_open = false;  // an in-place progress line waits for its line end

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Terminates the line [from, to) in place without its surrounding blanks.
const char* trim(char* from, char* to) {
  *to = '\0';
  while (to > from && is_blank(to[-1])) *--to = '\0';
  while (is_blank(*from)) ++from;
  return from;
}

// Finds the next complete line among the bytes read; at the end of input the rest counts
// as a line, and so does a full buffer without a line end.
const char* find_line() {
  if (input.line != nullptr) return input.line;
  char* start = input.buffer + input.begin;
  char* stop = input.buffer + input.end;
  if (char* newline = static_cast<char*>(std::memchr(start, '\n', stop - start))) {
    input.line_next = static_cast<size_t>(newline + 1 - input.buffer);
    input.line = trim(start, newline);
  } else if (start != stop &&
             (input.ended || stop - start == static_cast<ptrdiff_t>(kInputCapacity))) {
    input.line_next = input.end;
    input.line = trim(start, stop);
  }
  return input.line;
}

// Waits until standard input has something, ends, or Ctrl+C is pressed, and reads what
// it holds; the interrupt cannot slip in between the test and the wait.
void fill() {
  if (input.ended) return;
  if (input.begin != 0) {
    std::memmove(input.buffer, input.buffer + input.begin, input.end - input.begin);
    input.end -= input.begin;
    input.begin = 0;
  }
  struct pollfd fd = {0, POLLIN, 0};
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &previous);
  int ready = 0;
  int poll_error = 0;
  if (interrupt_pending == 0) {
    ready = ppoll(&fd, 1, nullptr, &previous);
    poll_error = errno;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (ready < 0 && poll_error != EINTR) input.ended = true;  // no input to be had
  if (ready <= 0) return;
  const ssize_t n = read(0, input.buffer + input.end, kInputCapacity - input.end);
  if (n > 0) {
    input.end += static_cast<size_t>(n);
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    input.ended = true;
  }
}

void end_progress_line() {
  if (progress_open) {
    std::fputc('\n', stdout);
    progress_open = false;
  }
}

}  // namespace

void terminal_begin() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  // Restarting keeps writes to standard output whole; the wait for input (ppoll) is never
  // restarted, so a press is still seen at once.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

namespace terminal {

LineResult read_line(char* out, size_t size) {
  std::fflush(stdout);
  for (;;) {
    if (take_interrupt()) return LineResult::kInterrupted;
    if (const char* line = find_line()) {
      size_t n = std::strlen(line);
      if (n >= size) n = size - 1;
      std::memcpy(out, line, n);
      out[n] = '\0';
      input.begin = input.line_next;
      input.line = nullptr;
      return LineResult::kLine;
    }
    if (input.ended) return LineResult::kEnd;
    fill();
  }
}

bool take_interrupt() {
  if (interrupt_pending == 0) return false;
  interrupt_pending = 0;
  return true;
}

bool input_is_terminal() {
  return isatty(0) == 1;
}

void print(const char* text) {
  end_progress_line();
  put_terminal_text(stdout, text, true);
  std::fflush(stdout);
}

void printf_out(const char* format, ...) {
  end_progress_line();
  // Formatted first, so that the names in it reach the terminal as printable text.
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  put_terminal_text(stdout, text, true);
  std::fflush(stdout);
}

void show_progress(const char* text) {
  if (isatty(1) == 1) {
    std::fputs("\r\033[K", stdout);
    put_terminal_text(stdout, text, false);
    progress_open = true;
  } else {
    end_progress_line();
    put_terminal_text(stdout, text, false);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
}

}  // namespace terminal

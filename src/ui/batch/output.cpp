#include "ui/batch/output.h"

#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <string>

#include "platform/posix/path_map.h"

Verbosity verbosity = Verbosity::kNormal;

namespace {

bool data_on_stdout = false;

struct Bar {
  bool active = false;
  bool shown = false;
  bool bytes = false;
  uint64_t total = 0;
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point last_drawn;
};

Bar bar;

bool bar_wanted() {
  return verbosity != Verbosity::kQuiet && isatty(STDERR_FILENO) == 1;
}

void print_line(FILE* to, const char* prefix, const char* format, va_list args) {
  progress_clear();
  if (prefix != nullptr) std::fputs(prefix, to);
  std::vfprintf(to, format, args);
  std::fputc('\n', to);
  std::fflush(to);
}

// Length of the UTF-8 sequence at text[i] that is valid and no control character; 0 otherwise.
size_t printable_sequence(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x20 || c == 0x7F) return 0;
  if (c < 0x80) return 1;
  size_t length;
  uint32_t code;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    code = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    code = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    code = c & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3Fu);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code >= 0x80 && code <= 0x9F) return 0;  // C1 controls
  return length;
}

std::string duration_text(double seconds) {
  const auto total = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
  }
  return text;
}

}  // namespace

void set_data_on_stdout(bool on) {
  data_on_stdout = on;
}

FILE* report_stream() {
  return data_on_stdout ? stderr : stdout;
}

void print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line(stderr, "zpx: ", format, args);
  va_end(args);
}

void print_warning(const char* format, ...) {
  if (verbosity == Verbosity::kQuiet) return;
  va_list args;
  va_start(args, format);
  print_line(stderr, "zpx: warning: ", format, args);
  va_end(args);
}

void print_note(const char* format, ...) {
  if (verbosity == Verbosity::kQuiet) return;
  va_list args;
  va_start(args, format);
  print_line(stderr, "zpx: ", format, args);
  va_end(args);
}

void print_result(const char* format, ...) {
  if (verbosity == Verbosity::kQuiet) return;
  va_list args;
  va_start(args, format);
  print_line(report_stream(), nullptr, format, args);
  va_end(args);
}

void print_detail(const char* format, ...) {
  if (verbosity != Verbosity::kVerbose) return;
  va_list args;
  va_start(args, format);
  print_line(report_stream(), nullptr, format, args);
  va_end(args);
}

std::string counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string shown(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t n = printable_sequence(text, i);
    if (n == 0) {
      out += '?';
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string shown_windows_path(const char* windows_path) {
  char posix[4096];
  if (!map_to_posix(windows_path, posix, sizeof posix)) return shown(windows_path);
  return shown(posix);
}

void progress_start(uint64_t total, bool bytes) {
  bar = Bar{};
  bar.active = bar_wanted();
  bar.total = total;
  bar.bytes = bytes;
  bar.started = std::chrono::steady_clock::now();
}

void progress_set_total(uint64_t total) {
  bar.total = total;
}

void progress_update(uint64_t done, const std::string& label) {
  if (!bar.active) return;
  const auto now = std::chrono::steady_clock::now();
  // A few redraws a second are enough, and cost nothing on fast runs.
  if (bar.shown && now - bar.last_drawn < std::chrono::milliseconds(100) && done < bar.total) {
    return;
  }
  bar.last_drawn = now;
  constexpr uint64_t kWidth = 30;
  const uint64_t total = bar.total != 0 ? bar.total : 1;
  if (done > total) done = total;
  char cells[kWidth + 1];
  const uint64_t filled = done * kWidth / total;
  for (uint64_t i = 0; i < kWidth; ++i) cells[i] = i < filled ? '#' : '.';
  cells[kWidth] = '\0';
  std::string line = "\r\033[K[" + std::string(cells) + "] ";
  char text[96];
  if (bar.bytes) {
    std::snprintf(text, sizeof text, "%3u%%", static_cast<unsigned>(done * 100 / total));
  } else {
    std::snprintf(text, sizeof text, "%llu/%llu", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(bar.total));
  }
  line += text;
  // Rate and time left once the run has lasted long enough for them to mean something.
  const double elapsed = std::chrono::duration<double>(now - bar.started).count();
  if (elapsed >= 2.0 && done > 0) {
    const double rate = static_cast<double>(done) / elapsed;
    const double left = static_cast<double>(total - done) / rate;
    if (bar.bytes) {
      std::snprintf(text, sizeof text, " %.1f MB/s, %s left", rate / 1e6,
                    duration_text(left).c_str());
    } else {
      std::snprintf(text, sizeof text, " %.0f files/s, %s left", rate, duration_text(left).c_str());
    }
    line += text;
  }
  if (!label.empty()) line += " " + shown(label).substr(0, 36);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  bar.shown = true;
}

void progress_clear() {
  if (bar.shown) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    bar.shown = false;
  }
}

void progress_end() {
  progress_clear();
  bar.active = false;
}

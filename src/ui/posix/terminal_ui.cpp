// The installer's windows on a terminal. The main dialog prints its caption, text, folder
// and check box and reads commands, one per line; message boxes print the caption and the
// exact text and read ok/cancel; the overwrite prompt reads yes/no/all. End of input and
// Ctrl+C answer Cancel (at the overwrite prompt, which has no Cancel: No, and the
// installation is cancelled). While the extraction runs, Ctrl+C is the dialog's Cancel
// button, handled at the next drain_messages.
#include <cstdio>
#include <cstring>

#include "archive/paths.h"
#include "platform/posix/path_map.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "ui/main_dialog.h"
#include "ui/posix/terminal.h"
#include "ui/ui.h"

namespace {

using terminal::LineResult;

constexpr char kChooserTitle[] = "Select a folder for installation of Zarpex.";
constexpr char kCheckBoxText[] = "Overwrite Existing Files Without Prompting";
constexpr char kCommandHelp[] =
    "Commands: folder <text> | overwrite on|off | browse [<folder>] | install | cancel\n";

// The dialog's controls. The edit box holds more than the install folder takes: reading
// it cuts the text to the reader's limit, as reading an edit control does.
struct MainDialog {
  bool installing = false;
  char edit[1024] = {};
  bool overwrite_checked = false;
};

MainDialog dialog;
Window const kDialogWindow = &dialog;

constexpr size_t kLineSize = 1100;

// Copies text into out (size bytes, the terminator included), cut where it does not fit.
void copy_cut(char* out, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
}

// Reads the edit box into out (size bytes), cutting the text there.
void read_edit(char* out, size_t size) {
  copy_cut(out, size, dialog.edit);
}

// A folder as typed: a POSIX path (starting with '/') becomes its Windows name, anything
// else is taken as it stands. False when the Windows name does not fit.
bool typed_folder(const char* text, char* out, size_t size) {
  if (text[0] == '/') return map_to_windows(text, out, size);
  if (std::strlen(text) >= size) return false;
  copy_cut(out, size, text);
  return true;
}

void show_folder() {
  terminal::printf_out("Install to Folder: %s\n", dialog.edit);
  char here[4096];
  if (dialog.edit[0] == '\0') {
    terminal::print("  (on this system: the current folder)\n");
  } else if (map_to_posix(dialog.edit, here, sizeof here)) {
    terminal::printf_out("  (on this system: %s)\n", here);
  }
}

void show_check_box() {
  terminal::printf_out("[%c] %s\n", dialog.overwrite_checked ? 'x' : ' ', kCheckBoxText);
}

void show_dialog() {
  terminal::printf_out("=== %s ===\n%s\n", kCaption, kInstructionText);
  show_folder();
  show_check_box();
  terminal::print(kCommandHelp);
}

// Splits "word rest": returns the rest (after the blanks that follow the word) and
// leaves the word, lower-cased, in word.
const char* split_command(const char* line, char* word, size_t size) {
  size_t n = 0;
  while (line[n] != '\0' && line[n] != ' ' && line[n] != '\t') ++n;
  size_t i = 0;
  for (; i < n && i + 1 < size; ++i) {
    const char c = line[i];
    word[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  word[i] = '\0';
  const char* rest = line + n;
  while (*rest == ' ' || *rest == '\t') ++rest;
  return rest;
}

bool is_word(const char* word, const char* a, const char* b = nullptr) {
  return std::strcmp(word, a) == 0 || (b != nullptr && std::strcmp(word, b) == 0);
}

// Reads an answer after a prompt; the answer is echoed when the input is not a terminal,
// so that a scripted run reads like a typed one.
LineResult read_answer(char* line, size_t size) {
  const LineResult result = terminal::read_line(line, size);
  if (result == LineResult::kLine && !terminal::input_is_terminal()) {
    terminal::printf_out("%s\n", line);
  } else if (result == LineResult::kEnd) {
    terminal::print("\n(end of input)\n");
  } else if (result == LineResult::kInterrupted) {
    terminal::print("\n(interrupted)\n");
  }
  return result;
}

// The Cancel button, and closing the dialog.
void press_cancel() {
  install_state.cancel_requested = 1;
  if (dialog.installing) terminal::print("Cancel: the installation stops.\n");
}

void press_browse(const char* typed) {
  char work[kWorkPathSize];
  read_edit(work, sizeof work);
  // The chooser returns the typed folder; with none typed it asks for one.
  char chosen[kWorkPathSize];
  if (typed[0] != '\0') {
    if (!typed_folder(typed, chosen, sizeof chosen)) {
      terminal::print("The folder name is too long.\n");
      return;
    }
    copy_cut(work, sizeof work, chosen);
  } else if (!ui_choose_folder(kDialogWindow, work)) {
    return;  // cancelled: the edit box keeps its text
  }
  main_dialog_browse_result(work);
  copy_cut(dialog.edit, sizeof dialog.edit, work);
  show_folder();
}

// Carries out one dialog command; false when the line is none.
bool run_dialog_command(const char* line, int32_t* result, bool* ended) {
  char word[16];
  const char* rest = split_command(line, word, sizeof word);
  if (is_word(word, "cancel", "close")) {
    press_cancel();
    *result = -1;
    *ended = true;
  } else if (is_word(word, "install")) {
    read_edit(install_state.install_folder, kPathBufferSize);
    install_state.overwrite_all = dialog.overwrite_checked ? 1 : 0;
    dialog.installing = true;
    *result = main_dialog_install(kDialogWindow);
    dialog.installing = false;
    *ended = true;
  } else if (is_word(word, "folder")) {
    char folder[sizeof dialog.edit];
    if (typed_folder(rest, folder, sizeof folder)) {
      copy_cut(dialog.edit, sizeof dialog.edit, folder);
      show_folder();
    } else {
      terminal::print("The folder name is too long.\n");
    }
  } else if (is_word(word, "overwrite")) {
    char state[8];
    split_command(rest, state, sizeof state);
    if (is_word(state, "on", "yes")) {
      dialog.overwrite_checked = true;
    } else if (is_word(state, "off", "no")) {
      dialog.overwrite_checked = false;
    } else {
      terminal::print("Use: overwrite on, or overwrite off\n");
      return true;
    }
    show_check_box();
  } else if (is_word(word, "browse")) {
    press_browse(rest);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int32_t ui_main_dialog() {
  terminal_begin();
  dialog = MainDialog{};
  copy_cut(dialog.edit, sizeof dialog.edit, install_state.install_folder);
  dialog.overwrite_checked = install_state.overwrite_all != 0;
  show_dialog();
  int32_t result = -1;
  bool ended = false;
  char line[kLineSize];
  while (!ended) {
    terminal::print("> ");
    const LineResult read = read_answer(line, sizeof line);
    if (read != LineResult::kLine) {  // end of input and Ctrl+C close the dialog
      press_cancel();
      result = -1;
      break;
    }
    if (line[0] == '\0') continue;
    if (!run_dialog_command(line, &result, &ended)) {
      terminal::printf_out("Unknown command: %s\n", line);
      terminal::print(kCommandHelp);
    }
  }
  terminal::print("");  // ends a progress line still open
  return result;
}

int ui_message_box(Window, const char* text, const char* caption, uint32_t style) {
  terminal::printf_out("*** %s ***\n%s\n", caption, text);
  if ((style & 0x0F) != kMbOkCancel) {
    terminal::print("*** [OK]\n");
    return kIdOk;
  }
  char line[kLineSize];
  for (;;) {
    terminal::print("*** [OK] [Cancel] (ok/cancel)? ");
    if (read_answer(line, sizeof line) != LineResult::kLine) return kIdCancel;
    char word[16];
    split_command(line, word, sizeof word);
    if (is_word(word, "ok", "o")) return kIdOk;
    if (is_word(word, "cancel", "c")) return kIdCancel;
  }
}

int ui_overwrite_prompt(Window) {
  format_text(message_text, kMessageTextSize, kOverwriteQuestion, install_state.install_folder);
  terminal::printf_out("*** %s ***\n%s\n", kCaption, message_text);
  char line[kLineSize];
  for (;;) {
    terminal::print("*** [Yes] [No] [Yes To All] (yes/no/all)? ");
    if (read_answer(line, sizeof line) != LineResult::kLine) {
      // No Cancel here: keep the file, and stop the installation as Cancel would.
      press_cancel();
      return kAnswerNo;
    }
    char word[16];
    split_command(line, word, sizeof word);
    if (is_word(word, "yes", "y")) return kAnswerYes;
    if (is_word(word, "no", "n")) return kAnswerNo;
    if (is_word(word, "all", "a")) return kAnswerYesToAll;
  }
}

void ui_set_progress(Window, const char* text) {
  if (install_state.silent) return;  // a silent installation shows nothing
  terminal::show_progress(text);
}

int ui_choose_folder(Window, char* path) {
  terminal::printf_out("*** %s ***\nFolder (an empty line cancels): ", kChooserTitle);
  char line[kLineSize];
  if (read_answer(line, sizeof line) != LineResult::kLine || line[0] == '\0') return 0;
  char chosen[kWorkPathSize];
  if (!typed_folder(line, chosen, sizeof chosen)) {
    terminal::print("The folder name is too long.\n");
    return 0;
  }
  copy_cut(path, kWorkPathSize, chosen);
  return 1;
}

void drain_messages() {
  // Ctrl+C is the Cancel button: a press waits here, between files, to be handled.
  if (terminal::take_interrupt()) {
    terminal::print("\n(interrupted)\n");
    press_cancel();
  }
}

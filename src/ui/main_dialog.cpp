#include "ui/main_dialog.h"

#include "archive/extract.h"
#include "archive/paths.h"
#include "state/install_state.h"

namespace {

// The dialog's commands are dispatched again while the extraction pumps messages.
bool installing;

constexpr char kProductFolder[] = "Zarpex";

}  // namespace

bool main_dialog_installing() {
  return installing;
}

int32_t main_dialog_install(Window dialog) {
  if (installing) return kInstallRefused;
  installing = true;
  const ResultCode result = extract_all(dialog);
  installing = false;
  if (result < 0) {
    report_error(dialog, result, nullptr, 0);
    return result;
  }
  // An installation that did not run to its end is neither registered nor started.
  if (extraction_interrupted || install_state.cancel_requested) return -1;
  return result;
}

void main_dialog_browse_result(char* folder) {
  strip_separators(folder);
  const char* slash = find_last_char(folder, '\\');
  if (slash == nullptr || text_compare_nocase(slash + 1, kProductFolder) == 0) return;
  // "\Zarpex" is added only when it fits the 260-byte buffer whole.
  char* end = folder + text_length(folder);
  const uint32_t separator = (end > folder && end[-1] != '\\' && end[-1] != ':') ? 1 : 0;
  if (text_length(folder) + separator + text_length(kProductFolder) + 1 > kWorkPathSize) return;
  append_separator(folder);
  text_append(folder, kWorkPathSize, kProductFolder);
}

void chooser_file_name(char* folder) {
  append_separator(folder);
  // A folder too long for its "x" would come back cut: no name, and the dialog accepts
  // nothing.
  if (!text_append(folder, kWorkPathSize, "x")) folder[0] = '\0';
}

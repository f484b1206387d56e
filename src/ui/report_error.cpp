#include "archive/paths.h"
#include "platform/fs.h"
#include "state/install_state.h"
#include "ui/ui.h"

char message_text[kMessageTextSize];

namespace {

constexpr char kDamaged[] =
    "Archive data is damaged, probably caused by\ncorrupt disk or download error";

struct Reason {
  uint32_t error;
  const char* text;
};

constexpr Reason kReasons[] = {
    {2, "\nFile not found"},
    {3, "\nPath not found"},
    {5, "\nAccess denied"},
    {15, "\nInvalid drive"},
    {19, "\nDisk is write protected"},
    {21, "\nDevice not ready"},
    {25, "\nTrack not found"},
    {26, "\nNot a DOS disk"},
    {27, "\nSector not found"},
    {29, "\nWrite fault"},
    {30, "\nRead fault"},
    {31, "\nGeneral failure"},
    {39, "\nDisk full"},
    {80, "\nFile exists"},
    {112, "\nDisk full"},
    {161, "\nInvalid path"},
};

// The message format for a ResultCode, or nullptr when it has none.
const char* message_format(ResultCode result) {
  switch (result) {
    case kResultNoMemory:
      return "Not enough memory";
    case kResultCannotCreate:
      return "Cannot create %s%s";
    case kResultCannotOpenSelf:
      return "Cannot open %s%s";
    case kResultShortRead:
      return "Cannot read %s%s";
    case kResultWriteFailed:
      return "Cannot write %s%s";
    case kResultCannotCreateFolder:
      return "Cannot create folder %s%s";
    case kResultDamaged:
      return kDamaged;
    case kResultReadFailed:
      return "Cannot read %s%s";
    case kResultNoMoreInput:
      return kDamaged;
    default:
      return nullptr;
  }
}

}  // namespace

const char* os_error_suffix() {
  for (const Reason& reason : kReasons) {
    if (reason.error == last_os_error) return reason.text;
  }
  if (last_os_error >= 50 && last_os_error <= 71) return "\nNetwork error";
  return "";
}

int report_error(Window owner, ResultCode result, const char* path, int ask) {
  // Unattended: nothing is shown, and the failure stops the installation (so it is the
  // first and only one reported) and becomes its exit code.
  if (install_state.silent) {
    install_state.silent_failure = result;
    return 1;
  }
  if (path == nullptr) path = install_state.module_name;
  const char* format = message_format(result);
  if (format == nullptr) return 0;
  // The fixed texts hold no "%s", so they come through unchanged.
  format_text(message_text, sizeof message_text, format, path, os_error_suffix());
  last_os_error = 0;
  const int answer = ui_message_box(owner, message_text, kCaption,
                                    kMbIconExclamation | (ask ? kMbOkCancel : kMbOk));
  return (ask && answer == kIdOk) ? 0 : 1;
}

// The extraction driver: installs the whole archive into install_state.install_folder.
#pragma once

#include <cstdint>

#include "archive/paths.h"
#include "codec/result.h"
#include "state/install_state.h"
#include "ui/ui.h"

// Runs inside the main dialog's Install command; `dialog` owns every window it opens.
ResultCode extract_all(Window dialog);

// How many bytes of a stored name fit behind `folder` in a full path of 259 characters;
// the folder ends as the driver leaves it for the names (strip_separators, then
// append_separator). The driver passes over an entry whose name is longer.
inline uint32_t name_room(const char* folder) {
  const uint32_t length = text_length(folder);
  return length < kWorkPathSize - 1 ? kWorkPathSize - 1 - length : 0;
}

struct EntryRecord;

// Whether a stored name may be written below the install folder: no root, drive or colon,
// no component of two or more dots and spaces only, no NUL or other control byte, no
// component that names a device on Windows (CON, PRN, AUX, NUL, COM1-9, LPT1-9). The
// driver refuses any other name as damage; zpx test holds names to the same rule.
bool name_is_safe(const uint8_t* name, uint32_t length);

#if defined(ZARPEX_ENTRY_CHOICE)
// Builds for this host only (the Win32 stub has no byte to spare for it): when set, the
// driver asks it for every entry, with the name as stored, and passes over an entry it
// answers false for without a word. zpx extract chooses the entries named on its command
// line with it; the installer leaves it unset and takes every entry.
extern bool (*entry_chosen)(const EntryRecord& entry, const char* name);
#endif

// 1 when the last extract_all did not run to its end: Cancel was pressed during it, the
// user chose to stop at a reported failure, or the install folder cannot be created.
// Its result stays 0 in those cases; the main dialog uses this flag so that nothing is
// registered. Entries passed over (No at the prompt, OK after a failure) do not count.
extern uint8_t extraction_interrupted;

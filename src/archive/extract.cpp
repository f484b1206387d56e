#include "archive/extract.h"

#include "archive/directory.h"
#include "archive/installer_image.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/block_stream.h"
#include "codec/format.h"
#include "platform/fs.h"
#include "state/install_state.h"

uint8_t extraction_interrupted;
#if defined(ZARPEX_ENTRY_CHOICE)
bool (*entry_chosen)(const EntryRecord& entry, const char* name) = nullptr;
#endif

namespace {

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

// Windows opens a device, not a file, for a component named CON, PRN, AUX, NUL, COM1 to
// COM9 or LPT1 to LPT9, in any case, with any extension and with spaces before it
// ("Aux .txt"). The key: the component's letters before its first dot or space, folded to
// lower case, a last digit 1 to 9 as 0; more than four letters give kLongKey. So a name
// whose letters before a space make a device ("Aux notes.txt") is refused too, as the
// packer refuses it. The keys sit where (key * kDeviceHash) >> 29 puts them; the free
// slots hold a key that cannot occur (its last byte a digit).
constexpr uint32_t kDeviceHash = 0x4DD;
constexpr uint32_t kNoKey = '1';
constexpr uint32_t kLongKey = ~0u;
constexpr uint32_t kOtherSeen = 0x80000000;
constexpr uint32_t kDeviceNames[8] = {0x6e756c,   0x70726e, 0x6c707400, kNoKey,
                                      0x636f6d00, kNoKey,   0x617578,   0x636f6e};

}  // namespace

// A name may only lead into the install folder: no root, no drive, no colon at all
// (which would also name a stream), and no parent component: a component of dots and
// spaces only, two of them or more, since Windows trims trailing dots and spaces
// (".. " and "..." could name the parent). No NUL or other control byte either: the path
// ends at the first NUL, so "..", a NUL and anything behind it would name the parent.
// No component may name a device.
// Out of line: inlined into the driver's loop it costs more than the call.
[[gnu::noinline]] bool name_is_safe(const uint8_t* name, uint32_t length) {
  if (length > 0 && is_separator(static_cast<char>(name[0]))) return false;
  // The component's dots and spaces, with kOtherSeen once anything else came.
  uint32_t dots = 0;
  uint32_t key = 0;
  for (const uint8_t* p = name;; ++p) {
    const bool end = p == name + length;
    const uint8_t c = end ? '\\' : *p;
    if (c < 0x20 || c == ':') return false;
    if (is_separator(static_cast<char>(c))) {
      if (dots >= 2 && dots < kOtherSeen) return false;
      if (static_cast<uint8_t>(key - '1') < 9) key &= ~0xFFu;
      if (kDeviceNames[(key * kDeviceHash) >> 29] == key) return false;
      if (end) return true;
      key = 0;
      dots = 0;
    } else if (c == '.' || c == ' ') {
      ++dots;  // the letters before the first dot or space make the key
    } else {
      if (dots % kOtherSeen == 0) key = key > 0xFFFFFF ? kLongKey : key << 8 | (c | 0x20u);
      dots |= kOtherSeen;
    }
  }
}

namespace {

// Decoded directory bytes of the current block; one run uses it at a time.
uint8_t entry_staging[format::kEntryStagingSize];

// Where an entry's processing ends up.
enum class Step { kNext, kStop };

Step extract_file(Window dialog, const EntryRecord& entry, char* name_start) {
  char* const path = install_state.install_folder;
  // A link at the name or in a folder of it could lead out of the install folder: it is
  // refused as a file that cannot be created (a link to nothing too), and nobody is asked.
  const int linked = link_below(path, name_start);
  if (!linked && !install_state.overwrite_all) {
    const FileHandle existing = fs_open_existing(path, kGenericRead);
    if (existing != kNoFile) {
      fs_close(existing);
      const int answer = ui_overwrite_prompt(dialog);
      if (answer == kAnswerNo) return Step::kNext;
      if (answer == kAnswerYesToAll) install_state.overwrite_all = 1;
    }
  }

  format_text(message_text, sizeof message_text, "Extracting %s", name_start);
  ui_set_progress(dialog, message_text);

  FileHandle output = kNoFile;
  if (!linked) {
    // An unattended installation replaces read-only, hidden and system files too, as an
    // update must: nobody is there to be told that one cannot be replaced.
    if (install_state.silent) fs_set_attributes(path, kAttributeNormal);
    output = fs_create_output(path, kAttributeNormal);
  }
  if (output == kNoFile) {
    return report_error(dialog, kResultCannotCreate, path, 1) ? Step::kStop : Step::kNext;
  }

  drain_messages();
  const ResultCode result =
      extract_stream(output, entry.stream_offset, entry.stream_position, entry.size, entry.flags);
  if (result < 0) {
    // Reported first, so that the message names the failing operation's reason.
    const int stop = report_error(dialog, result, path, result == kResultDamaged);
    fs_close(output);
    fs_delete(path);
    return stop ? Step::kStop : Step::kNext;
  }

  fs_set_times(output, entry.creation_date, entry.creation_time, entry.write_date,
               entry.write_time);
  fs_close(output);
  if (archive_reader.running_crc != entry.crc) {
    fs_delete(path);
    return report_error(dialog, kResultDamaged, path, 1) ? Step::kStop : Step::kNext;
  }
  fs_set_attributes(path,
                    entry.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem));
  return Step::kNext;
}

}  // namespace

ResultCode extract_all(Window dialog) {
  ArchiveReader& reader = archive_reader;
  char* const folder = install_state.install_folder;
  extraction_interrupted = 0;

  char* folder_end = strip_separators(folder);

  const uint32_t file_size = fs_seek(reader.archive_file, 0, kFileEnd);
  if (file_size - reader.archive_base < format::kHeaderSize) return kResultDamaged;

  // The folder, a backslash and at least a one-character name must fit in a full path
  // of 259 characters; a longer folder could never receive a file.
  const uint32_t folder_length = static_cast<uint32_t>(folder_end - folder);
  const bool needs_separator =
      folder_length != 0 && folder_end[-1] != '\\' && folder_end[-1] != ':';
  if (folder_length + (needs_separator ? 1 : 0) + 1 > kWorkPathSize - 1) {
    last_os_error = kErrorBadPathname;
    report_error(dialog, kResultCannotCreateFolder, folder, 0);
    extraction_interrupted = 1;
    return kResultOk;
  }
  if (folder_length != 0 && folder_end[-1] != ':' && !create_folder_chain(folder)) {
    report_error(dialog, kResultCannotCreateFolder, folder, 0);
    extraction_interrupted = 1;
    return kResultOk;
  }

  const ResultCode begun =
      begin_reading(entry_staging, reader.archive_base + archive_header.directory_offset);
  if (begun < 0) return begun;

  char* const name_start = append_separator(folder);
  const uint32_t room = name_room(folder);

  ResultCode result = kResultOk;
  bool stopped = false;
  uint32_t index = 0;
  for (; index < archive_header.entry_count && !install_state.cancel_requested; ++index) {
    EntryRecord entry;
    const uint8_t* name = nullptr;
    result = parse_next_entry(entry_staging, &entry, &name);
    if (result != kResultOk) break;

    if (entry.name_length <= room) {
      for (uint32_t i = 0; i < entry.name_length; ++i) name_start[i] = static_cast<char>(name[i]);
      name_start[entry.name_length] = '\0';

      Step step = Step::kNext;
#if defined(ZARPEX_ENTRY_CHOICE)
      if (entry_chosen != nullptr && !entry_chosen(entry, name_start)) {
        drain_messages();
        continue;
      }
#endif
      if (!name_is_safe(name, entry.name_length)) {
        // Such a name would lead out of the install folder: nothing is written for it.
        if (report_error(dialog, kResultDamaged, folder, 1)) step = Step::kStop;
      } else if (entry.flags & format::kFlagFolder) {
        if (link_below(folder, name_start) || !create_folder_chain(folder)) {
          report_error(dialog, kResultCannotCreateFolder, folder, 0);
          step = Step::kStop;
        } else {
          fs_set_attributes(folder, entry.attributes &
                                        (kAttributeReadOnly | kAttributeHidden | kAttributeSystem));
        }
      } else {
        step = extract_file(dialog, entry, name_start);
      }
      if (step == Step::kStop) {
        stopped = true;
        break;
      }
    }
    drain_messages();
  }
  if (stopped || index < archive_header.entry_count || install_state.cancel_requested) {
    extraction_interrupted = 1;
  }

  *name_start = '\0';
  end_reading();
  return result;
}

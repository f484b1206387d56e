// zpx extract: the installer's extraction driver, run without questions into a folder
// named on the command line, on every entry or on those the names and patterns choose.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/format.h"
#include "platform/posix/code_page.h"
#include "platform/posix/path_map.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "tools/archive_source.h"
#include "tools/commands.h"
#include "tools/entry_choice.h"
#include "ui/batch/batch.h"
#include "ui/batch/output.h"
#include "ui/ui.h"

namespace {

// Set while zpx extract runs the driver.
const EntryChoice* active_choice = nullptr;

bool choose_entry(const EntryRecord& entry, const char* name) {
  if (active_choice != nullptr && !active_choice->chosen(name)) return false;
  batch_entry(entry.size, entry.stream_offset, (entry.flags & format::kFlagFolder) != 0);
  return true;
}

// The install folder from -d, in the installer's form; false (reported) when it cannot be.
bool set_install_folder(const CommandLine& line) {
  install_state.install_folder[0] = '\0';
  const std::string* folder = line.value("--directory");
  if (folder == nullptr) return true;
  // Room for a separator and a one-character name within the 259 of a full path.
  // A folder too long for any name is the driver's to refuse, as the installer does.
  if (!map_to_windows(folder->c_str(), install_state.install_folder, kPathBufferSize)) {
    // The installer's paths are texts of the code page: the folder must be one too.
    std::string encoded(folder->size() * 2 + 1, '\0');
    if (ansi_code_page != 0 && code_page_encode(ansi_code_page, folder->data(), folder->size(),
                                                encoded.data(), encoded.size()) < 0) {
      print_error(
          "%s: the folder's name cannot be written in code page %u, the code page of "
          "the archive's names (--codepage)",
          shown(*folder).c_str(), ansi_code_page);
    } else {
      print_error("%s: the folder's name is too long for the installer's paths",
                  shown(*folder).c_str());
    }
    return false;
  }
  return true;
}

// What the run will do, read ahead of it: the files and bytes chosen for the bar, and the
// names too long for the folder, which the driver passes over without a word.
struct ExtractPlan {
  std::string folder;  // the install folder as the driver leaves it for the names
  BatchSettings settings;
  std::vector<std::string> too_long;  // shown as full paths
};

ExtractPlan plan_extract(const std::vector<ListedEntry>& entries, const EntryChoice* choice) {
  ExtractPlan plan;
  char folder[kPathBufferSize + 1];
  text_copy(folder, sizeof folder, install_state.install_folder);
  strip_separators(folder);
  append_separator(folder);
  plan.folder = folder;
  const uint32_t room = name_room(folder);
  for (const ListedEntry& e : entries) {
    if (choice != nullptr && !choice->chosen(e.name)) continue;
    if (e.name.size() > room) {
      plan.too_long.push_back(shown_windows_path((plan.folder + e.name).c_str()));
    } else if (!(e.record.flags & format::kFlagFolder)) {
      ++plan.settings.files;
      plan.settings.bytes += e.record.size;
    }
  }
  return plan;
}

// The names too long for the folder, as the installer would report its failure to create
// them, once for all.
void report_too_long(const std::vector<std::string>& too_long) {
  if (too_long.empty()) return;
  print_error("Cannot create %s\nThe path would be longer than 259 characters",
              too_long[0].c_str());
  if (too_long.size() > 1) {
    print_error("the same failure took down %zu more (-v names them)", too_long.size() - 1);
    for (size_t i = 1; i < too_long.size(); ++i) print_detail("%s", too_long[i].c_str());
  }
}

// Runs the extraction driver on the chosen entries; the failures it met.
uint32_t run_driver(const EntryChoice* choice, const BatchSettings& settings) {
  active_choice = choice;
  entry_chosen = choose_entry;
  batch_begin(settings);
  const ResultCode result = extract_all(nullptr);
  batch_end();
  entry_chosen = nullptr;
  active_choice = nullptr;
  uint32_t failures = batch_failures();
  if (result < 0) {
    ++failures;
    install_state.install_folder[0] = '\0';
    report_error(nullptr, result, nullptr, 0);
  }
  return failures;
}

}  // namespace

int zpx_extract(const CommandDef& cmd, const CommandLine& line) {
  if (line.operands.empty()) return usage_error(cmd, "a file (FILE) is needed");
  if (const int status = code_page_option(cmd, line, &ansi_code_page); status >= 0) return status;
  const std::vector<std::string> names(line.operands.begin() + 1, line.operands.end());
  if (!set_install_folder(line)) return kExitFailed;
  Source source;
  if (!open_source(line.operands[0], &source)) return kExitFailed;
  if (!source.stub_intact) {
    // The installer itself would stop at its warning: nothing is extracted unless asked.
    print_error("%s", kModifiedInstallerText);
    if (!line.has("--ignore-stub")) {
      print_error("nothing extracted (--ignore-stub extracts all the same)");
      return kExitFailed;
    }
  }
  if (archive_header.entry_count == 0) {
    print_note("%s", kNoFilesText);
    return kExitOk;
  }

  std::vector<ListedEntry> entries;
  read_directory(&entries);  // the driver meets and reports the same damage
  EntryChoice choice(names);
  if (!names.empty()) choice.choose(entries);
  const EntryChoice* chosen = names.empty() ? nullptr : &choice;
  ExtractPlan plan = plan_extract(entries, chosen);
  plan.settings.overwrite = line.has("--overwrite");
  uint32_t failures = static_cast<uint32_t>(plan.too_long.size());
  report_too_long(plan.too_long);
  for (const std::string& pattern : choice.unmatched()) {
    print_error("%s: not in the archive", shown(pattern).c_str());
    ++failures;
  }
  failures += run_driver(chosen, plan.settings);

  const std::vector<std::string>& kept = batch_kept();
  if (!kept.empty()) {
    print_note("%zu existing file%s kept (--overwrite replaces them%s)", kept.size(),
               kept.size() == 1 ? "" : "s",
               verbosity == Verbosity::kVerbose ? "" : "; -v names them");
  }
  if (batch_interrupted()) return kExitFailed;
  std::string where =
      plan.folder.empty() ? std::string(".") : shown_windows_path(plan.folder.c_str());
  if (where.size() > 1 && where.back() == '/') where.pop_back();
  print_result("%s, %s extracted to %s%s", counted(batch_files_done(), "file", "files").c_str(),
               counted(batch_folders_done(), "folder", "folders").c_str(), where.c_str(),
               failures != 0 ? (", " + std::to_string(failures) + " failed").c_str() : "");
  return failures == 0 ? kExitOk : kExitFailed;
}

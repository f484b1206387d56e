// zpx test: decodes every file as the installer would and checks it, writing nothing;
// holds what the packer writes against the file.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/paths.h"
#include "codec/archive_reader.h"
#include "codec/block_decoder.h"
#include "codec/block_stream.h"
#include "codec/format.h"
#include "platform/fs.h"
#include "platform/posix/code_page.h"
#include "state/install_state.h"
#include "texts/messages.h"
#include "tools/archive_source.h"
#include "tools/commands.h"
#include "tools/stream_check.h"
#include "tools/structure_check.h"
#include "ui/batch/batch.h"
#include "ui/batch/output.h"
#include "ui/ui.h"

namespace {

struct TestCounts {
  uint32_t tested = 0;
  uint32_t failures = 0;
};

// The files and bytes the run will decode, for the progress bar.
BatchSettings count_files(const std::vector<ListedEntry>& entries) {
  BatchSettings settings;
  for (const ListedEntry& e : entries) {
    if (e.record.flags & format::kFlagFolder) continue;
    ++settings.files;
    settings.bytes += e.record.size;
  }
  return settings;
}

// Why the stream's decoding ended short or went astray, as the block decoder recorded it
// for the block where it stopped: empty when every block of it came out whole.
std::string block_end_text(uint8_t block_end) {
  std::string text;
  switch (block_end & ~kBlockDroppedMatch) {
    case kBlockInputEnded:
      text = "block ended short: its chunk's data ran out";
      break;
    case kBlockInvalidCode:
      text = "block ended short: bits that begin no code";
      break;
    case kBlockMeaninglessSymbol:
      text = "block ended short: symbol 287, which has no meaning";
      break;
    case kBlockNoSetLeft:
      text = "block ended short: a set switch with no table set left";
      break;
    case kBlockDistanceNeverSent:
      text = "block ended short: a remembered distance that was never sent";
      break;
    default:  // whole, or nothing decoded yet
      break;
  }
  if (block_end & kBlockDroppedMatch) {
    text += std::string(text.empty() ? "" : "; ") + "a match reached before the window";
  }
  return text;
}

// Decodes every file of `entries` and checks its CRC-32, reporting each failure as the
// installer does; -v names why a failed file's block ended.
TestCounts test_files(const std::vector<ListedEntry>& entries) {
  TestCounts counts;
  DirectoryWalk walk;  // sets the reader up for decoding
  const ResultCode result = walk.start();
  uint64_t bytes_done = 0;
  for (const ListedEntry& e : entries) {
    if (result < 0) break;
    drain_messages();
    if (install_state.cancel_requested) break;
    const EntryRecord& entry = e.record;
    if (entry.flags & format::kFlagFolder) continue;
    ++counts.tested;
    progress_update(bytes_done, e.utf8_name);
    bytes_done += entry.size;
    batch_entry(entry.size, entry.stream_offset, false);
    // The block stream begins the stream afresh here (its own rule): no block of it has
    // ended yet.
    const uint32_t key =
        archive_reader.archive_base + entry.stream_offset + format::kStreamLeadSize;
    if (static_cast<int32_t>(key) != archive_reader.stream_start ||
        entry.stream_position < archive_reader.block_start) {
      archive_reader.block_end = 0;
    }
    ResultCode outcome = extract_stream(kNoFile, entry.stream_offset, entry.stream_position,
                                        entry.size, entry.flags);
    const bool crc_differs = outcome == kResultOk && archive_reader.running_crc != entry.crc;
    if (crc_differs) outcome = kResultDamaged;
    if (outcome == kResultOk) {
      print_detail("OK      %s", shown(e.utf8_name).c_str());
      continue;
    }
    if (outcome == kResultCancelled) break;
    ++counts.failures;
    std::string why = block_end_text(archive_reader.block_end);
    if (crc_differs) why = "CRC-32 differs" + std::string(why.empty() ? "" : "; ") + why;
    if (why.empty() && archive_reader.block_pending) {
      why = "a block could not be loaded: its chunk header or code lengths are damaged";
    }
    if (why.empty()) {
      print_detail("FAILED  %s", shown(e.utf8_name).c_str());
    } else {
      print_detail("FAILED  %s (%s)", shown(e.utf8_name).c_str(), why.c_str());
    }
    // As in the installer: damaged contents let the run go on, anything else stops it.
    text_copy(install_state.install_folder, kPathBufferSize, e.name.c_str());
    const int stop =
        report_error(nullptr, outcome, install_state.install_folder, outcome == kResultDamaged);
    install_state.install_folder[0] = '\0';
    if (stop != 0) break;
  }
  walk.finish();
  return counts;
}

// The last line: what was tested and what failed. Returns the exit status.
int summarise(const Source& source, ResultCode directory, size_t entries_read, uint32_t files,
              const TestCounts& counts, size_t structure_problems) {
  const std::string file = shown(source.path);
  std::string summary = source.stub_intact ? "" : "stub modified; ";
  if (!source.signature_problem.empty()) summary += "signature damaged; ";
  if (structure_problems != 0) {
    // The directory or header disagrees with the file: no file failed for it.
    summary += "structure damaged (" +
               counted(static_cast<uint32_t>(structure_problems), "problem", "problems") + "); ";
  }
  if (directory < 0) {
    summary += directory_damage(source) + ": " + std::to_string(entries_read) + " of " +
               counted(archive_header.entry_count, "entry", "entries") + " could be read";
    if (counts.failures != 0) {
      summary += ", " + std::to_string(counts.failures) + " of their files failed";
    }
    print_error("%s: %s", file.c_str(), summary.c_str());
    return kExitFailed;
  }
  if (counts.failures != 0) {
    print_error("%s: %s%u of %s failed the test", file.c_str(), summary.c_str(), counts.failures,
                counted(files, "file", "files").c_str());
    return kExitFailed;
  }
  if (!summary.empty()) {
    print_error("%s: %s%s OK", file.c_str(), summary.c_str(),
                counted(counts.tested, "file", "files").c_str());
    return kExitFailed;
  }
  print_result("%s tested, no errors", counted(counts.tested, "file", "files").c_str());
  return kExitOk;
}

}  // namespace

int zpx_test(const CommandDef& cmd, const CommandLine& line) {
  Source source;
  if (const int status = open_file_operand(cmd, line, &source); status >= 0) return status;
  if (!source.stub_intact) print_error("%s", kModifiedInstallerText);
  if (archive_header.entry_count == 0) {
    print_note("%s", kNoFilesText);
    return source.stub_intact && source.signature_problem.empty() ? kExitOk : kExitFailed;
  }

  std::vector<ListedEntry> entries;
  StructureCheck structure(source);
  const ResultCode directory = read_directory(&entries, &structure);
  const BatchSettings settings = count_files(entries);
  batch_begin(settings);
  TestCounts counts = test_files(entries);
  batch_end();
  if (batch_interrupted()) return kExitFailed;
  // The streams against the directory once every file is sound: a damaged stream fails
  // its files already, and its members would only repeat that.
  StreamCheck streams;
  if (directory == kResultOk && counts.failures == 0) streams.check(entries);
  size_t structure_problems = 0;
  // Both print what they found, so both run.
  const bool structure_sound = directory == kResultOk && structure.report();
  const bool streams_sound = directory == kResultOk && streams.report();
  if (directory == kResultOk && !(structure_sound && streams_sound)) {
    // What the packer writes disagrees with the file: the directory may have been changed.
    structure_problems = structure.problems() + streams.problems();
    install_state.install_folder[0] = '\0';
    report_error(nullptr, kResultDamaged, nullptr, 0);
  }
  if (!source.signature_problem.empty()) {
    print_error("%s: %s", shown(source.path).c_str(), source.signature_problem.c_str());
  }
  return summarise(source, directory, entries.size(), settings.files, counts, structure_problems);
}

#include "tools/structure_check.h"

#include <string>
#include <tuple>

#include "archive/extract.h"
#include "ui/batch/output.h"

namespace {

// What is impossible in a DOS date and time (date 0: no time at all), or "".
std::string impossible_date(uint16_t date, uint16_t time) {
  if (date == 0) return "";
  const uint32_t year = 1980 + (date >> 9);
  const uint32_t month = (date >> 5) & 0x0F;
  const uint32_t day = date & 0x1F;
  static constexpr uint8_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (month < 1 || month > 12) return "month " + std::to_string(month);
  if (day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) {
    return "day " + std::to_string(day) + " of month " + std::to_string(month);
  }
  if ((time >> 11) > 23) return "hour " + std::to_string(time >> 11);
  if (((time >> 5) & 0x3F) > 59) return "minute " + std::to_string((time >> 5) & 0x3F);
  if ((time & 0x1F) > 29) return "second " + std::to_string((time & 0x1F) * 2);
  return "";
}

}  // namespace

StructureCheck::StructureCheck(const Source& source) : source_(source) {
  const uint64_t end = archive_data_end(source);
  const uint64_t length = end - source.stub_length;
  if (archive_header.archive_length != length) {
    problem("the header's archive length is " + std::to_string(archive_header.archive_length) +
            ", the archive's data are " + std::to_string(length) + " bytes");
  }
  if (archive_header.directory_offset < format::kHeaderSize ||
      archive_header.directory_offset >= length) {
    problem("the directory offset " + std::to_string(archive_header.directory_offset) +
            " lies outside the archive");
  }
  if (archive_header.data_length != archive_header.directory_offset - format::kHeaderSize) {
    problem("the header's data length is " + std::to_string(archive_header.data_length) +
            ", the data area " +
            std::to_string(archive_header.directory_offset - format::kHeaderSize) + " bytes");
  }
}

void StructureCheck::entry(const EntryRecord& entry, const std::string& name) {
  if (!names_.insert(name).second) problem("two entries are named " + shown(utf8_name(name)));
  // The installer refuses such a name as damage and writes nothing for it.
  if (!name_is_safe(reinterpret_cast<const uint8_t*>(name.data()),
                    static_cast<uint32_t>(name.size()))) {
    problem("the name " + shown(utf8_name(name)) + " is one the installer refuses");
  } else if (name.find('/') != std::string::npos) {
    // The installer takes it for a separator; the packer writes backslashes only.
    problem("the name " + shown(utf8_name(name)) + " holds a slash, which the packer never writes");
  }
  for (const auto& [what, date, time] :
       {std::tuple{"last-write", entry.write_date, entry.write_time},
        std::tuple{"creation", entry.creation_date, entry.creation_time}}) {
    const std::string impossible = impossible_date(date, time);
    if (!impossible.empty()) {
      problem("the " + std::string(what) + " time of " + shown(utf8_name(name)) +
              " is impossible (" + impossible + ")");
    }
  }
  if (!(entry.flags & format::kFlagFolder) &&
      (entry.stream_offset < format::kHeaderSize ||
       entry.stream_offset >= archive_header.directory_offset)) {
    problem("the stream of " + shown(utf8_name(name)) + " lies outside the data area");
  }
}

void StructureCheck::directory_end() {
  const ArchiveReader& r = archive_reader;
  if (r.entry_read_pointer != r.entry_end_pointer) {
    problem("the directory does not end after the header's " +
            counted(archive_header.entry_count, "entry", "entries"));
  } else if (r.directory_position != archive_data_end(source_)) {
    problem("the directory ends at offset " + std::to_string(r.directory_position) +
            " of the file, the archive's data at " + std::to_string(archive_data_end(source_)));
  }
}

bool StructureCheck::report() const {
  for (const std::string& p : problems_) print_error("Structure: %s", p.c_str());
  return problems_.empty();
}

#include "tools/structure_check.h"

#include "ui/batch/output.h"

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
  if (!names_.insert(name).second) problem("two entries are named " + shown(name));
  if (!(entry.flags & format::kFlagFolder) &&
      (entry.stream_offset < format::kHeaderSize ||
       entry.stream_offset >= archive_header.directory_offset)) {
    problem("the stream of " + shown(name) + " lies outside the data area");
  }
}

void StructureCheck::directory_end() {
  const ArchiveReader& r = archive_reader;
  if (r.entry_read_pointer != r.entry_end_pointer) {
    problem("the directory does not end after the header's " +
            std::to_string(archive_header.entry_count) + " entries");
  } else if (r.directory_position != archive_data_end(source_)) {
    problem("the directory ends at offset " + std::to_string(r.directory_position) +
            " of the file, the archive's data at " + std::to_string(archive_data_end(source_)));
  }
}

bool StructureCheck::report() const {
  for (const std::string& p : problems_) print_error("Structure: %s", p.c_str());
  return problems_.empty();
}

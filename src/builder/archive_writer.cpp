#include "builder/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "builder/call_transform.h"
#include "builder/checksum.h"
#include "builder/stream_encoder.h"
#include "codec/format.h"

namespace builder {
namespace {

constexpr uint16_t kEntryTrailerValue = 0x0001;

bool read_contents(const SourceEntry& e, uint8_t* dest, std::string* error) {
  FILE* f = std::fopen(e.path.c_str(), "rb");
  if (!f) {
    *error = e.path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  const size_t got = e.size ? std::fread(dest, 1, e.size, f) : 0;
  const bool failed = std::ferror(f) != 0;
  const int saved = errno;
  const bool longer = std::fgetc(f) != EOF;
  std::fclose(f);
  if (failed) {
    *error = e.path + ": cannot read: " + std::strerror(saved);
    return false;
  }
  if (got != e.size || longer) {
    *error = e.path + ": the file changed size while it was being packed";
    return false;
  }
  return true;
}

struct Placement {
  uint32_t position;  // member start in the stream
  uint32_t crc;
  uint8_t flags;
};

}  // namespace

void dos_date_time(int64_t seconds, uint16_t* date, uint16_t* time) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (!localtime_r(&t, &local) || local.tm_year < 80) {
    *date = 0;
    *time = 0;
    return;
  }
  const int year = std::min(local.tm_year - 80, 127);
  *date = static_cast<uint16_t>((year << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

bool build_archive(std::vector<SourceEntry>& entries, const PackOptions& options,
                   std::vector<uint8_t>* archive, PackStats* stats, std::string* error) {
  *stats = {};
  // Member layout of the one solid stream.
  std::vector<Placement> placement(entries.size());
  uint64_t stream_size = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    SourceEntry& e = entries[i];
    if (e.name.empty() || e.name.size() > kMaxNameLength) {
      *error = (e.path.empty() ? e.name : e.path) + ": the name is longer than " +
               std::to_string(kMaxNameLength) + " bytes, which the installer cannot use";
      return false;
    }
    if (e.folder) {
      ++stats->folders;
      continue;
    }
    if (e.path.empty()) e.size = e.contents.size();
    if (e.size >= 0xFFFFFFFFull) {
      *error = (e.path.empty() ? e.name : e.path) + ": the file is 4 GiB or larger";
      return false;
    }
    placement[i].position = static_cast<uint32_t>(stream_size);
    stream_size += format::kMemberHeaderSize + e.name.size() + e.size + format::kMemberCrcSize;
    ++stats->files;
    stats->bytes_in += e.size;
    if (stream_size > 0xFFFFFFFFull - (1u << 20)) {
      *error = "the files add up to 4 GiB or more, more than one archive can hold";
      return false;
    }
  }

  const uint32_t size = static_cast<uint32_t>(stream_size);
  const std::vector<uint32_t> starts =
      block_starts(size, options.block_size ? options.block_size : kMaxStreamBlock);
  std::vector<uint8_t> stream(size);
  for (size_t i = 0; i < entries.size(); ++i) {
    SourceEntry& e = entries[i];
    if (e.folder) continue;
    uint8_t* member = stream.data() + placement[i].position;
    const uint32_t name_length = static_cast<uint32_t>(e.name.size());
    const uint32_t length = static_cast<uint32_t>(e.size);
    uint8_t* contents = member + format::kMemberHeaderSize + name_length;
    if (e.path.empty()) {
      std::copy(e.contents.begin(), e.contents.end(), contents);
    } else if (!read_contents(e, contents, error)) {
      return false;
    }
    placement[i].crc = crc32(contents, length);
    placement[i].flags = 0;
    if (options.call_transform && is_x86_executable(contents, length)) {
      placement[i].flags = format::kFlagCall32;
      forward_call_transform(contents, length,
                             placement[i].position + format::kMemberHeaderSize + name_length,
                             starts);
    }
    format::write_member_header(
        member, {length, static_cast<uint16_t>(name_length), format::kMemberTagValue, e.attributes,
                 placement[i].flags});
    std::memcpy(member + format::kMemberHeaderSize, e.name.data(), name_length);
    store_le32(contents + length, placement[i].crc);
  }

  StreamOptions stream_options;
  stream_options.level = options.level;
  if (options.block_size) stream_options.block_size = options.block_size;
  ProgressFn progress;
  if (options.progress) progress = [&](uint64_t done) { options.progress(done, size); };
  const std::vector<uint8_t> chunks =
      size ? compress_stream(stream.data(), size, starts, stream_options, progress)
           : std::vector<uint8_t>();

  archive->assign(format::kHeaderSize, 0);
  const uint32_t stream_offset = format::kHeaderSize;
  if (size) {
    archive->insert(archive->end(), format::kStreamLead,
                    format::kStreamLead + format::kStreamLeadSize);
    archive->insert(archive->end(), chunks.begin(), chunks.end());
  }
  if (archive->size() > 0xFFFFFFFFull - (1u << 24)) {
    *error = "the archive would be 4 GiB or larger";
    return false;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(archive->size());

  // Directory: records and names, in blocks of whole entries.
  std::vector<uint8_t> block;
  auto flush = [&]() {
    if (block.empty()) return;
    const std::vector<uint8_t> chunk =
        compress_directory_block(block.data(), static_cast<uint32_t>(block.size()));
    archive->insert(archive->end(), format::kDirectorySignature,
                    format::kDirectorySignature + format::kDirectorySignatureSize);
    archive->insert(archive->end(), chunk.begin(), chunk.end());
    block.clear();
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const SourceEntry& e = entries[i];
    EntryRecord entry{};
    entry.reserved = format::kEntryReservedValue;
    entry.stream_offset = e.folder ? 0 : stream_offset;
    entry.attributes = e.attributes;
    entry.flags = e.folder ? format::kFlagFolder : placement[i].flags;
    entry.stream_position = e.folder ? 0 : placement[i].position;
    entry.size = e.folder ? 0 : static_cast<uint32_t>(e.size);
    entry.crc = e.folder ? 0 : placement[i].crc;
    entry.name_length = static_cast<uint16_t>(e.name.size());
    entry.creation_time = e.creation_time;
    entry.creation_date = e.creation_date;
    entry.write_time = e.write_time;
    entry.write_date = e.write_date;
    entry.trailer = kEntryTrailerValue;
    uint8_t record[format::kEntrySize];
    format::write_entry_record(record, entry);
    if (block.size() + format::kEntrySize + e.name.size() > kMaxDirectoryBlock) flush();
    block.insert(block.end(), record, record + format::kEntrySize);
    block.insert(block.end(), e.name.begin(), e.name.end());
  }
  flush();

  ArchiveHeader header{};
  std::memcpy(header.magic, format::kHeaderMagic, sizeof header.magic);
  header.directory_offset = directory_offset;
  header.entry_count = static_cast<uint32_t>(entries.size());
  header.archive_length = static_cast<uint32_t>(archive->size());
  header.data_length = directory_offset - format::kHeaderSize;
  header.trailer = format::kHeaderTrailerValue;
  format::write_archive_header(archive->data(), header);
  stats->bytes_out = archive->size();
  return true;
}

}  // namespace builder

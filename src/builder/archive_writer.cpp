#include "builder/archive_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "builder/archive_layout.h"
#include "builder/call_transform.h"
#include "builder/checksum.h"
#include "builder/stream_encoder.h"
#include "codec/format.h"
#include "common/pe_header.h"

namespace builder {
namespace {

constexpr uint16_t kEntryTrailerValue = 0x0001;

// Reads one file's contents piece by piece, from its path or from memory, and notices a
// file that is not the size it had when the tree was scanned.
class ContentsReader {
 public:
  ContentsReader(const SourceEntry& e, std::string* error) : entry_(e), error_(error) {}
  ~ContentsReader() {
    if (file_) std::fclose(file_);
  }
  bool open() {
    if (entry_.path.empty()) return true;
    // Without blocking: a file replaced by a FIFO since the scan must not hang the run.
    const int fd = ::open(entry_.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail("cannot open", errno);
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags == -1 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      ::close(fd);
      *error_ = entry_.path + ": no longer a regular file";
      return false;
    }
    file_ = fdopen(fd, "rb");
    if (!file_) {
      const int saved = errno;
      ::close(fd);
      return fail("cannot open", saved);
    }
    return true;
  }
  // Reads `count` bytes at `offset` (within the size scanned).
  bool read_at(uint64_t offset, uint8_t* dest, size_t count) {
    if (!file_) {
      std::memcpy(dest, entry_.contents.data() + offset, count);
      return true;
    }
    if (offset != position_ && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
      return fail("cannot read", errno);
    const size_t got = count ? std::fread(dest, 1, count, file_) : 0;
    position_ = offset + got;
    if (std::ferror(file_)) return fail("cannot read", errno);
    if (got != count) return changed();
    return true;
  }
  // After the last piece: the file must end where the scan said.
  bool check_end() {
    if (!file_) return true;
    if (fseeko(file_, static_cast<off_t>(entry_.size), SEEK_SET) != 0)
      return fail("cannot read", errno);
    if (std::fgetc(file_) != EOF) return changed();
    if (std::ferror(file_)) return fail("cannot read", errno);
    return true;
  }

 private:
  bool fail(const char* what, int code) {
    *error_ = entry_.path + ": " + what + ": " + std::strerror(code);
    return false;
  }
  bool changed() {
    *error_ = entry_.path + ": the file changed size while it was being packed";
    return false;
  }
  const SourceEntry& entry_;
  std::string* error_;
  FILE* file_ = nullptr;
  uint64_t position_ = 0;
};

// Whether the file is an x86 PE image, reading only its headers.
bool contents_are_x86_executable(ContentsReader& reader, uint32_t size, bool* executable) {
  *executable = false;
  if (size < pe::kDosHeaderSize) return true;
  uint8_t dos_header[pe::kDosHeaderSize];
  if (!reader.read_at(0, dos_header, sizeof dos_header)) return false;
  const uint32_t headers = pe_header_offset(dos_header, size, pe::kSignatureAndMachine);
  if (headers == 0) return true;
  uint8_t signature[pe::kSignatureAndMachine];
  if (!reader.read_at(headers, signature, sizeof signature)) return false;
  *executable = is_x86_pe_signature(signature);
  return true;
}

// What became of a member once written.
struct Placement {
  uint32_t crc = 0;
  uint8_t flags = 0;
};

// The archive as it leaves: everything goes to the sink through it, counted; the first
// failure sticks.
class ArchiveOutput {
 public:
  ArchiveOutput(const ArchiveSink& sink, std::string* error) : sink_(sink), error_(error) {}

  bool put(const uint8_t* data, size_t n) {
    if (failed_ || !sink_.write(data, n)) {
      failed_ = true;
      *error_ = "cannot write";
      return false;
    }
    written_ += n;
    return true;
  }
  uint64_t written() const { return written_; }

 private:
  const ArchiveSink& sink_;
  std::string* error_;
  uint64_t written_ = 0;
  bool failed_ = false;
};

// Counts what goes in (after plan_archive has sized the entries packed from memory).
void count_entries(const std::vector<SourceEntry>& entries, const ArchiveLayout& layout,
                   PackStats* stats) {
  for (const SourceEntry& e : entries) {
    if (e.folder) {
      ++stats->folders;
    } else {
      ++stats->files;
      stats->bytes_in += e.size;
    }
  }
  stats->shared = layout.shared_entries;
}

// One file's member: header, name, contents (read a run at a time, a run ending where a
// block ends, as the call transform is cut), CRC. Fills in the member's flags and CRC.
bool write_member(const SourceEntry& e, uint32_t position, const std::vector<uint32_t>& starts,
                  bool call_transform, StreamEncoder& encoder, std::vector<uint8_t>& run,
                  Placement* placed, std::string* error) {
  const uint32_t name_length = static_cast<uint32_t>(e.name.size());
  const uint32_t length = static_cast<uint32_t>(e.size);
  const uint32_t contents_start = position + format::kMemberHeaderSize + name_length;
  ContentsReader reader(e, error);
  if (!reader.open()) return false;
  bool executable = false;
  if (call_transform && !contents_are_x86_executable(reader, length, &executable)) return false;
  placed->flags = executable ? format::kFlagCall32 : 0;
  uint8_t member[format::kMemberHeaderSize];
  format::write_member_header(member, {length, static_cast<uint16_t>(name_length),
                                       format::kMemberTagValue, e.attributes, placed->flags});
  if (!encoder.append(member, sizeof member) ||
      !encoder.append(reinterpret_cast<const uint8_t*>(e.name.data()), name_length))
    return false;
  uint32_t crc = format::kCrcStart;
  auto next_start = std::upper_bound(starts.begin(), starts.end(), contents_start);
  for (uint32_t done = 0; done < length;) {
    uint32_t end = length;
    if (next_start != starts.end() && *next_start - contents_start < length) {
      end = *next_start - contents_start;
      ++next_start;
    }
    run.resize(end - done);
    if (!reader.read_at(done, run.data(), run.size())) return false;
    crc = crc_update(run.data(), static_cast<uint32_t>(run.size()), crc);
    if (executable) forward_call_transform_run(run.data(), end - done, done, length);
    if (!encoder.append(run.data(), run.size())) return false;
    done = end;
  }
  if (!reader.check_end()) return false;
  placed->crc = ~crc;
  uint8_t trailer[format::kMemberCrcSize];
  store_le32(trailer, placed->crc);
  return encoder.append(trailer, sizeof trailer);
}

// Every stream in turn, its lead and its members compressed into the output; notes where
// each stream begins.
bool write_streams(const std::vector<SourceEntry>& entries, const ArchiveLayout& layout,
                   const PackOptions& options, ArchiveOutput& out,
                   std::vector<Placement>* placement, std::vector<uint32_t>* stream_offsets,
                   std::string* error) {
  StreamOptions stream_options;
  stream_options.level = options.level;
  stream_options.threads =
      options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  if (options.block_size) stream_options.block_size = options.block_size;
  uint64_t total = 0;
  for (const StreamPlan& stream : layout.streams) total += stream.size;

  placement->assign(layout.members.size(), Placement{});
  stream_offsets->assign(layout.streams.size(), 0);
  uint64_t streams_done = 0;
  std::vector<uint8_t> run;
  for (size_t s = 0; s < layout.streams.size(); ++s) {
    const StreamPlan& stream = layout.streams[s];
    (*stream_offsets)[s] = static_cast<uint32_t>(out.written());
    if (stream.size == 0) continue;
    if (!out.put(reinterpret_cast<const uint8_t*>(format::kStreamLead), format::kStreamLeadSize))
      return false;
    ProgressFn progress;
    if (options.progress)
      progress = [&](uint64_t done) { options.progress(streams_done + done, total); };
    StreamEncoder encoder(
        stream.size, stream.starts, stream_options,
        [&out](const uint8_t* data, size_t n) { return out.put(data, n); }, progress);
    for (uint32_t m : stream.members) {
      const MemberPlan& member = layout.members[m];
      if (!write_member(entries[member.entry], member.position, stream.starts,
                        options.call_transform, encoder, run, &(*placement)[m], error))
        return false;
    }
    if (!encoder.finish()) return false;
    streams_done += stream.size;
  }
  return true;
}

// The directory record of one entry.
EntryRecord directory_record(const SourceEntry& e, uint32_t stream_offset, uint32_t position,
                             const Placement& placed) {
  EntryRecord entry{};
  entry.reserved = format::kEntryReservedValue;
  entry.stream_offset = e.folder ? 0 : stream_offset;
  entry.attributes = e.attributes;
  entry.flags = e.folder ? format::kFlagFolder : placed.flags;
  entry.stream_position = e.folder ? 0 : position;
  entry.size = e.folder ? 0 : static_cast<uint32_t>(e.size);
  entry.crc = e.folder ? 0 : placed.crc;
  entry.name_length = static_cast<uint16_t>(e.name.size());
  entry.creation_time = e.creation_time;
  entry.creation_date = e.creation_date;
  entry.write_time = e.write_time;
  entry.write_date = e.write_date;
  entry.trailer = kEntryTrailerValue;
  return entry;
}

// The directory, in the layout's order: records and names, in blocks of whole entries.
bool write_directory(const std::vector<SourceEntry>& entries, const ArchiveLayout& layout,
                     const std::vector<Placement>& placement,
                     const std::vector<uint32_t>& stream_offsets, ArchiveOutput& out) {
  std::vector<uint8_t> block;
  auto flush = [&]() {
    if (block.empty()) return true;
    const std::vector<uint8_t> chunk =
        compress_directory_block(block.data(), static_cast<uint32_t>(block.size()));
    block.clear();
    return out.put(reinterpret_cast<const uint8_t*>(format::kDirectorySignature),
                   format::kDirectorySignatureSize) &&
           out.put(chunk.data(), chunk.size());
  };
  const Placement none;
  for (size_t i : layout.order) {
    const SourceEntry& e = entries[i];
    const uint32_t m = layout.member_of[i];
    const MemberPlan* member = m == kNoMember ? nullptr : &layout.members[m];
    uint8_t record[format::kEntrySize];
    format::write_entry_record(
        record, directory_record(e, member ? stream_offsets[member->stream] : 0,
                                 member ? member->position : 0, member ? placement[m] : none));
    if (block.size() + format::kEntrySize + e.name.size() > kMaxDirectoryBlock && !flush())
      return false;
    block.insert(block.end(), record, record + format::kEntrySize);
    block.insert(block.end(), e.name.begin(), e.name.end());
  }
  return flush();
}

// The archive header, written again over its place holder once the lengths are known.
bool finish_header(uint32_t entry_count, uint32_t directory_offset, uint32_t archive_length,
                   const ArchiveSink& sink, std::string* error) {
  ArchiveHeader fields{};
  std::memcpy(fields.magic, format::kHeaderMagic, sizeof fields.magic);
  fields.directory_offset = directory_offset;
  fields.entry_count = entry_count;
  fields.archive_length = archive_length;
  fields.data_length = directory_offset - format::kHeaderSize;
  fields.trailer = format::kHeaderTrailerValue;
  uint8_t header[format::kHeaderSize];
  format::write_archive_header(header, fields);
  if (!sink.rewrite_header(header, sizeof header)) {
    *error = "cannot write";
    return false;
  }
  return true;
}

}  // namespace

bool write_archive(std::vector<SourceEntry>& entries, const PackOptions& options,
                   const ArchiveSink& sink, PackStats* stats, std::string* error) {
  *stats = {};
  crc_ready();
  // Which member holds each file, and where the members and blocks of each stream lie.
  ArchiveLayout layout;
  LayoutOptions layout_options;
  layout_options.dedupe = options.dedupe;
  layout_options.block_size = options.block_size;
  if (!plan_archive(entries, layout_options, &layout, error)) return false;
  count_entries(entries, layout, stats);

  ArchiveOutput out(sink, error);
  const uint8_t header[format::kHeaderSize] = {};  // written again at the end
  if (!out.put(header, sizeof header)) return false;
  std::vector<Placement> placement;
  std::vector<uint32_t> stream_offsets;
  if (!write_streams(entries, layout, options, out, &placement, &stream_offsets, error))
    return false;
  if (out.written() > 0xFFFFFFFFull - (1u << 24)) {
    *error = "the archive would be 4 GiB or larger";
    return false;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(out.written());
  if (!write_directory(entries, layout, placement, stream_offsets, out)) return false;
  if (out.written() > 0xFFFFFFFFull) {
    *error = "the archive would be 4 GiB or larger";
    return false;
  }
  if (!finish_header(static_cast<uint32_t>(entries.size()), directory_offset,
                     static_cast<uint32_t>(out.written()), sink, error))
    return false;
  stats->bytes_out = out.written();
  return true;
}

bool build_archive(std::vector<SourceEntry>& entries, const PackOptions& options,
                   std::vector<uint8_t>* archive, PackStats* stats, std::string* error) {
  archive->clear();
  ArchiveSink sink;
  sink.write = [&](const uint8_t* data, size_t n) {
    archive->insert(archive->end(), data, data + n);
    return true;
  };
  sink.rewrite_header = [&](const uint8_t* header, size_t n) {
    std::memcpy(archive->data(), header, n);
    return true;
  };
  return write_archive(entries, options, sink, stats, error);
}

}  // namespace builder

#include "tools/archive_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/directory.h"
#include "archive/installer_image.h"
#include "archive/paths.h"
#include "common/crc32.h"
#include "platform/fs.h"
#include "platform/posix/code_page.h"
#include "state/install_state.h"
#include "tools/structure_check.h"
#include "ui/batch/output.h"

namespace {

bool read_at(int fd, uint64_t offset, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, static_cast<char*>(buffer) + done, count - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Finds the stub's IntegrityRecord by its tag: the first that describes itself.
bool find_integrity_record(int fd, uint64_t size, IntegrityRecord* record) {
  constexpr size_t kPiece = 1 << 20;
  constexpr size_t kRecordEnd = kIntegrityTagSize + format::kIntegrityRecordSize;
  std::vector<uint8_t> piece(kPiece + kRecordEnd);
  for (uint64_t start = 0; start < size; start += kPiece) {
    const size_t want = static_cast<size_t>(
        size - start < kPiece + kRecordEnd ? size - start : kPiece + kRecordEnd);
    if (!read_at(fd, start, piece.data(), want)) return false;
    if (want < kRecordEnd) continue;
    // Tags starting in this piece with their whole record read.
    const size_t tags_end = std::min(want - kRecordEnd, kPiece - 1) + kIntegrityTagSize;
    for (size_t i = find_integrity_tag(piece.data(), tags_end, 0); i < tags_end;
         i = find_integrity_tag(piece.data(), tags_end, i + 1)) {
      const IntegrityRecord found = format::read_integrity_record(&piece[i + kIntegrityTagSize]);
      if (integrity_record_in_place(found, start + i, size)) {
        *record = found;
        return true;
      }
    }
  }
  return false;
}

// Where the archive's data end in the file: at the file's end, or in a signed installer
// where its certificate table begins, less the zeros (fewer than 8) that a signing tool
// puts in front of the table to align it, when the header's length says the archive ends
// there.
uint64_t signed_archive_end(int fd, const Source& source) {
  const CertificateTable& table = source.signature;
  if (table.offset == 0 || table.offset < source.stub_length || table.offset > source.size) {
    return source.size;
  }
  const uint64_t declared = uint64_t{source.stub_length} + archive_header.archive_length;
  if (declared > table.offset || table.offset - declared >= 8) return table.offset;
  uint8_t padding[8] = {};
  const size_t count = static_cast<size_t>(table.offset - declared);
  if (!read_at(fd, declared, padding, count)) return table.offset;
  for (size_t i = 0; i < count; ++i) {
    if (padding[i] != 0) return table.offset;
  }
  return declared;
}

// What is wrong with the certificate table that the stub's certificate entry names, or
// "" when it is sound (or there is none). The entry itself lies where the self-check does
// not look, so only the table can tell a signature from eight changed bytes.
std::string certificate_problem(int fd, const Source& source) {
  const CertificateTable& table = source.signature;
  if (table.offset == 0 && table.size == 0) return "";
  const std::string where = "the certificate entry (offset " + std::to_string(table.offset) + ", " +
                            std::to_string(table.size) + " bytes)";
  if (uint64_t{table.offset} + table.size > source.size) {
    return where + " points past the end of the file (" + std::to_string(source.size) + " bytes)";
  }
  if (table.offset < source.stub_length + uint64_t{format::kHeaderSize}) {
    return where + " points into the stub or the archive header";
  }
  if (uint64_t{table.offset} + table.size < source.size) {
    return std::to_string(source.size - table.offset - table.size) +
           " bytes follow the certificate table at the end of the file";
  }
  uint8_t header[win_certificate::kHeaderSize] = {};
  if (table.size < sizeof header || !read_at(fd, table.offset, header, sizeof header)) {
    return where + " is too short for a WIN_CERTIFICATE header";
  }
  const uint32_t length = load_le32(header);
  const uint16_t revision = load_le16(header + 4);
  const uint16_t type = load_le16(header + 6);
  if (length < sizeof header || length > table.size) {
    return "the certificate's length is " + std::to_string(length) + ", its table " +
           std::to_string(table.size) + " bytes";
  }
  if (revision != win_certificate::kRevision) {
    char text[80];
    std::snprintf(text, sizeof text, "the certificate's revision is 0x%04x, not 0x0200", revision);
    return text;
  }
  if (type != win_certificate::kTypePkcsSignedData && type != win_certificate::kTypeX509) {
    return "the certificate's type is " + std::to_string(type) + ", no certificate type";
  }
  return "";
}

}  // namespace

bool open_source(const std::string& path_text, Source* source) {
  const char* path = path_text.c_str();
  source->path = path_text;
  const char* base_name = std::strrchr(path, '/');
  base_name = base_name != nullptr ? base_name + 1 : path;
  text_copy(install_state.module_name, kWorkPathSize, base_name);
  const std::string name = shown(path_text);

  // Without blocking, so that a FIFO is refused rather than waited on: only a regular
  // file can hold an archive.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    print_error("Cannot open %s: %s", name.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    print_error("Cannot open %s: %s", name.c_str(),
                S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    close(fd);
    return false;
  }
  source->size = static_cast<uint64_t>(st.st_size);
  if (source->size > 0xFFFFFFFFu) {
    print_error("%s: too large for an archive (4 GiB or more)", name.c_str());
    close(fd);
    return false;
  }
  archive_reader.archive_file = fd;
  crc_build_table();

  uint8_t magic[4] = {};
  const bool has_magic = read_at(fd, 0, magic, sizeof magic);
  if (has_magic && std::memcmp(magic, format::kHeaderMagic, 4) == 0) {
    source->installer = false;  // a bare archive starts with its header
  } else {
    IntegrityRecord record{};
    if (!find_integrity_record(fd, source->size, &record)) {
      print_error("%s: neither a Zarpex archive nor a Zarpex installer", name.c_str());
      return false;
    }
    source->installer = true;
    source->stub_length = record.stub_length;
    // The installer's own self-check, run on the record found in the file, passing over
    // what a signature changes as the stub's headers in the file place it.
    std::vector<uint8_t> headers(std::min<uint32_t>(record.stub_length, 4096));
    SignatureFields fields = {0, 0};
    if (read_at(fd, 0, headers.data(), headers.size())) {
      const uint32_t length = static_cast<uint32_t>(headers.size());
      fields = find_signature_fields(headers.data(), length);
      source->signature = find_certificate_table(headers.data(), length);
    }
    source->stub_intact = check_image(record, fields) == kResultOk;
  }
  archive_reader.archive_base = source->stub_length;

  const uint32_t position = fs_seek(fd, static_cast<int32_t>(source->stub_length), kFileBegin);
  if (position == kSeekFailed) {
    print_error("Cannot read %s: %s", name.c_str(), std::strerror(errno));
    return false;
  }
  archive_reader.file_position = position;
  if (archive_read(&archive_header, sizeof archive_header) !=
      static_cast<int32_t>(sizeof archive_header)) {
    print_error("%s: archive truncated: the file ends inside the archive header", name.c_str());
    return false;
  }
  source->data_end = signed_archive_end(fd, *source);
  if (source->installer) source->signature_problem = certificate_problem(fd, *source);
  return true;
}

bool read_archive(uint64_t offset, void* buffer, size_t count) {
  return read_at(archive_reader.archive_file, archive_reader.archive_base + offset, buffer, count);
}

int open_file_operand(const CommandDef& cmd, const CommandLine& line, Source* source) {
  if (line.operands.size() != 1) {
    return usage_error(cmd, line.operands.empty() ? "a file (FILE) is needed" : "one file only");
  }
  if (const int status = code_page_option(cmd, line, &ansi_code_page); status >= 0) return status;
  return open_source(line.operands[0], source) ? -1 : kExitFailed;
}

uint64_t archive_data_end(const Source& source) {
  return source.data_end;
}

std::string directory_damage(const Source& source) {
  const uint64_t end = static_cast<uint64_t>(source.stub_length) + archive_header.archive_length;
  return archive_header.archive_length != 0 && end > source.size ? "archive truncated"
                                                                 : "directory damaged";
}

ResultCode DirectoryWalk::start() {
  return begin_reading(staging_.data(),
                       archive_reader.archive_base + archive_header.directory_offset);
}

ResultCode DirectoryWalk::next(EntryRecord* entry, std::string* name) {
  const uint8_t* bytes = nullptr;
  const ResultCode result = parse_next_entry(staging_.data(), entry, &bytes);
  if (result < 0) return result;
  name->assign(reinterpret_cast<const char*>(bytes), entry->name_length);
  return kResultOk;
}

void DirectoryWalk::finish() {
  end_reading();
}

std::string utf8_name(const std::string& stored) {
  if (ansi_code_page == 0) return stored;
  std::string out(stored.size() * 4 + 1, '\0');
  const long n =
      code_page_decode(ansi_code_page, stored.data(), stored.size(), out.data(), out.size());
  if (n < 0) return stored;
  out.resize(static_cast<size_t>(n));
  return out;
}

ResultCode read_directory(std::vector<ListedEntry>* entries, StructureCheck* structure) {
  DirectoryWalk walk;
  ResultCode result = walk.start();
  for (uint32_t i = 0; result == kResultOk && i < archive_header.entry_count; ++i) {
    ListedEntry e;
    result = walk.next(&e.record, &e.name);
    if (result < 0) break;
    e.utf8_name = utf8_name(e.name);
    if (structure != nullptr) structure->entry(e.record, e.name);
    entries->push_back(std::move(e));
  }
  if (structure != nullptr && result == kResultOk) structure->directory_end();
  return result;
}

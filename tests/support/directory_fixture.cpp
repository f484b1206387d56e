#include "support/directory_fixture.h"

#include "codec/archive_reader.h"
#include "codec/format.h"

Bytes record(uint32_t stream_offset, uint32_t position, uint32_t size, const std::string& name,
             uint8_t short_extra, uint16_t extra, uint8_t flags) {
  BitWriter w;
  w.put(0x205A, 32);
  w.put(stream_offset, 32);
  w.put(0x20, 16);
  w.put(short_extra, 8);
  w.put(flags, 8);
  w.put(position, 32);
  w.put(size, 32);
  w.put(0, 32);  // crc
  w.put(extra, 16);
  w.put(name.size(), 16);
  w.put(0, 64);
  w.put(1, 16);
  Bytes b = w.bytes();
  append(b, text_bytes(name));
  b.resize(b.size() + short_extra + extra, 0x3C);
  return b;
}

Bytes signature() {
  return text_bytes(std::string("ZPXDE") + '\0');
}

Bytes directory_block(const Bytes& decoded, bool stored) {
  Bytes b = signature();
  append(b, stored ? stored_chunk(decoded, true) : literal_chunk(decoded, true));
  return b;
}

void DirectoryTest::SetUp() {
  ReaderTest::SetUp();
  staging_.assign(format::kEntryStagingSize + 64, 0x5E);
  archive_reader.entry_read_pointer = staging_.data();
  archive_reader.entry_end_pointer = staging_.data();
}

void DirectoryTest::open_directory(const Bytes& prefix, const Bytes& directory) {
  Bytes file = prefix;
  append(file, directory);
  open_archive(file);
  archive_reader.directory_position = uint32_t(prefix.size());
  file_size_ = uint32_t(file.size());
}

ResultCode DirectoryTest::next(EntryRecord& e, std::string& name) {
  const uint8_t* n = nullptr;
  const ResultCode rc = parse_next_entry(staging_.data(), &e, &n);
  if (rc == 0) name.assign(reinterpret_cast<const char*>(n), e.name_length);
  return rc;
}

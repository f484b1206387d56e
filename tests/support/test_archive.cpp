#include "support/test_archive.h"

#include <cstring>
#include <map>

#include "codec/format.h"

namespace {

void put16(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string* out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

void set32(std::string* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// One stored chunk: the block header fields and chunk length in 7 bytes, then the data
// from byte 7 on.
std::string stored_chunk(const std::string& data, bool last) {
  const uint64_t length = 7 + data.size();
  const uint64_t header = uint64_t{format::kBlockTypeStored} | (uint64_t{last ? 1u : 0u} << 4) |
                          (uint64_t{data.size()} << 5) | (length << 25);
  std::string chunk;
  for (int i = 0; i < 7; ++i) chunk.push_back(static_cast<char>((header >> (8 * i)) & 0xFF));
  return chunk + data;
}

}  // namespace

uint32_t test_crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
  }
  return ~crc;
}

std::string build_test_archive(const std::vector<TestEntry>& entries,
                               const TestArchiveOptions& options) {
  // Decompressed streams, and where each entry's member lies.
  std::map<int, std::string> streams;
  std::vector<uint32_t> positions(entries.size(), 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    if (e.folder) continue;
    if (e.shares >= 0) {
      positions[i] = positions[static_cast<size_t>(e.shares)];
      continue;
    }
    std::string& stream = streams[e.stream];
    positions[i] = static_cast<uint32_t>(stream.size());
    put32(&stream, static_cast<uint32_t>(e.contents.size()));
    put16(&stream, static_cast<uint32_t>(e.name.size()));
    put16(&stream, format::kEntryReservedValue);
    put16(&stream, 0);
    stream.push_back(static_cast<char>(e.flags));
    stream += e.name + e.contents;
    put32(&stream, test_crc32(e.contents));
  }

  std::string archive(format::kHeaderSize, '\0');
  std::memcpy(archive.data(), format::kHeaderMagic, 4);
  std::map<int, uint32_t> stream_offsets;
  for (const auto& [number, bytes] : streams) {
    stream_offsets[number] = static_cast<uint32_t>(archive.size());
    archive.append(format::kStreamLead, format::kStreamLeadSize);
    size_t at = 0;
    do {
      const size_t n = std::min<size_t>(options.block_size, bytes.size() - at);
      archive += stored_chunk(bytes.substr(at, n), at + n == bytes.size());
      at += n;
    } while (at < bytes.size());
  }

  const uint32_t directory_offset = static_cast<uint32_t>(archive.size());
  std::string block;
  auto flush = [&] {
    archive.append(format::kDirectorySignature, format::kDirectorySignatureSize);
    archive += stored_chunk(block, true);
    block.clear();
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    std::string record;
    put32(&record, format::kEntryReservedValue);
    const int stream = e.shares >= 0 ? entries[static_cast<size_t>(e.shares)].stream : e.stream;
    put32(&record, e.folder ? 0 : stream_offsets[stream]);
    put16(&record, e.attributes);
    record.push_back(0);  // short_extra_length
    record.push_back(static_cast<char>(e.flags | (e.folder ? format::kFlagFolder : 0)));
    put32(&record, positions[i]);
    const uint32_t size = e.size != ~0u ? e.size : static_cast<uint32_t>(e.contents.size());
    put32(&record, e.folder ? 0 : size);
    put32(&record, e.folder ? 0 : test_crc32(e.contents) ^ e.crc_xor);
    put16(&record, static_cast<uint32_t>(e.skipped.size()));  // extra_length
    put16(&record, e.name_length != ~0u ? e.name_length : static_cast<uint32_t>(e.name.size()));
    put16(&record, e.creation_time);
    put16(&record, e.creation_date);
    put16(&record, e.write_time);
    put16(&record, e.write_date);
    put16(&record, 0x1C9D);
    record += e.name + e.skipped;
    if (!block.empty() && block.size() + record.size() > options.directory_block_size) flush();
    block += record;
  }
  if (!block.empty() || entries.empty()) flush();

  set32(&archive, format::kHeaderDirectoryOffset, directory_offset);
  set32(&archive, format::kHeaderEntryCount,
        options.entry_count >= 0 ? static_cast<uint32_t>(options.entry_count)
                                 : static_cast<uint32_t>(entries.size()));
  set32(&archive, format::kHeaderArchiveLength, static_cast<uint32_t>(archive.size()));
  set32(&archive, format::kHeaderDataLength, directory_offset - format::kHeaderSize);
  archive[format::kHeaderTrailer] = static_cast<char>(format::kHeaderTrailerValue & 0xFF);
  archive[format::kHeaderTrailer + 1] = static_cast<char>(format::kHeaderTrailerValue >> 8);
  return archive;
}

std::string build_test_installer(const std::string& archive, uint32_t stub_length,
                                 IntegrityRecord* record) {
  std::string stub(stub_length, '\0');
  for (uint32_t i = 0; i < stub_length; ++i) stub[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  const uint32_t tag_at = stub_length / 2;
  std::memcpy(stub.data() + tag_at, kIntegrityTag, kIntegrityTagSize);
  record->stub_length = stub_length;
  record->crc_field_offset = tag_at + kIntegrityTagSize + 8;
  record->expected_crc = 0;
  std::memcpy(stub.data() + tag_at + kIntegrityTagSize, record, sizeof *record);
  // The register over the stub with the CRC field as zero, not inverted.
  record->expected_crc = ~test_crc32(stub);
  std::memcpy(stub.data() + record->crc_field_offset, &record->expected_crc, 4);
  return stub + archive;
}

// An independent, strict reader of archives for the packer's tests: it follows the
// installer's reading rules but fails loudly on anything the installer would silently
// tolerate (a match reaching before the kept window, a chunk length that disagrees with
// the bytes used, a directory block the installer could not read in one go).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace model {

struct Entry {
  std::string name;
  uint8_t flags = 0;
  uint16_t attributes = 0;
  uint32_t stream_offset = 0, stream_position = 0, size = 0, crc = 0;
  uint16_t creation_date = 0, creation_time = 0, write_date = 0, write_time = 0;
  std::vector<uint8_t> contents;  // restored contents (files)
};

struct BlockInfo {
  uint32_t type, size, chunk_length, selector, tables, sets;
};

struct Archive {
  uint32_t entry_count = 0;
  std::vector<Entry> entries;
  std::vector<BlockInfo> stream_blocks;
  std::vector<BlockInfo> directory_blocks;
};

// Reads a bare archive (header at offset 0). Returns "" or the first problem found.
std::string read_archive(const std::vector<uint8_t>& bytes, Archive* out);

}  // namespace model

// Where every file's contents go: which member holds them, which stream holds the
// member and where, where the stream's blocks begin, and the order of the directory.
//
// Files of identical content share one member. A shared member that fits in a block lies
// in the main stream inside one block (a block begins at the member when it would
// otherwise cross a block's end), and the entries that share it follow each other in the
// directory: the installer finds the member still in the block it has decoded. A shared
// member longer than a block gets a stream of its own, decoded again for each entry of
// it (as each copy would be without sharing), never the main stream from its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "builder/archive_writer.h"

namespace builder {

inline constexpr uint32_t kNoMember = 0xFFFFFFFFu;

struct MemberPlan {
  size_t entry;       // the entry whose name and attributes the member header carries
  uint32_t stream;    // index into ArchiveLayout::streams
  uint32_t position;  // member start in its stream
  uint32_t entries;   // how many entries name it
};

struct StreamPlan {
  uint32_t size = 0;
  std::vector<uint32_t> starts;   // block starts
  std::vector<uint32_t> members;  // in stream order
};

struct ArchiveLayout {
  std::vector<size_t> order;        // the directory: entry indexes in extraction order
  std::vector<uint32_t> member_of;  // per entry: its member, or kNoMember for a folder
  std::vector<MemberPlan> members;
  std::vector<StreamPlan> streams;  // the main stream first
  uint32_t shared_entries = 0;      // entries whose contents another entry's member holds
};

struct LayoutOptions {
  bool dedupe = true;
  uint32_t block_size = 0;  // 0: the largest block
};

// Plans the archive of `entries` (in scan order: every folder before what it holds). Sets
// the size of entries packed from memory. Fails, with the entry named, on a name the
// installer cannot use, a file of 4 GiB or more, a stream that would pass 4 GiB, or a file
// that cannot be read while duplicates are sought.
bool plan_archive(std::vector<SourceEntry>& entries, const LayoutOptions& options,
                  ArchiveLayout* layout, std::string* error);

// Length of a member in its stream: header, name, contents, CRC.
uint64_t member_length(const SourceEntry& e);

}  // namespace builder

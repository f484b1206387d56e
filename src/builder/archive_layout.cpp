#include "builder/archive_layout.h"

#include <algorithm>

#include "builder/duplicates.h"
#include "builder/stream_encoder.h"
#include "codec/format.h"

namespace builder {
namespace {

// Checks what the installer and the format can hold; sizes the entries packed from memory.
bool check_entries(std::vector<SourceEntry>& entries, std::string* error) {
  for (SourceEntry& e : entries) {
    const std::string& shown = e.path.empty() ? e.name : e.path;
    if (e.name.empty() || e.name.size() > kMaxNameLength) {
      *error = shown + ": the name is longer than " + std::to_string(kMaxNameLength) +
               " bytes, which the installer cannot use";
      return false;
    }
    if (e.folder) continue;
    if (e.path.empty()) e.size = e.contents.size();
    if (e.size >= 0xFFFFFFFFull) {
      *error = shown + ": the file is 4 GiB or larger";
      return false;
    }
  }
  return true;
}

// Member positions and block starts of one stream. A shared member that fits in a block
// begins a block when it would cross the end of the current one.
bool place_stream(const std::vector<SourceEntry>& entries, uint32_t block, uint32_t index,
                  StreamPlan* stream, std::vector<MemberPlan>* members, std::string* error) {
  uint64_t position = 0;
  uint64_t block_begin = 0;
  std::vector<uint32_t> cuts;
  for (uint32_t m : stream->members) {
    MemberPlan& member = (*members)[m];
    const uint64_t length = member_length(entries[member.entry]);
    if (member.entries > 1 && length <= block && position > block_begin &&
        position + length > block_begin + block) {
      block_begin = position;
      cuts.push_back(static_cast<uint32_t>(position));
    }
    while (position + length > block_begin + block) {
      block_begin += block;
      cuts.push_back(static_cast<uint32_t>(block_begin));
    }
    member.stream = index;
    member.position = static_cast<uint32_t>(position);
    position += length;
    if (position > 0xFFFFFFFFull - (1u << 20)) {
      *error = "the files add up to 4 GiB or more, more than one archive can hold";
      return false;
    }
  }
  stream->size = static_cast<uint32_t>(position);
  stream->starts.clear();
  if (position != 0) stream->starts.push_back(0);
  stream->starts.insert(stream->starts.end(), cuts.begin(), cuts.end());
  return true;
}

}  // namespace

uint64_t member_length(const SourceEntry& e) {
  return format::kMemberHeaderSize + e.name.size() + e.size + format::kMemberCrcSize;
}

bool plan_archive(std::vector<SourceEntry>& entries, const LayoutOptions& options,
                  ArchiveLayout* layout, std::string* error) {
  *layout = {};
  if (!check_entries(entries, error)) return false;
  const size_t n = entries.size();
  std::vector<size_t> same_as(n);
  for (size_t i = 0; i < n; ++i) same_as[i] = i;
  if (options.dedupe && !find_duplicates(entries, &same_as, error)) return false;
  const uint32_t block = std::clamp<uint32_t>(
      options.block_size ? options.block_size : kMaxStreamBlock, 1, kMaxStreamBlock);

  // One member per distinct contents, in scan order.
  layout->member_of.assign(n, kNoMember);
  for (size_t i = 0; i < n; ++i) {
    if (entries[i].folder) continue;
    if (same_as[i] == i) {
      layout->member_of[i] = static_cast<uint32_t>(layout->members.size());
      layout->members.push_back({i, 0, 0, 1});
    } else {
      const uint32_t m = layout->member_of[same_as[i]];
      layout->member_of[i] = m;
      ++layout->members[m].entries;
      ++layout->shared_entries;
    }
  }

  // The main stream, then a stream for each shared member longer than a block.
  layout->streams.emplace_back();
  for (uint32_t m = 0; m < layout->members.size(); ++m) {
    const MemberPlan& member = layout->members[m];
    if (member.entries > 1 && member_length(entries[member.entry]) > block) {
      layout->streams.emplace_back();
      layout->streams.back().members.push_back(m);
    } else {
      layout->streams[0].members.push_back(m);
    }
  }
  for (uint32_t s = 0; s < layout->streams.size(); ++s)
    if (!place_stream(entries, block, s, &layout->streams[s], &layout->members, error))
      return false;

  // The directory in the order the streams are read. Without shared members that is the
  // scan order; with them every folder comes first, so that the entries of one member
  // can follow each other wherever their folders are.
  if (layout->shared_entries == 0) {
    for (size_t i = 0; i < n; ++i) layout->order.push_back(i);
    return true;
  }
  std::vector<std::vector<size_t>> entries_of(layout->members.size());
  for (size_t i = 0; i < n; ++i) {
    if (entries[i].folder) {
      layout->order.push_back(i);
    } else {
      entries_of[layout->member_of[i]].push_back(i);
    }
  }
  for (const StreamPlan& stream : layout->streams)
    for (uint32_t m : stream.members)
      layout->order.insert(layout->order.end(), entries_of[m].begin(), entries_of[m].end());
  return true;
}

}  // namespace builder

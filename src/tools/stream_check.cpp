#include "tools/stream_check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "codec/block_stream.h"
#include "codec/format.h"
#include "ui/batch/output.h"

namespace {

// Of a member's name in a message: a damaged header may give it any length.
constexpr size_t kLongestName = 260;

std::string names_of(const std::vector<const ListedEntry*>& entries) {
  std::string text;
  for (const ListedEntry* e : entries) text += (text.empty() ? "" : ", ") + shown(e->name);
  return text;
}

}  // namespace

void StreamCheck::check(const std::vector<ListedEntry>& entries) {
  std::map<uint32_t, std::vector<const ListedEntry*>> claims;  // the file entries by stream
  for (const ListedEntry& e : entries) {
    if (!(e.record.flags & format::kFlagFolder)) claims[e.record.stream_offset].push_back(&e);
  }
  const std::vector<uint32_t> streams = find_streams();
  DirectoryWalk reader;  // sets the reader up for decoding
  if (reader.start() < 0) return;
  for (uint32_t offset : streams) {
    const auto claimed = claims.find(offset);
    walk(offset, claimed != claims.end() ? claimed->second : std::vector<const ListedEntry*>{});
  }
  for (const auto& [offset, claiming] : claims) {
    // A stream offset outside the data area is the structure check's to report.
    if (offset < format::kHeaderSize || offset >= archive_header.directory_offset) continue;
    if (std::find(streams.begin(), streams.end(), offset) == streams.end()) {
      problem("the stream offset " + std::to_string(offset) + " of " + names_of(claiming) +
              " is the start of no stream");
    }
  }
}

std::vector<uint32_t> StreamCheck::find_streams() {
  std::vector<uint32_t> found;
  const uint64_t end = archive_header.directory_offset;
  uint64_t at = format::kHeaderSize;
  while (at < end) {
    char lead[format::kStreamLeadSize];
    if (at + sizeof lead > end || !read_archive(at, lead, sizeof lead) ||
        std::memcmp(lead, format::kStreamLead, sizeof lead) != 0) {
      problem("the data area holds no stream at offset " + std::to_string(at));
      break;
    }
    found.push_back(static_cast<uint32_t>(at));
    // The stream's chunks, each behind the one before, to the last block's.
    uint64_t chunk = at + sizeof lead;
    for (;;) {
      uint8_t header[16] = {};  // the header's loads read past its 8 bytes
      const size_t length = static_cast<size_t>(
          std::min<uint64_t>(format::kChunkHeaderSize, end - std::min(end, chunk)));
      if (length < format::kChunkHeaderMinimum || !read_archive(chunk, header, length)) {
        problem("the stream at offset " + std::to_string(at) + " runs past the data area");
        return found;
      }
      const format::ChunkHeader read = format::read_chunk_header(header);
      if (read.chunk_length < format::kChunkHeaderMinimum || chunk + read.chunk_length > end) {
        problem("the stream at offset " + std::to_string(at) + " has a chunk at offset " +
                std::to_string(chunk) + " that runs past the data area");
        return found;
      }
      chunk += read.chunk_length;
      if (read.last_block) break;
    }
    at = chunk;
  }
  return found;
}

void StreamCheck::walk(uint32_t stream_offset, const std::vector<const ListedEntry*>& claims) {
  std::map<uint32_t, std::vector<const ListedEntry*>> at;
  for (const ListedEntry* e : claims) at[e->record.stream_position].push_back(e);
  const std::string where = "the stream at offset " + std::to_string(stream_offset);
  std::set<uint32_t> members;
  uint64_t position = 0;
  while (position <= 0xFFFFFFFFu) {
    const uint32_t p = static_cast<uint32_t>(position);
    uint8_t header[format::kMemberHeaderSize];
    const ResultCode got = read_stream(stream_offset, p, header, sizeof header);
    // A stream that does not decode fails the files in it; their test reports it.
    if (got < 0 || got == 0) break;
    if (got < static_cast<ResultCode>(sizeof header)) {
      problem(where + " ends inside the header of a member at position " + std::to_string(p));
      break;
    }
    const uint32_t size = load_le32(header + format::kMemberContentsLength);
    const uint32_t name_length = format::read_member_name_length(header);
    std::string name(name_length, '\0');
    const ResultCode name_got = read_stream(stream_offset, p + format::kMemberHeaderSize,
                                            reinterpret_cast<uint8_t*>(name.data()), name_length);
    if (name_got < 0) break;
    name.resize(static_cast<size_t>(name_got));
    members.insert(p);

    const auto claimed = at.find(p);
    const std::string member = "stream member " + shown(name.substr(0, kLongestName));
    if (claimed == at.end()) {
      // The member's own header still leads to the next one.
      problem(member + " is claimed by no entry (position " + std::to_string(p) + " of " + where +
              ")");
    } else {
      const size_t found = problems_.size();
      bool named = false;
      for (const ListedEntry* e : claimed->second) {
        named = named || e->name == name;
        if (e->record.size != size) {
          problem("the entry " + shown(e->name) + " is " + std::to_string(e->record.size) +
                  " bytes, its " + member + " " + std::to_string(size));
        }
      }
      if (!named) {
        problem(member + " is claimed by entries of other names: " + names_of(claimed->second));
      }
      // Behind a member that disagrees with its entries the walk would tell nothing more.
      if (problems_.size() != found) return;
    }
    position += uint64_t{format::kMemberHeaderSize} + name_length + size + format::kMemberCrcSize;
  }
  for (const auto& [p, entries] : at) {
    if (members.count(p) == 0) {
      problem("the stream position " + std::to_string(p) + " of " + names_of(entries) +
              " is the start of no member of " + where);
    }
  }
}

bool StreamCheck::report() const {
  for (const std::string& p : problems_) print_error("Structure: %s", p.c_str());
  return problems_.empty();
}

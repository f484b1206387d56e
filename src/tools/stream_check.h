// zpx test's hold of the streams against the directory: the data area is streams one
// behind the other, and every member of every stream is claimed by at least one file
// entry, at the member's start, with the member's size, and under the member's name or
// that of another entry sharing it.
// Nothing else notices a member no entry claims any more: a directory in which a file
// turned into a folder installs, and every remaining file passes its CRC.
#pragma once

#include <string>
#include <vector>

#include "tools/archive_source.h"

class StreamCheck {
 public:
  // Walks the streams member by member (the reader set up as for extraction).
  void check(const std::vector<ListedEntry>& entries);
  // Prints each mismatch; true when there was none.
  bool report() const;
  size_t problems() const { return problems_.size(); }

 private:
  void problem(const std::string& text) { problems_.push_back(text); }
  // The streams one behind the other from the data area's start: their offsets.
  std::vector<uint32_t> find_streams();
  // One stream, from its first member to its end.
  void walk(uint32_t stream_offset, const std::vector<const ListedEntry*>& claims);

  std::vector<std::string> problems_;
};

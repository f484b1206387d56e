// Files of identical content among the entries of a pack: grouped by size, then by a
// 128-bit hash of their contents, then compared byte for byte. A file whose size no
// other file has is not read at all; one that shares only its size with others is read
// whole once (the first 64 KiB once more when it is longer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "builder/archive_writer.h"

namespace builder {

// A 128-bit hash of bytes fed in pieces (four 64-bit multiply-rotate lanes, mixed into
// two words at the end). Not for adversaries: equal hashes are confirmed byte by byte.
class ContentHash {
 public:
  ContentHash();
  void update(const uint8_t* data, size_t size);
  struct Digest {
    uint64_t low, high;
    bool operator==(const Digest&) const = default;
    bool operator<(const Digest& o) const { return low != o.low ? low < o.low : high < o.high; }
  };
  Digest digest() const;

 private:
  void stripe(const uint8_t* p);
  uint64_t lanes_[4];
  uint8_t tail_[32];
  size_t tail_size_ = 0;
  uint64_t total_ = 0;
};

// For every entry, the first entry (in the given order) with the same contents: itself
// for a folder and for a file unlike every earlier one. On a read failure returns false
// with the path and the reason.
bool find_duplicates(const std::vector<SourceEntry>& entries, std::vector<size_t>* same_as,
                     std::string* error);

}  // namespace builder

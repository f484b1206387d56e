#include "builder/duplicates.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace builder {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

// The first pass hashes only this much of a longer file: two files of one size that
// differ early are then read whole only once, for packing.
constexpr uint64_t kPrefix = 64 * 1024;
constexpr size_t kPiece = 64 * 1024;

uint64_t rotl(uint64_t v, int r) {
  return (v << r) | (v >> (64 - r));
}

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint64_t lane_round(uint64_t acc, uint64_t input) {
  return rotl(acc + input * kPrime2, 31) * kPrime1;
}

uint64_t avalanche(uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

// Reads an entry's contents in pieces, from its file or from memory.
class Source {
 public:
  Source(const SourceEntry& e, std::string* error) : entry_(e), error_(error) {}
  ~Source() {
    if (file_) std::fclose(file_);
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  bool open() {
    if (entry_.path.empty()) return true;
    file_ = std::fopen(entry_.path.c_str(), "rb");
    if (!file_) return fail(errno);
    return true;
  }
  // The next `count` bytes (fewer at the end), in *piece.
  bool read(size_t count, std::vector<uint8_t>* piece) {
    if (!file_) {
      const size_t n = std::min(count, entry_.contents.size() - offset_);
      piece->assign(entry_.contents.begin() + static_cast<std::ptrdiff_t>(offset_),
                    entry_.contents.begin() + static_cast<std::ptrdiff_t>(offset_ + n));
      offset_ += n;
      return true;
    }
    piece->resize(count);
    const size_t got = std::fread(piece->data(), 1, count, file_);
    if (std::ferror(file_)) return fail(errno);
    piece->resize(got);
    offset_ += got;
    return true;
  }

 private:
  bool fail(int code) {
    *error_ = entry_.path + ": cannot read: " + std::strerror(code);
    return false;
  }
  const SourceEntry& entry_;
  std::string* error_;
  FILE* file_ = nullptr;
  size_t offset_ = 0;
};

// The hash of the first `limit` bytes of an entry's contents.
bool hash_contents(const SourceEntry& e, uint64_t limit, ContentHash::Digest* digest,
                   std::string* error) {
  Source source(e, error);
  if (!source.open()) return false;
  ContentHash hash;
  std::vector<uint8_t> piece;
  for (uint64_t done = 0; done < limit;) {
    if (!source.read(static_cast<size_t>(std::min<uint64_t>(kPiece, limit - done)), &piece))
      return false;
    if (piece.empty()) break;  // shorter than scanned: packing reports it
    hash.update(piece.data(), piece.size());
    done += piece.size();
  }
  *digest = hash.digest();
  return true;
}

bool same_bytes(const SourceEntry& a, const SourceEntry& b, bool* same, std::string* error) {
  Source left(a, error), right(b, error);
  if (!left.open() || !right.open()) return false;
  std::vector<uint8_t> x, y;
  for (;;) {
    if (!left.read(kPiece, &x) || !right.read(kPiece, &y)) return false;
    if (x != y) {
      *same = false;
      return true;
    }
    if (x.empty()) {
      *same = true;
      return true;
    }
  }
}

// Splits `group` (entries of one size) into runs of equal hashes of the first `limit`
// bytes; each run of two or more goes to `out`.
bool split_by_hash(const std::vector<SourceEntry>& entries, const std::vector<size_t>& group,
                   uint64_t limit, std::vector<std::vector<size_t>>* out, std::string* error) {
  std::map<ContentHash::Digest, std::vector<size_t>> by_hash;
  for (size_t i : group) {
    ContentHash::Digest d;
    if (!hash_contents(entries[i], limit, &d, error)) return false;
    by_hash[d].push_back(i);
  }
  for (auto& [digest, members] : by_hash)
    if (members.size() > 1) out->push_back(std::move(members));
  return true;
}

}  // namespace

ContentHash::ContentHash() : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0ull - kPrime1}, tail_{} {}

void ContentHash::stripe(const uint8_t* p) {
  for (int k = 0; k < 4; ++k) lanes_[k] = lane_round(lanes_[k], load64(p + 8 * k));
}

void ContentHash::update(const uint8_t* data, size_t size) {
  total_ += size;
  if (tail_size_ != 0) {
    const size_t take = std::min(size, sizeof tail_ - tail_size_);
    std::memcpy(tail_ + tail_size_, data, take);
    tail_size_ += take;
    data += take;
    size -= take;
    if (tail_size_ < sizeof tail_) return;
    stripe(tail_);
    tail_size_ = 0;
  }
  for (; size >= sizeof tail_; data += sizeof tail_, size -= sizeof tail_) stripe(data);
  std::memcpy(tail_, data, size);
  tail_size_ = size;
}

ContentHash::Digest ContentHash::digest() const {
  uint64_t tail = kPrime5 + total_;
  for (size_t i = 0; i < tail_size_; ++i) tail = rotl(tail ^ (tail_[i] * kPrime5), 11) * kPrime1;
  const uint64_t a = rotl(lanes_[0], 1) + rotl(lanes_[1], 7) + rotl(lanes_[2], 12);
  const uint64_t b = rotl(lanes_[1], 18) + rotl(lanes_[2], 5) + rotl(lanes_[3], 23);
  const uint64_t c = rotl(lanes_[3], 1) + rotl(lanes_[0], 29);
  return {avalanche(a ^ lane_round(tail, c) ^ total_ * kPrime4),
          avalanche(b ^ lane_round(c, tail) ^ (total_ + kPrime3))};
}

bool find_duplicates(const std::vector<SourceEntry>& entries, std::vector<size_t>* same_as,
                     std::string* error) {
  same_as->resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) (*same_as)[i] = i;
  std::map<uint64_t, std::vector<size_t>> by_size;
  for (size_t i = 0; i < entries.size(); ++i) {
    const SourceEntry& e = entries[i];
    if (!e.folder) by_size[e.path.empty() ? e.contents.size() : e.size].push_back(i);
  }
  for (auto& [size, group] : by_size) {
    if (group.size() < 2) continue;
    std::vector<std::vector<size_t>> candidates;
    if (size == 0) {
      candidates.push_back(group);
    } else if (size <= kPrefix) {
      if (!split_by_hash(entries, group, size, &candidates, error)) return false;
    } else {
      std::vector<std::vector<size_t>> alike_start;
      if (!split_by_hash(entries, group, kPrefix, &alike_start, error)) return false;
      for (const std::vector<size_t>& g : alike_start)
        if (!split_by_hash(entries, g, size, &candidates, error)) return false;
    }
    // Equal hashes: the bytes decide. Each entry joins the first earlier one it equals.
    for (std::vector<size_t>& g : candidates) {
      std::sort(g.begin(), g.end());
      std::vector<size_t> firsts{g[0]};
      for (size_t k = 1; k < g.size(); ++k) {
        bool joined = false;
        for (size_t first : firsts) {
          bool same = true;
          if (size != 0 && !same_bytes(entries[first], entries[g[k]], &same, error)) return false;
          if (same) {
            (*same_as)[g[k]] = first;
            joined = true;
            break;
          }
        }
        if (!joined) firsts.push_back(g[k]);
      }
    }
  }
  return true;
}

}  // namespace builder

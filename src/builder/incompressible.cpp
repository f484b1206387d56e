#include "builder/incompressible.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "builder/match_finder.h"

namespace builder {
namespace {

constexpr uint32_t kProbeBits = 16;
constexpr uint32_t kNone = 0xFFFFFFFFu;
// The probe sees repeats of 8 bytes and more; every fourth position is remembered, so a
// repeat of 11 bytes or more is always met.
constexpr uint32_t kProbeLength = 8;
constexpr uint32_t kSampleMask = 3;
constexpr uint32_t kLongestCounted = 1024;
// Rough bits of one match (length, distance and their extra bits).
constexpr double kMatchBits = 30;
// A piece is passed by when coding it would still take 98.5% of its stored size: its
// bytes' order-0 entropy (repeats taken out) is at least this many bits per byte.
constexpr double kIncompressibleBits = 7.88;
// Fewer bytes say too little (their entropy comes out low by chance).
constexpr uint32_t kShortestJudged = 4096;

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint32_t probe_hash(uint64_t v) {
  return static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - kProbeBits));
}

// Order-0 entropy of `count` bytes with these symbol counts, in bits.
double entropy_bits(const uint32_t* counts, uint32_t count) {
  double bits = 0;
  for (uint32_t s = 0; s < 256; ++s) {
    if (counts[s] != 0) bits += counts[s] * std::log2(static_cast<double>(count) / counts[s]);
  }
  return bits;
}

}  // namespace

std::vector<SkipRange> find_incompressible(const uint8_t* data, uint32_t history, uint32_t size) {
  // Pieces end at the block's start and every kEstimatePiece bytes from there.
  std::vector<uint32_t> bounds{0};
  for (uint32_t b = history % kEstimatePiece; b < size; b += kEstimatePiece)
    if (b != 0) bounds.push_back(b);
  bounds.push_back(size);
  const size_t pieces = bounds.size() - 1;
  std::vector<uint8_t> random(pieces, 0), referenced(pieces, 0);
  auto piece_of = [&](uint32_t pos) {
    return static_cast<size_t>(std::upper_bound(bounds.begin(), bounds.end(), pos) -
                               bounds.begin() - 1);
  };
  // First the bytes alone: repeats only make a piece cheaper, so where no piece's
  // entropy is high enough nothing is searched for them.
  bool any_candidate = false;
  for (size_t k = 0; k < pieces && !any_candidate; ++k) {
    const uint32_t bytes = bounds[k + 1] - bounds[k];
    if (bytes < kShortestJudged) continue;
    uint32_t counts[256] = {};
    for (uint32_t p = bounds[k]; p < bounds[k + 1]; ++p) ++counts[data[p]];
    any_candidate = entropy_bits(counts, bytes) >= kIncompressibleBits * bytes;
  }
  if (!any_candidate) return {};
  thread_local std::vector<uint32_t> table;
  table.assign(size_t{1} << kProbeBits, kNone);
  for (size_t k = 0; k < pieces; ++k) {
    const uint32_t begin = bounds[k], end = bounds[k + 1];
    uint32_t counts[256] = {};
    uint32_t matched = 0, matches = 0;
    for (uint32_t p = begin; p < end;) {
      if (p + kProbeLength > size) {
        ++counts[data[p++]];
        continue;
      }
      const uint64_t v = load64(data + p);
      uint32_t& slot = table[probe_hash(v)];
      const uint32_t candidate = slot;
      if ((p & kSampleMask) == 0) slot = p;
      if (candidate != kNone && load64(data + candidate) == v) {
        const uint32_t limit = std::min(size - p, kLongestCounted);
        const uint32_t length = std::min(
            kProbeLength + common_length(data + p + kProbeLength, data + candidate + kProbeLength,
                                         limit - kProbeLength),
            end - p);
        matched += length;
        ++matches;
        referenced[piece_of(candidate)] = 1;
        p += length;
        continue;
      }
      ++counts[data[p++]];
    }
    const uint32_t bytes = end - begin;
    const double bits = entropy_bits(counts, bytes - matched) + matches * kMatchBits;
    random[k] = bytes >= kShortestJudged && bits >= kIncompressibleBits * bytes;
  }
  std::vector<SkipRange> ranges;
  for (size_t k = 0; k < pieces; ++k) {
    if (!random[k] || referenced[k]) continue;
    if (!ranges.empty() && ranges.back().end == bounds[k]) {
      ranges.back().end = bounds[k + 1];
    } else {
      ranges.push_back({bounds[k], bounds[k + 1]});
    }
  }
  return ranges;
}

bool covered(const std::vector<SkipRange>& ranges, uint32_t begin, uint32_t end) {
  if (begin >= end) return true;
  for (const SkipRange& r : ranges)
    if (r.begin <= begin && r.end >= end) return true;
  return false;
}

}  // namespace builder

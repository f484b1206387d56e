#include "builder/huffman.h"

#include <algorithm>
#include <vector>

namespace builder {
namespace {

// Plain Huffman lengths (no limit) by the two-queue method over sorted leaves.
uint32_t huffman_lengths(const std::vector<std::pair<uint32_t, uint32_t>>& leaves,
                         std::vector<uint32_t>& depth) {
  const size_t n = leaves.size();
  // Nodes 0..n-1 are leaves (sorted by weight), n.. are internal.
  std::vector<uint64_t> weight(2 * n);
  std::vector<int32_t> parent(2 * n, -1);
  for (size_t i = 0; i < n; ++i) weight[i] = leaves[i].first;
  size_t leaf = 0, inner = n, next = n;
  auto take = [&]() -> size_t {
    if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
    return inner++;
  };
  while (next < 2 * n - 1) {
    const size_t a = take();
    const size_t b = take();
    weight[next] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<int32_t>(next);
    ++next;
  }
  depth.assign(2 * n, 0);
  uint32_t deepest = 0;
  for (size_t i = 2 * n - 2; i-- > 0;) {
    depth[i] = depth[parent[i]] + 1;
    if (i < n) deepest = std::max(deepest, depth[i]);
  }
  return deepest;
}

}  // namespace

void build_code_lengths(const uint32_t* frequencies, uint32_t count, uint32_t max_length,
                        uint8_t* lengths) {
  std::vector<std::pair<uint32_t, uint32_t>> leaves;
  for (uint32_t i = 0; i < count; ++i) {
    lengths[i] = 0;
    if (frequencies[i] != 0) leaves.push_back({frequencies[i], i});
  }
  if (leaves.empty()) return;
  if (leaves.size() == 1) {
    lengths[leaves[0].second] = 1;
    return;
  }
  std::vector<uint32_t> depth;
  for (uint32_t shift = 0;; ++shift) {
    std::vector<std::pair<uint32_t, uint32_t>> scaled = leaves;
    // Flattening the weights shortens the deepest codes; repeat until they fit.
    for (auto& leaf : scaled) leaf.first = std::max<uint32_t>(1, leaf.first >> shift);
    std::stable_sort(scaled.begin(), scaled.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    if (huffman_lengths(scaled, depth) <= max_length) {
      for (size_t i = 0; i < scaled.size(); ++i)
        lengths[scaled[i].second] = static_cast<uint8_t>(depth[i]);
      return;
    }
  }
}

void build_canonical_codes(const uint8_t* lengths, uint32_t count, uint16_t* codes) {
  uint32_t length_count[17] = {};
  for (uint32_t i = 0; i < count; ++i) ++length_count[lengths[i]];
  length_count[0] = 0;
  uint32_t next_code[17] = {};
  uint32_t code = 0;
  for (uint32_t bits = 1; bits <= 16; ++bits) {
    code = (code + length_count[bits - 1]) << 1;
    next_code[bits] = code;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t length = lengths[i];
    if (length == 0) continue;
    uint32_t value = next_code[length]++;
    uint32_t reversed = 0;
    for (uint32_t b = 0; b < length; ++b) {
      reversed = (reversed << 1) | (value & 1);
      value >>= 1;
    }
    codes[i] = static_cast<uint16_t>(reversed);
  }
}

uint64_t coded_bits(const uint32_t* frequencies, const uint8_t* lengths, uint32_t count) {
  uint64_t bits = 0;
  for (uint32_t i = 0; i < count; ++i) bits += static_cast<uint64_t>(frequencies[i]) * lengths[i];
  return bits;
}

}  // namespace builder

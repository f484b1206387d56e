// Generated contents of the kinds that matter to the compressor.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testdata {

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

inline std::vector<uint8_t> repetitive(size_t n) {
  std::vector<uint8_t> v(n);
  const char* pattern = "abcabcabd";
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(i % 5000 < 4000 ? pattern[i % 9] : 'z');
  return v;
}

inline std::vector<uint8_t> text(size_t n, uint32_t seed) {
  static const char* words[] = {"the ",     "installer ",  "reads ",   "a ",     "block ",
                                "of ",      "compressed ", "data, ",   "and ",   "writes ",
                                "files.\n", "window ",     "history ", "match ", "distance ",
                                "length ",  "table ",      "symbol "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += words[rng() % (sizeof words / sizeof *words)];
  return std::vector<uint8_t>(s.begin(), s.begin() + static_cast<long>(n));
}

// A PE-looking image whose code is dense with 0xE8 calls to a few targets.
inline std::vector<uint8_t> executable(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(std::max<size_t>(n, 0x200), 0);
  v[0] = 'M';
  v[1] = 'Z';
  v[0x3C] = 0x80;
  v[0x80] = 'P';
  v[0x81] = 'E';
  v[0x84] = 0x4C;
  v[0x85] = 0x01;
  const uint32_t targets[] = {0x1000, 0x1400, 0x2230, 0x5000, 0x0FF0};
  for (size_t i = 0x200; i < v.size();) {
    const uint32_t r = rng() % 8;
    if (r < 3 && i + 5 <= v.size()) {
      const uint32_t target = targets[rng() % 5];
      const uint32_t rel = target - static_cast<uint32_t>(i + 5);
      v[i] = 0xE8;
      for (int k = 0; k < 4; ++k) v[i + 1 + k] = static_cast<uint8_t>(rel >> (8 * k));
      i += 5;
    } else {
      static const uint8_t ops[] = {0x8B, 0x45, 0x08, 0x89, 0xC3, 0x55, 0x5D, 0xC3, 0xE8, 0x90};
      v[i++] = ops[rng() % 10];
    }
  }
  v.resize(n);
  return v;
}

}  // namespace testdata

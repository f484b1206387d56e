#include "builder/call_transform.h"

#include <algorithm>

namespace builder {
namespace {

constexpr uint8_t kCallOpcode = 0xE8;
constexpr uint32_t kWidth = 4;

uint32_t load32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Stored form of displacement x at file offset off: [-off, size-off) -> [0, size),
// [size-off, size) -> [-off, -1] (mirrored), everything else unchanged.
uint32_t encode_operand(uint32_t x, uint32_t off, uint32_t size) {
  const int64_t v = static_cast<int32_t>(x);
  const int64_t o = off, s = size;
  if (v >= -o && v < s - o) return static_cast<uint32_t>(v + o);
  if (v >= s - o && v < s) return static_cast<uint32_t>(s - o - 1 - v);
  return x;
}

uint32_t decode_operand(uint32_t v, uint32_t off, uint32_t size) {
  if (v < size) return v - off;
  const int64_t sv = static_cast<int32_t>(v);
  if (sv >= -static_cast<int64_t>(off) && sv <= -1)
    return static_cast<uint32_t>(static_cast<int64_t>(size) - off - 1 - sv);
  return v;
}

template <typename Convert>
void transform_run(uint8_t* file, uint32_t begin, uint32_t end, uint32_t size, Convert convert) {
  if (end - begin <= kWidth) return;
  const uint32_t scan_end = end - kWidth;
  for (uint32_t p = begin; p < scan_end;) {
    if (file[p] != kCallOpcode) {
      ++p;
      continue;
    }
    const uint32_t off = p + 1;
    store32(file + off, convert(load32(file + off), off, size));
    p += 1 + kWidth;
  }
}

}  // namespace

uint32_t pe_header_offset(const uint8_t* dos_header, uint32_t size) {
  if (size < kDosHeaderSize || dos_header[0] != 'M' || dos_header[1] != 'Z') return 0;
  const uint32_t pe = load32(dos_header + 0x3C);
  if (pe > size - kPeSignatureSize) return 0;
  return pe;
}

bool is_x86_pe_signature(const uint8_t* p) {
  if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return false;
  const uint32_t machine = p[4] | (p[5] << 8);
  return machine == 0x014C || machine == 0x8664;
}

bool is_x86_executable(const uint8_t* data, uint32_t size) {
  const uint32_t pe = pe_header_offset(data, size);
  return pe != 0 && is_x86_pe_signature(data + pe);
}

void forward_call_transform(uint8_t* contents, uint32_t size, uint32_t stream_offset,
                            const std::vector<uint32_t>& starts) {
  // Runs: from the contents' start to the next block start, and so on.
  uint32_t begin = 0;
  auto next = std::upper_bound(starts.begin(), starts.end(), stream_offset);
  while (begin < size) {
    uint32_t end = size;
    if (next != starts.end() && *next - stream_offset < size) {
      end = *next - stream_offset;
      ++next;
    }
    transform_run(contents, begin, end, size, encode_operand);
    begin = end;
  }
}

void forward_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size) {
  transform_run(run, 0, length, file_size, [&](uint32_t x, uint32_t off, uint32_t s) {
    return encode_operand(x, off + run_offset, s);
  });
}

void inverse_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size) {
  transform_run(run, 0, length, file_size, [&](uint32_t v, uint32_t off, uint32_t s) {
    return decode_operand(v, off + run_offset, s);
  });
}

}  // namespace builder

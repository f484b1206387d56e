#include "builder/call_transform.h"

#include <algorithm>

#include "codec/format.h"
#include "common/byte_order.h"
#include "common/call_operand.h"
#include "common/pe_header.h"

namespace builder {
namespace {

constexpr uint32_t kWidth = 4;

template <typename Convert>
void transform_run(uint8_t* file, uint32_t begin, uint32_t end, uint32_t size, Convert convert) {
  if (end - begin <= kWidth) return;
  const uint32_t scan_end = end - kWidth;
  for (uint32_t p = begin; p < scan_end;) {
    if (file[p] != format::kCallOpcode) {
      ++p;
      continue;
    }
    const uint32_t off = p + 1;
    store_le32(file + off, convert(load_le32(file + off), off, size));
    p += 1 + kWidth;
  }
}

}  // namespace

bool is_x86_executable(const uint8_t* data, uint32_t size) {
  const uint32_t headers = pe_header_offset(data, size, pe::kSignatureAndMachine);
  return headers != 0 && is_x86_pe_signature(data + headers);
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
    transform_run(contents, begin, end, size, stored_call_operand);
    begin = end;
  }
}

void forward_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size) {
  transform_run(run, 0, length, file_size, [&](uint32_t x, uint32_t off, uint32_t s) {
    return stored_call_operand(x, off + run_offset, s);
  });
}

void inverse_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size) {
  transform_run(run, 0, length, file_size, [&](uint32_t v, uint32_t off, uint32_t s) {
    return restored_call_operand(v, kWidth, off + run_offset, s);
  });
}

}  // namespace builder

// Little-endian bit stream: fields are written from the least significant bit of each
// byte on, the way the decoder reads them.
#pragma once

#include <cstdint>
#include <vector>

namespace builder {

class BitWriter {
 public:
  // Appends the low `count` bits of `value` (count at most 32).
  void put(uint32_t value, uint32_t count) {
    accumulator_ |= static_cast<uint64_t>(value & mask(count)) << filled_;
    filled_ += count;
    while (filled_ >= 8) {
      bytes_.push_back(static_cast<uint8_t>(accumulator_));
      accumulator_ >>= 8;
      filled_ -= 8;
    }
  }
  // Pads with zero bits up to the next byte boundary.
  void align() {
    if (filled_ > 0) put(0, 8 - filled_);
  }
  uint64_t bit_count() const { return bytes_.size() * 8 + filled_; }
  // The bytes written so far; call align() first to include a partial byte.
  std::vector<uint8_t>& bytes() { return bytes_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  static uint32_t mask(uint32_t count) { return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1; }
  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  uint32_t filled_ = 0;
};

}  // namespace builder

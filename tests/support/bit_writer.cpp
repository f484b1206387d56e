#include "support/bit_writer.h"

#include <stdexcept>

void BitWriter::put(uint64_t value, unsigned bits) {
  for (unsigned i = 0; i < bits; ++i) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_[bits_ / 8] |= uint8_t(1u << (bits_ % 8));
    ++bits_;
  }
}

void BitWriter::align() {
  while (bits_ % 8 != 0) put(0, 1);
}

void BitWriter::patch(size_t at, uint64_t value, unsigned bits) {
  for (unsigned i = 0; i < bits; ++i, ++at) {
    const uint8_t mask = uint8_t(1u << (at % 8));
    if ((value >> i) & 1) {
      bytes_[at / 8] |= mask;
    } else {
      bytes_[at / 8] &= uint8_t(~mask);
    }
  }
}

std::vector<uint32_t> reference_codes(const std::vector<uint8_t>& lengths) {
  // Canonical assignment: shorter codes first, ties by symbol number.
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint32_t code = 0;
  for (unsigned len = 1; len <= 16; ++len) {
    for (size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] != len) continue;
      uint32_t reversed = 0;
      for (unsigned i = 0; i < len; ++i) reversed |= ((code >> (len - 1 - i)) & 1) << i;
      codes[s] = reversed;
      ++code;
    }
    code <<= 1;
  }
  return codes;
}

std::vector<uint8_t> fixed_set() {
  std::vector<uint8_t> l(344, 0);
  for (int i = 0; i <= 243; ++i) l[i] = 8;
  for (int i = 244; i <= 255; ++i) l[i] = 9;
  for (int i = 257; i <= 260; ++i) l[i] = 9;
  for (int i = 261; i <= 265; ++i) l[i] = 10;
  for (int i = 266; i <= 287; ++i) l[i] = 11;
  for (int i = 288; i <= 291; ++i) l[i] = 4;
  for (int i = 292; i <= 315; ++i) l[i] = 5;
  l[330] = l[331] = 3;
  for (int i = 332; i <= 343; ++i) l[i] = 4;
  return l;
}

std::vector<uint8_t> standard_set(unsigned tables, unsigned rotate) {
  std::vector<uint8_t> l(tables == 3 ? 372 : 344, 0);
  for (unsigned i = 0; i < 288; ++i) l[(i + rotate) % 288] = i < 224 ? 8 : 9;
  for (unsigned i = 0; i < 42; ++i) l[288 + i] = i < 22 ? 5 : 6;
  for (unsigned i = 0; i < 14; ++i) l[330 + i] = i < 2 ? 3 : 4;
  if (tables == 3) {
    for (unsigned i = 0; i < 28; ++i) l[344 + i] = i < 4 ? 4 : 5;
  }
  return l;
}

uint32_t code_length_symbol_code(uint32_t symbol) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < 5; ++i) reversed |= ((symbol >> (4 - i)) & 1) << i;
  return reversed;
}

void write_flat_code_length_alphabet(BitWriter& out) {
  for (int i = 0; i < 21; ++i) out.put(6, 5);  // length 5 for each of the 21 symbols
}

void write_code_length_sets(BitWriter& out, const std::vector<std::vector<uint8_t>>& sets) {
  write_flat_code_length_alphabet(out);
  unsigned running = 0;
  for (size_t k = 0; k < sets.size(); ++k) {
    for (size_t pos = 0; pos < sets[k].size(); ++pos) {
      unsigned ref = running;
      if (k > 0 && sets[k - 1][pos] != 0) ref = sets[k - 1][pos];
      const unsigned len = sets[k][pos];
      const unsigned delta = (len + 17 - ref) % 17;
      out.put(code_length_symbol_code(delta), 5);
      running = len;
    }
  }
}

BlockEncoder::BlockEncoder(BitWriter& out, unsigned tables,
                           const std::vector<std::vector<uint8_t>>& sets, unsigned header_sets)
    : out_(out), tables_(tables), sets_(sets) {
  const unsigned n = header_sets != ~0u ? header_sets : unsigned(sets.size());
  out_.put(tables, 2);
  out_.put(n, 6);
  if (sets_.empty()) {
    sets_.push_back(fixed_set());
  } else {
    write_code_length_sets(out_, sets_);
  }
  for (const auto& set : sets_) {
    std::vector<uint32_t> codes(set.size(), 0);
    auto part = [&](size_t from, size_t count) {
      std::vector<uint8_t> sub(set.begin() + from, set.begin() + from + count);
      auto c = reference_codes(sub);
      for (size_t i = 0; i < count; ++i) codes[from + i] = c[i];
    };
    part(0, 288);
    part(288, 42);
    part(330, 14);
    if (set.size() == 372) part(344, 28);
    codes_.push_back(codes);
  }
}

void BlockEncoder::symbol(uint32_t s) {
  const auto& set = sets_[current_];
  if (set[s] == 0) throw std::logic_error("symbol has no code in this set");
  out_.put(codes_[current_][s], set[s]);
  if (s == 256 && current_ + 1 < sets_.size()) ++current_;
}

void BlockEncoder::literal(uint8_t byte) {
  symbol(byte);
}

void BlockEncoder::literals(const std::string& text) {
  for (char c : text) literal(uint8_t(c));
}

void BlockEncoder::put_length(uint32_t length) {
  static const uint32_t base[20] = {11, 13, 15, 17, 19, 23,  27,  31,  35,  43,
                                    51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
  if (length <= 10) {
    symbol(255 + length);
  } else if (length <= 258) {
    int i = 19;
    while (base[i] > length) --i;
    symbol(266 + i);
    out_.put(length - base[i], unsigned(i / 4 + 1));
  } else {
    symbol(286);
    out_.put(length - 259, 15);
  }
}

void BlockEncoder::match_symbol(uint32_t length, uint32_t dsym, uint32_t extra) {
  put_length(length);
  unsigned table = 0;
  if (length == 2 && tables_ >= 2) table = 1;
  if (length == 3 && tables_ == 3) table = 2;
  static const size_t offset[3] = {288, 330, 344};
  const auto& set = sets_[current_];
  const size_t at = offset[table] + dsym;
  if (set[at] == 0) throw std::logic_error("distance symbol has no code in this set");
  out_.put(codes_[current_][at], set[at]);
  if (dsym >= 6) out_.put(extra, (dsym - 6) / 2 + 1);
}

void BlockEncoder::match(uint32_t length, uint32_t distance) {
  if (distance >= 1 && distance <= 4) return match_symbol(length, distance + 1);
  for (uint32_t m = 6; m <= 41; ++m) {
    const uint32_t j = m - 6, k = j / 2;
    const uint32_t base = (1u << (k + 2)) + 1 + ((j & 1) ? (1u << (k + 1)) : 0);
    const uint32_t span = 1u << (k + 1);
    if (distance >= base && distance < base + span) return match_symbol(length, m, distance - base);
  }
  throw std::logic_error("distance out of range");
}

Bytes stored_chunk(const Bytes& data, bool last, unsigned selector) {
  ChunkSpec chunk_spec;
  chunk_spec.type = 0;
  chunk_spec.last = last;
  chunk_spec.size = uint32_t(data.size());
  chunk_spec.selector = selector;
  return make_chunk(chunk_spec, [&](BitWriter& w) {
    w.align();
    for (uint8_t b : data) w.put(b, 8);
  });
}

Bytes literal_chunk(const Bytes& data, bool last, unsigned selector) {
  ChunkSpec chunk_spec;
  chunk_spec.last = last;
  chunk_spec.size = uint32_t(data.size());
  chunk_spec.selector = selector;
  return make_chunk(chunk_spec, [&](BitWriter& w) {
    BlockEncoder e(w, 2, {});
    for (uint8_t b : data) e.literal(b);
  });
}

Bytes member_bytes(const std::string& name, const Bytes& contents) {
  BitWriter w;
  w.put(contents.size(), 32);
  w.put(name.size(), 16);
  w.put(0x205A, 16);
  w.put(0, 16);
  w.put(0, 8);
  for (char c : name) w.put(uint8_t(c), 8);
  for (uint8_t b : contents) w.put(b, 8);
  Bytes out = w.bytes();
  // The trailing CRC is never read by the installer; any value serves.
  for (int i = 0; i < 4; ++i) out.push_back(0);
  return out;
}

Bytes text_bytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

void append(Bytes& to, const Bytes& more) {
  to.insert(to.end(), more.begin(), more.end());
}

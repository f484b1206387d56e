// Test-side writer of the archive's bit streams: raw little-endian bit fields,
// canonical codes computed independently of the decoder, compressed block payloads,
// framed chunks and whole stream files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class BitWriter {
 public:
  // Appends the low `bits` bits of value, least significant first.
  void put(uint64_t value, unsigned bits);
  // Pads with zero bits to the next byte boundary.
  void align();
  // Overwrites `bits` bits at bit position `at`.
  void patch(size_t at, uint64_t value, unsigned bits);
  size_t bit_count() const { return bits_; }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t bits_ = 0;
};

// Bit-reversed canonical codes of a length set (entries of length 0 are 0).
std::vector<uint32_t> reference_codes(const std::vector<uint8_t>& lengths);

// The fixed set (344 lengths).
std::vector<uint8_t> fixed_set();
// A set (344 lengths, or 372 with three distance tables) in which every alphabet is a
// complete code: literals 0..223 of 8 bits and the rest of 9; distances likewise split
// between two lengths. `rotate` shifts which literal symbols get the short codes, so that
// two sets decode the same bits differently.
std::vector<uint8_t> standard_set(unsigned tables, unsigned rotate = 0);

// Writes a compressed block payload.
class BlockEncoder {
 public:
  // sets empty: the fixed set (n = 0). Writes the payload header and the code lengths.
  BlockEncoder(BitWriter& out, unsigned tables, const std::vector<std::vector<uint8_t>>& sets,
               unsigned header_sets = ~0u);
  void literal(uint8_t byte);
  void literals(const std::string& text);
  // A match of `length` bytes at `distance` (coded with symbols 2..5 or 6..41).
  void match(uint32_t length, uint32_t distance);
  // A match with an explicit distance symbol and its extra-bits value.
  void match_symbol(uint32_t length, uint32_t distance_symbol, uint32_t extra = 0);
  void symbol(uint32_t literal_length_symbol);  // any symbol, no extra bits
  void switch_set() { symbol(256); }
  void finish() { out_.align(); }

 private:
  void put_length(uint32_t length);
  BitWriter& out_;
  unsigned tables_;
  std::vector<std::vector<uint8_t>> sets_;
  size_t current_ = 0;
  std::vector<std::vector<uint32_t>> codes_;  // per set: the whole set's codes, per alphabet
};

// Writes n sets in the transmitted form: code-length alphabet of 21 five-bit codes, then
// one delta symbol per position (no runs).
void write_code_length_sets(BitWriter& out, const std::vector<std::vector<uint8_t>>& sets);
// Writes the 21 five-bit code-length codes (5-bit fields of value 6) only.
void write_flat_code_length_alphabet(BitWriter& out);
// The reversed 5-bit code of a code-length symbol under that flat alphabet.
uint32_t code_length_symbol_code(uint32_t symbol);

// A chunk: 8-byte header then the payload. The payload writer starts at bit 50.
struct ChunkSpec {
  unsigned type = 1;
  bool last = false;
  uint32_t size = 0;
  unsigned selector = 0;
  int32_t length_override = -1;  // chunk length field; -1 = the real length
};
template <typename Payload>
Bytes make_chunk(const ChunkSpec& chunk_spec, Payload&& payload) {
  BitWriter w;
  w.put(chunk_spec.type, 4);
  w.put(chunk_spec.last ? 1 : 0, 1);
  w.put(chunk_spec.size, 20);
  w.put(0, 20);
  w.put(chunk_spec.selector, 5);
  payload(w);
  w.align();
  while (w.bytes().size() < 8) w.put(0, 8);
  const size_t length = w.bytes().size();
  w.patch(25,
          chunk_spec.length_override >= 0 ? uint32_t(chunk_spec.length_override) : uint32_t(length),
          20);
  return w.bytes();
}
// A stored chunk holding data.
Bytes stored_chunk(const Bytes& data, bool last, unsigned selector = 0);
// A compressed chunk of literals only, fixed set.
Bytes literal_chunk(const Bytes& data, bool last, unsigned selector = 0);

// The member layout in the decompressed stream: 11-byte header, name, contents, CRC.
Bytes member_bytes(const std::string& name, const Bytes& contents);

Bytes text_bytes(const std::string& text);
void append(Bytes& to, const Bytes& more);

#include "codec/code_tables.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"
#include "codec/format.h"
#include "common/machine_word.h"

namespace {

// Saturation bound of the run weights: any run that long passes the end of every set.
constexpr uint32_t kMaxRunWeight = 1u << 16;

uint32_t peek_bits(uint32_t count) {
  const ArchiveReader& r = archive_reader;
  return (load_le32(r.cursor) >> r.bit_offset) & ((1u << count) - 1);
}

void consume_bits(uint32_t count) {
  ArchiveReader& r = archive_reader;
  r.bit_offset += count;
  r.cursor += r.bit_offset >> 3;
  r.bit_offset &= 7;
}

ResultCode ensure_input() {
  const ArchiveReader& r = archive_reader;
  if (r.cursor < r.input_end) return kResultOk;
  return refill_input(false);
}

uint32_t doubled(uint32_t weight) {
  return weight < kMaxRunWeight ? weight * 2 : weight;
}

}  // namespace

void fixed_code_lengths(uint8_t* lengths) {
  for (uint32_t i = 0; i < sizeof format::kFixedSetRuns; i += 2) {
    fill_bytes(lengths, format::kFixedSetRuns[i + 1], format::kFixedSetRuns[i]);
    lengths += format::kFixedSetRuns[i];
  }
}

void canonical_codes(uint32_t* codes, const uint8_t* lengths, uint32_t count) {
  uint32_t per_length[format::kMaxCodeLength + 1];
  uint32_t next[format::kMaxCodeLength + 1];
  fill_bytes(per_length, 0, sizeof per_length);
  for (uint32_t s = 0; s < count; ++s) {
    if (lengths[s] <= format::kMaxCodeLength) ++per_length[lengths[s]];
  }
  per_length[0] = 0;
  uint32_t code = 0;
  for (uint32_t b = 1; b <= format::kMaxCodeLength; ++b) {
    code = (code + per_length[b - 1]) << 1;
    next[b] = code;
  }
#if ZARPEX_HOST_FAST
  // The first code of each length bit-reversed, then counted up in reversed form: the
  // carry runs from the top bit down. Codes past the last of their length (an
  // over-subscribed set) keep only their low bits, as they would reversed one by one.
  for (uint32_t b = 1; b <= format::kMaxCodeLength; ++b) {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < b; ++i) reversed |= ((next[b] >> i) & 1) << (b - 1 - i);
    next[b] = reversed;
  }
  for (uint32_t s = 0; s < count; ++s) {
    const uint32_t len = lengths[s];
    if (len == 0 || len > format::kMaxCodeLength) continue;
    uint32_t reversed = next[len];
    codes[s] = reversed;
    uint32_t bit = 1u << (len - 1);
    while (reversed & bit) {
      reversed ^= bit;
      bit >>= 1;
    }
    next[len] = reversed | bit;
  }
#else
  // The stub reverses every code bit by bit: smaller code.
  for (uint32_t s = 0; s < count; ++s) {
    const uint32_t len = lengths[s];
    if (len == 0 || len > format::kMaxCodeLength) continue;
    const uint32_t c = next[len]++;
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < len; ++i) reversed |= ((c >> i) & 1) << (len - 1 - i);
    codes[s] = reversed;
  }
#endif
}

namespace {

#if ZARPEX_FAST_DECODE
// 64-bit hosts fill the primary table of a code that over-subscribes no length by
// doubling: the table of the first L bits holds every code of at most L bits, so the
// table of L + 1 bits is two copies of it with the codes of L + 1 bits added, one entry
// each. The canonical codes are counted out on the way, in the symbols' order by length.
// Where a code is longer than the width, only a complete code is taken (its tree then
// never runs out of nodes); an incomplete one may, and is left to the entry-by-entry
// fill, which stops where it runs out. Returns false when the code is not taken, else
// fills the table and the codes and sets *long_codes.
bool fill_by_doubling(int32_t* primary, uint32_t* codes, const uint8_t* lengths, uint32_t width,
                      uint32_t count, const int32_t* entries, bool* long_codes) {
  uint32_t per_length[format::kMaxCodeLength + 1] = {};
  for (uint32_t s = 0; s < count; ++s) {
    if (lengths[s] <= format::kMaxCodeLength) ++per_length[lengths[s]];
  }
  uint32_t space = 0;  // in units of codes of kMaxCodeLength bits
  uint32_t longer = 0;
  for (uint32_t b = 1; b <= format::kMaxCodeLength; ++b) {
    space += per_length[b] << (format::kMaxCodeLength - b);
    if (b > width) longer += per_length[b];
  }
  constexpr uint32_t kFull = 1u << format::kMaxCodeLength;
  if (space > kFull || (longer != 0 && space != kFull)) return false;

  // The symbols ordered by code length, then by symbol; each length's first code,
  // bit-reversed.
  uint16_t first[format::kMaxCodeLength + 2];
  uint32_t next_code[format::kMaxCodeLength + 1];
  first[1] = 0;
  uint32_t code = 0;
  per_length[0] = 0;
  for (uint32_t b = 1; b <= format::kMaxCodeLength; ++b) {
    first[b + 1] = uint16_t(first[b] + per_length[b]);
    code = (code + per_length[b - 1]) << 1;
    if (per_length[b] == 0) continue;
    // The code's 16 bits reversed by swapping halves, bytes, nibbles, pairs and bits.
    uint32_t r = code;
    r = ((r >> 8) & 0x00FF) | ((r & 0x00FF) << 8);
    r = ((r >> 4) & 0x0F0F) | ((r & 0x0F0F) << 4);
    r = ((r >> 2) & 0x3333) | ((r & 0x3333) << 2);
    r = ((r >> 1) & 0x5555) | ((r & 0x5555) << 1);
    next_code[b] = r >> (format::kMaxCodeLength - b);
  }
  uint16_t order[format::kLiteralLengthSymbols];
  for (uint32_t s = 0; s < count; ++s) {
    const uint32_t len = lengths[s];
    if (len == 0 || len > format::kMaxCodeLength) continue;
    order[first[len]++] = uint16_t(s);
    // The next code of this length, counted up in reversed form: the carry runs from
    // the top bit down.
    uint32_t reversed = next_code[len];
    codes[s] = reversed;
    uint32_t bit = 1u << (len - 1);
    while (reversed & bit) {
      reversed ^= bit;
      bit >>= 1;
    }
    next_code[len] = reversed | bit;
  }
  primary[0] = kEmptySlot;
  uint32_t filled = 1;
  uint32_t next = 0;
  for (uint32_t len = 1; len <= width; ++len) {
    __builtin_memcpy(primary + filled, primary, filled * sizeof *primary);
    filled *= 2;
    // first[len] now marks the end of the symbols of this length.
    for (; next < first[len]; ++next) {
      const uint32_t s = order[next];
      primary[codes[s]] = entries[s] + int32_t(len * kEntryPerCodeBit);
    }
  }
  *long_codes = longer != 0;
  return true;
}
#endif

}  // namespace

ResultCode build_decode_table(int32_t* primary, int32_t* tree, const uint32_t* codes,
                              const uint8_t* lengths, uint32_t width, uint32_t count,
                              const int32_t* entries, bool doubled) {
  const uint32_t slots = 1u << width;
  if (!doubled) {
#if ZARPEX_HOST_FAST
    // Two entries per store: a table has at least two.
    const uint64_t empty_pair = uint64_t(uint32_t(kEmptySlot)) * 0x100000001ull;
    for (uint32_t i = 0; i < slots; i += 2) __builtin_memcpy(primary + i, &empty_pair, 8);
#else
    for (uint32_t i = 0; i < slots; ++i) primary[i] = kEmptySlot;
#endif
  }
  if (tree != nullptr) {
    for (uint32_t i = 0; i < 2 * count; ++i) tree[i] = kEmptySlot;
  }
  int32_t next_node = 1;
  const int32_t node_limit = static_cast<int32_t>(count);

  for (uint32_t p = 0; p < count; ++p) {
    const uint32_t len = lengths[p];
    if (len == 0 || len > format::kMaxCodeLength) continue;
    const uint32_t c = codes[p];
    const int32_t leaf = static_cast<int32_t>((p << kEntryLengthBits) | len);
    if (len <= width) {
      if (doubled) continue;
      const int32_t value =
          entries != nullptr ? entries[p] + int32_t(len * kEntryPerCodeBit) : leaf;
      for (uint32_t i = c & ((1u << len) - 1); i < slots; i += 1u << len) primary[i] = value;
      continue;
    }
    if (tree == nullptr) continue;

    // Walk (and extend) the path of the code's bits beyond the first width.
    int32_t* slot = &primary[c & (slots - 1)];
    bool in_primary = true;
    uint32_t bits = c >> width;
    bool collides = false;
    for (uint32_t level = width; level < len; ++level) {
      int32_t node;
      const int32_t entry = *slot;
      if (entry == kEmptySlot) {
        if (next_node == node_limit) return kResultDamaged;
        node = next_node++;
        *slot = in_primary ? -node : node;
      } else if (in_primary ? entry < 0 && entry > kEmptySlot : entry > 0) {
        node = in_primary ? -entry : entry;
      } else {
        collides = true;  // a shorter code already ends here
        break;
      }
      slot = &tree[2 * node + (bits & 1)];
      bits >>= 1;
      in_primary = false;
    }
    if (!collides && *slot == kEmptySlot) *slot = -leaf;
  }
  return kResultOk;
}

ResultCode build_entry_table(int32_t* primary, int32_t* tree, uint32_t* codes,
                             const uint8_t* lengths, uint32_t width, uint32_t count,
                             const int32_t* entries) {
#if ZARPEX_FAST_DECODE
  bool long_codes = false;
  if (fill_by_doubling(primary, codes, lengths, width, count, entries, &long_codes)) {
    if (!long_codes) return kResultOk;  // no entry leads into the tree
    return build_decode_table(primary, tree, codes, lengths, width, count, entries, true);
  }
#endif
  canonical_codes(codes, lengths, count);
  return build_decode_table(primary, tree, codes, lengths, width, count, entries);
}

int32_t walk_tree(uint32_t bits, int32_t link, const int32_t* tree, uint32_t width) {
  if (link == kEmptySlot) return kEmptySlot;
  int32_t node = -link;
  // Codes are at most 16 bits long, so no walk goes deeper than 16 - width levels.
  for (uint32_t level = width; level < format::kMaxCodeLength; ++level) {
    const int32_t entry = tree[2 * node + (bits & 1)];
    bits >>= 1;
    if (entry > 0) {
      node = entry;
      continue;
    }
    return entry == kEmptySlot ? kEmptySlot : -entry;
  }
  return kEmptySlot;
}

ResultCode read_code_lengths(uint8_t* dest, uint32_t set_length, uint32_t set_count) {
  if (set_count == 0) {
    fixed_code_lengths(dest);
    return kResultOk;
  }

  // The code-length alphabet's own lengths: 5-bit fields, runs of zeros counted in a
  // base-2 numeration with the digits 1 and 2.
  uint8_t cl_lengths[format::kCodeLengthSymbols];
  fill_bytes(cl_lengths, 0, sizeof cl_lengths);
  uint32_t position = 0;
  uint32_t weight = 1;
  while (position < format::kCodeLengthSymbols) {
    const ResultCode rc = ensure_input();
    if (rc < 0) return rc;
    const uint32_t v = peek_bits(format::kCodeLengthFieldBits);
    consume_bits(format::kCodeLengthFieldBits);
    if (v > format::kCodeLengthFieldBias) {
      if (v - format::kCodeLengthFieldBias > format::kMaxCodeLength) return kResultDamaged;
      cl_lengths[position++] = static_cast<uint8_t>(v - format::kCodeLengthFieldBias);
      weight = 1;
    } else {
      position += weight << v;
      weight = doubled(weight);
    }
  }

  uint32_t cl_codes[format::kCodeLengthSymbols];
  int32_t cl_primary[1u << kCodeLengthBits];
  int32_t cl_tree[2 * format::kCodeLengthSymbols];
  canonical_codes(cl_codes, cl_lengths, format::kCodeLengthSymbols);
  build_decode_table(cl_primary, cl_tree, cl_codes, cl_lengths, kCodeLengthBits,
                     format::kCodeLengthSymbols);

  const uint32_t total = set_count * set_length;
  uint32_t running = 0;
  uint32_t zero_weight = 1;
  uint32_t repeat_weight = 1;
  position = 0;
  // The reference of a position: the previous set's nonzero length there, else the
  // running value.
  auto reference = [&](uint32_t at) -> uint32_t {
    if (at >= set_length && dest[at - set_length] != 0) return dest[at - set_length];
    return running;
  };
  while (position < total) {
    const ResultCode rc = ensure_input();
    if (rc < 0) return rc;
    const int32_t entry =
        decode_symbol(load_le32(archive_reader.cursor) >> archive_reader.bit_offset, cl_primary,
                      cl_tree, kCodeLengthBits);
    if (entry == kEmptySlot) return kResultDamaged;
    consume_bits(entry_length(entry));
    const uint32_t s = entry_symbol(entry);
    if (s <= format::kLastDeltaSymbol) {
      uint32_t len = reference(position) + s;
      if (len > format::kMaxCodeLength) len -= format::kCodeLengthModulus;
      dest[position++] = static_cast<uint8_t>(len);
      running = len;
      zero_weight = 1;
      repeat_weight = 1;
    } else if (s < format::kRepeatRunSymbol) {
      uint32_t run = zero_weight << (s - format::kZeroRunSymbol);
      if (run > total - position) run = total - position;
      fill_bytes(dest + position, 0, run);
      position += run;
      zero_weight = doubled(zero_weight);
      repeat_weight = 1;
    } else {
      uint32_t run = repeat_weight << (s - format::kRepeatRunSymbol);
      if (run > total - position) run = total - position;
      while (run-- != 0) {
        running = reference(position);
        dest[position++] = static_cast<uint8_t>(running);
      }
      repeat_weight = doubled(repeat_weight);
      zero_weight = 1;
    }
  }
  for (uint32_t i = 0; i < total; ++i) {
    if (dest[i] > format::kMaxCodeLength) return kResultDamaged;
  }
  return kResultOk;
}

#include "codec/block_decoder.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"
#include "codec/code_tables.h"
#include "codec/format.h"
#include "codec/machine_word.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

constexpr uint32_t kTreeEntries = 2 * format::kSetLengthThreeTables;  // 744

// Base length (low 9 bits) and extra bits (above them) of the length symbols 257 to 286.
constexpr uint32_t kLengthInfoBaseBits = 9;
struct LengthInfo {
  uint16_t entries[format::kLengthSymbols];
  constexpr LengthInfo() : entries() {
    for (uint32_t i = 0; i < format::kLengthSymbols; ++i) {
      const uint32_t symbol = format::kFirstLengthSymbol + i;
      entries[i] =
          static_cast<uint16_t>(format::length_symbol_base(symbol) |
                                (format::length_symbol_extra_bits(symbol) << kLengthInfoBaseBits));
    }
  }
};
static_assert(format::kLongMatchBase < (1u << kLengthInfoBaseBits));
constexpr LengthInfo kLengthInfoTable;
constexpr const uint16_t* kLengthInfo = kLengthInfoTable.entries;

// The tables of one block; allocated together with its code lengths.
struct DecodeWork {
  int32_t literal_primary[1u << kLiteralLengthBits];
  int32_t distance_primary[format::kDistanceTables][1u << kDistanceBits];
  int32_t tree[kTreeEntries];  // each alphabet from twice its offset in the set on
  uint32_t codes[format::kLiteralLengthSymbols];
};

void build_set_tables(DecodeWork* work, const uint8_t* set, uint32_t tables) {
  canonical_codes(work->codes, set, format::kLiteralLengthSymbols);
  build_decode_table(work->literal_primary, work->tree, work->codes, set, kLiteralLengthBits,
                     format::kLiteralLengthSymbols);
  for (uint32_t t = 0; t < tables; ++t) {
    const uint32_t offset = format::kDistanceOffset[t];
    canonical_codes(work->codes, set + offset, format::kDistanceSymbols[t]);
    // A table that runs out of tree nodes leaves the rest of its codes as empty slots.
    build_decode_table(work->distance_primary[t], work->tree + 2 * offset, work->codes,
                       set + offset, kDistanceBits, format::kDistanceSymbols[t]);
  }
}

}  // namespace

ResultCode decode_block(uint8_t* buffer, uint32_t output_offset, uint32_t size) {
  ArchiveReader& r = archive_reader;

  if (r.cursor >= r.input_end) {
    const ResultCode rc = refill_input(false);
    if (rc < 0) return rc;
  }
  const format::PayloadHeader header =
      format::read_payload_header(load_le32(r.cursor) >> r.bit_offset);
  r.bit_offset += format::kPayloadHeaderBits;
  r.cursor += r.bit_offset >> 3;
  r.bit_offset &= 7;
  const uint32_t tables = header.distance_tables;
  const uint32_t set_count = header.set_count;
  // No distance tables, or a third one that the fixed set does not define.
  if (tables == 0 || (tables == format::kDistanceTables && set_count == 0)) return kResultDamaged;
  const uint32_t set_length = format::set_length_for(tables);
  const uint32_t lengths_size =
      set_count == 0 ? format::kSetLengthTwoTables : set_count * set_length;

  DecodeWork* const work = static_cast<DecodeWork*>(mem_alloc(sizeof(DecodeWork) + lengths_size));
  if (work == nullptr) return kResultNoMemory;
  uint8_t* const storage = reinterpret_cast<uint8_t*>(work + 1);
  ResultCode rc = read_code_lengths(storage, set_length, set_count);
  if (rc < 0) {
    mem_free(work);
    return rc;
  }

  uint32_t sets_left = set_count == 0 ? 1 : set_count;
  uint32_t sets_used = 0;
  uint32_t last_distance = 0;
  uint32_t previous_distance = 0;

  uint8_t* const start = buffer;
  uint8_t* out = buffer + output_offset;
  uint8_t* const limit = out + size;

  // A bit buffer in a machine word, refilled a whole word at a time: `in` is the next
  // byte not yet loaded, `count` the loaded bits not yet consumed (the low bits of
  // `bits`). After a refill at least kRefilled bits are loaded; every field read after
  // one (code and extra bits of a length, code or extra bits of a distance on 32-bit
  // machines, code and extra bits of a distance on 64-bit ones) fits in them. Refills
  // load at most a word from a few bytes behind the consumed position; the input
  // buffer's read-ahead room holds them.
  using BitWord = MachineWord;
  constexpr uint32_t kWordBits = sizeof(BitWord) * 8;
  constexpr uint32_t kRefilled = kWordBits - 8;
  constexpr bool kWide = kWordBits == 64;
  constexpr uint32_t kLongestSymbol = format::kMaxCodeLength + format::kLongMatchExtraBits;
  auto is_literal = [](int32_t entry) {
    return static_cast<uint32_t>(entry) < (format::kLiterals << kEntryLengthBits);
  };
  const uint8_t* in = r.cursor;
  const uint8_t* in_end = r.input_end;
  BitWord bits = 0;
  uint32_t count = 0;
  auto refill = [&]() {
    BitWord word;
    __builtin_memcpy(&word, in, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = kWide ? __builtin_bswap64(word) : __builtin_bswap32(static_cast<uint32_t>(word));
#endif
    bits |= word << count;
    in += (kWordBits - 1 - count) >> 3;
    count |= kRefilled;
  };
  auto consume = [&](uint32_t n) {
    bits >>= n;
    count -= n;
  };
  auto take = [&](uint32_t n) {
    const uint32_t v = static_cast<uint32_t>(bits) & ((1u << n) - 1);
    consume(n);
    return v;
  };
  // The first byte not wholly consumed, and the bit in it.
  auto consumed_at = [&]() { return in - ((count + 7) >> 3); };
  auto store_cursor = [&]() {
    r.cursor = consumed_at();
    r.bit_offset = (0u - count) & 7;
  };
  auto load_cursor = [&]() {
    in = r.cursor;
    in_end = r.input_end;
    bits = 0;
    count = 0;
    refill();
    consume(r.bit_offset);
  };
  load_cursor();

  // Switches to the next table set: 0, 1 when none is left, or -25.
  auto switch_sets = [&]() -> ResultCode {
    if (install_state.cancel_requested) return kResultCancelled;
    if (sets_left == 0) return 1;
    --sets_left;
    build_set_tables(work, storage + sets_used * set_length, tables);
    ++sets_used;
    return kResultOk;
  };

  rc = switch_sets();
  while (rc == kResultOk) {
    if (out >= limit) break;
    // A whole literal or match may begin before in_end: the input buffer holds the
    // look-ahead bytes behind it. `in` runs ahead of the consumed position by at most
    // a word.
    if (in >= in_end && consumed_at() >= in_end) {
      store_cursor();
      rc = refill_input(false);
      if (rc == kResultNoMoreInput) {
        rc = kResultOk;
        break;
      }
      load_cursor();
      continue;
    }
    refill();
    int32_t entry = work->literal_primary[bits & ((1u << kLiteralLengthBits) - 1)];
    if (kWide && is_literal(entry)) {
      // A run of literals from one refill, while the bits left hold any whole next
      // symbol (code and extra bits) and it begins before in_end, as `in` does.
      do {
        consume(entry_length(entry));
        *out++ = static_cast<uint8_t>(entry_symbol(entry));
        if (out >= limit || in >= in_end || count < kLongestSymbol) break;
        entry = work->literal_primary[bits & ((1u << kLiteralLengthBits) - 1)];
      } while (is_literal(entry));
      if (is_literal(entry)) continue;  // the run stopped at a limit, not at a symbol
    }
    if (entry < 0) {
      entry = walk_tree(static_cast<uint32_t>(bits) >> kLiteralLengthBits, entry, work->tree,
                        kLiteralLengthBits);
      if (entry == kEmptySlot) break;
    }
    consume(entry_length(entry));
    const uint32_t symbol = entry_symbol(entry);
    if (symbol < format::kLiterals) {
      *out++ = static_cast<uint8_t>(symbol);
      continue;
    }
    if (symbol == format::kSymbolSwitchSet) {
      rc = switch_sets();
      continue;
    }

    if (symbol > format::kSymbolLongMatch) break;  // symbol 287 has no meaning: the block ends here
    if (!kWide) refill();
    const uint32_t info = kLengthInfo[symbol - format::kFirstLengthSymbol];
    const uint32_t length =
        (info & ((1u << kLengthInfoBaseBits) - 1)) + take(info >> kLengthInfoBaseBits);

    refill();
    const uint32_t t = format::distance_table_for(length, tables);
    entry = work->distance_primary[t][bits & ((1u << kDistanceBits) - 1)];
    if (entry < 0) {
      entry = walk_tree(static_cast<uint32_t>(bits) >> kDistanceBits, entry,
                        work->tree + 2 * format::kDistanceOffset[t], kDistanceBits);
      if (entry == kEmptySlot) break;
    }
    consume(entry_length(entry));
    const uint32_t dsym = entry_symbol(entry);
    uint32_t distance;
    if (dsym == format::kDistanceRepeatLast) {
      distance = last_distance;
    } else if (dsym == format::kDistanceRepeatPrevious) {
      distance = previous_distance;
      previous_distance = last_distance;
      last_distance = distance;
    } else if (dsym < format::kFirstCodedDistance) {
      distance = format::short_distance(dsym);
    } else {
      if (!kWide) refill();
      distance = format::distance_base(dsym) + take(format::distance_extra_bits(dsym));
      previous_distance = last_distance;
      last_distance = distance;
    }
    // A remembered distance that was never sent would copy stale buffer bytes.
    if (distance == 0) break;
    if (distance > static_cast<uint32_t>(out - start)) continue;  // reaches before the buffer

    const uint32_t room = static_cast<uint32_t>(limit - out);
    const uint32_t n = room < length ? room : length;
    const uint8_t* from = out - distance;
    uint8_t* const end = out + n;
    if (kWide && distance >= 8 && room >= ((n + 15) & ~7u)) {
      // The same as below, with two unconditional steps first, which take most matches
      // alone; up to fifteen bytes past the match (the stub keeps the smaller loop).
      uint64_t v;
      __builtin_memcpy(&v, from, 8);
      __builtin_memcpy(out, &v, 8);
      __builtin_memcpy(&v, from + 8, 8);
      __builtin_memcpy(out + 8, &v, 8);
      out += 16;
      from += 16;
      while (out < end) {
        __builtin_memcpy(&v, from, 8);
        __builtin_memcpy(out, &v, 8);
        out += 8;
        from += 8;
      }
      out = end;
    } else if (distance >= 8 && room >= ((n + 7) & ~7u)) {
      // Eight bytes at a time never read a byte this copy has yet to write; the last
      // step may write up to seven bytes past the match, still before the limit, which
      // later output overwrites.
      do {
        uint64_t v;
        __builtin_memcpy(&v, from, 8);
        __builtin_memcpy(out, &v, 8);
        out += 8;
        from += 8;
      } while (out < end);
      out = end;
    } else if (kWide && distance == 1 && room >= ((n + 7) & ~7u)) {
      // A run of one byte, eight at a time (the same bounds).
      const uint64_t v = *from * 0x0101010101010101ull;
      do {
        __builtin_memcpy(out, &v, 8);
        out += 8;
      } while (out < end);
      out = end;
    } else {
      while (out != end) *out++ = *from++;
    }
  }

  mem_free(work);
  if (rc < 0) {
    store_cursor();
    return rc;
  }
  // On to the next byte boundary.
  r.cursor = in - (count >> 3);
  r.bit_offset = 0;
  return static_cast<ResultCode>(out - (buffer + output_offset));
}

#include "codec/block_decoder.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"
#include "codec/code_tables.h"
#include "codec/format.h"
#include "common/machine_word.h"
#include "platform/fs.h"
#include "state/install_state.h"

namespace {

constexpr uint32_t kTreeEntries = 2 * format::kSetLengthThreeTables;  // 744

// A decode entry carries everything its symbol needs, so that one lookup decodes it:
//   bits 0-5    bits to consume: the code and, for a length or a coded distance, its
//               extra bits
//   bits 6-10   the code's length (the extra bits follow it)
//   literal/length entries: bits 11-12 the distance table of the match, bit 13 set for
//               a literal, bits 16-30 the literal byte or the length base;
//   distance entries: bits 11-30 the distance base of symbols 6 to 41.
// Entries below zero need more: links into the overflow tree and empty slots (bits 16
// to 31 all set, as build_decode_table leaves them), symbols 256 and 287 and distance
// symbols 0 to 5 (the symbol in bits 16-30).
constexpr uint32_t kDistanceTableShift = 11;
constexpr uint32_t kLiteralFlag = 1u << 13;
constexpr uint32_t kValueShift = 16;
constexpr uint32_t kDistanceBaseShift = 11;
constexpr uint32_t kNeedsMore = 1u << 31;

constexpr bool is_link(int32_t entry) {
  return (entry >> kValueShift) == -1;
}
constexpr uint32_t code_length_of(uint32_t entry) {
  return (entry >> kCodeLengthShift) & 31;
}
constexpr uint32_t special_symbol(uint32_t entry) {
  return (entry >> kValueShift) & 0x7FFF;
}

// Entry of a literal/length symbol whose code has the given length. The length bases
// come in closed form (smaller in the stub than a table): 2 to 10 for symbols 257 to
// 265, then groups of four with one more extra bit each, checked against the table below.
constexpr int32_t literal_length_entry(uint32_t symbol, uint32_t code_length, uint32_t tables) {
  uint32_t entry;
  if (symbol < format::kLiterals) {
    entry = kLiteralFlag | symbol << kValueShift;
  } else if (symbol == format::kSymbolSwitchSet || symbol > format::kSymbolLongMatch) {
    entry = kNeedsMore | symbol << kValueShift;
  } else if (symbol == format::kSymbolLongMatch) {
    entry = format::kLongMatchBase << kValueShift | format::kLongMatchExtraBits;
  } else if (symbol < format::kFirstBasedLengthSymbol) {
    // Only lengths 2 and 3 may use another distance table than table 0.
    const uint32_t length = format::length_symbol_base(symbol);
    entry = length << kValueShift | format::distance_table_for(length, tables)
                                        << kDistanceTableShift;
  } else {
    const uint32_t i = symbol - format::kFirstBasedLengthSymbol;
    const uint32_t extra = i / 4 + 1;
    entry = (3 + ((4 + i % 4) << extra)) << kValueShift | extra;
  }
  return int32_t(entry + code_length * kEntryPerCodeBit);
}

constexpr int32_t distance_entry(uint32_t symbol, uint32_t code_length) {
  const uint32_t entry = symbol < format::kFirstCodedDistance
                             ? kNeedsMore | symbol << kValueShift
                             : format::distance_base(symbol) << kDistanceBaseShift |
                                   format::distance_extra_bits(symbol);
  return int32_t(entry + code_length * kEntryPerCodeBit);
}

constexpr bool length_entries_match_the_table() {
  for (uint32_t s = format::kFirstLengthSymbol; s <= format::kSymbolLongMatch; ++s) {
    const uint32_t entry = uint32_t(literal_length_entry(s, 0, 1));
    if (entry !=
        (format::length_symbol_base(s) << kValueShift | format::length_symbol_extra_bits(s)))
      return false;
  }
  return true;
}
static_assert(length_entries_match_the_table());

// 64-bit hosts keep whole entries in the primary tables, built once per table set from
// these (entry = the symbol's entry + code length * kEntryPerCodeBit); the stub keeps
// the smaller (symbol, length) entries and forms the whole entry at each lookup.
constexpr bool kEntriesInTables = sizeof(MachineWord) == 8;
constexpr bool kFastDecode = ZARPEX_FAST_DECODE;
static_assert(!kFastDecode || kEntriesInTables);
struct SymbolEntries {
  int32_t literal_length[kEntriesInTables ? format::kLiteralLengthSymbols : 1];
  int32_t distance[kEntriesInTables ? format::kMaxDistanceSymbols : 1];
};

void fill_symbol_entries(SymbolEntries* e, uint32_t tables) {
  if constexpr (kEntriesInTables) {
    for (uint32_t s = 0; s < format::kLiteralLengthSymbols; ++s) {
      e->literal_length[s] = literal_length_entry(s, 0, tables);
    }
    for (uint32_t s = 0; s < format::kMaxDistanceSymbols; ++s)
      e->distance[s] = distance_entry(s, 0);
  }
}

// The tables of one block; allocated together with its code lengths.
struct DecodeWork {
  int32_t literal_primary[1u << kLiteralLengthBits];
  int32_t distance_primary[format::kDistanceTables][1u << kDistanceBits];
  int32_t tree[kTreeEntries];  // each alphabet from twice its offset in the set on
  uint32_t codes[format::kLiteralLengthSymbols];
  SymbolEntries entries;
};

void build_set_tables(DecodeWork* work, const uint8_t* set, uint32_t tables) {
  // A table that runs out of tree nodes leaves the rest of its codes as empty slots.
  if constexpr (kFastDecode) {
    build_entry_table(work->literal_primary, work->tree, work->codes, set, kLiteralLengthBits,
                      format::kLiteralLengthSymbols, work->entries.literal_length);
    for (uint32_t t = 0; t < tables; ++t) {
      const uint32_t offset = format::kDistanceOffset[t];
      build_entry_table(work->distance_primary[t], work->tree + 2 * offset, work->codes,
                        set + offset, kDistanceBits, format::kDistanceSymbols[t],
                        work->entries.distance);
    }
  } else {
    canonical_codes(work->codes, set, format::kLiteralLengthSymbols);
    build_decode_table(work->literal_primary, work->tree, work->codes, set, kLiteralLengthBits,
                       format::kLiteralLengthSymbols,
                       kEntriesInTables ? work->entries.literal_length : nullptr);
    for (uint32_t t = 0; t < tables; ++t) {
      const uint32_t offset = format::kDistanceOffset[t];
      canonical_codes(work->codes, set + offset, format::kDistanceSymbols[t]);
      build_decode_table(work->distance_primary[t], work->tree + 2 * offset, work->codes,
                         set + offset, kDistanceBits, format::kDistanceSymbols[t],
                         kEntriesInTables ? work->entries.distance : nullptr);
    }
  }
}

// The block's table sets, taken in turn as the data switch to the next one.
struct TableSets {
  DecodeWork* work;
  const uint8_t* lengths;  // the next set's code lengths
  uint32_t set_length;
  uint32_t tables;
  uint32_t left;

  // Builds the next set's tables: 0, 1 when none is left, or -25 once Cancel is pressed.
  ResultCode next() {
    if (install_state.cancel_requested) return kResultCancelled;
    if (left == 0) return 1;
    --left;
    build_set_tables(work, lengths, tables);
    lengths += set_length;
    return kResultOk;
  }
};

// The bit cursor in a machine word, refilled a whole word at a time without a branch:
// `in` is the next byte not yet loaded, `count` the loaded bits not yet consumed (the
// low bits of `bits`). After a refill at least kRefilled bits are loaded. Refills load
// a word from at most a word behind the consumed position; the input buffer's
// read-ahead room holds them.
struct BitReader {
  static constexpr uint32_t kWordBits = sizeof(MachineWord) * 8;
  static constexpr uint32_t kRefilled = kWordBits - 8;
  static constexpr bool kWide = kWordBits == 64;

  const uint8_t* in;
  MachineWord bits;
  uint32_t count;

  void refill() {
    MachineWord word;
    __builtin_memcpy(&word, in, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = kWide ? __builtin_bswap64(word) : __builtin_bswap32(static_cast<uint32_t>(word));
#endif
    bits |= word << count;
    in += (kWordBits - 1 - count) >> 3;
    count |= kRefilled;
  }
  uint32_t peek(uint32_t n) const {
    return static_cast<uint32_t>(bits) & ((1u << n) - 1);
  }
  void consume(uint32_t n) {
    bits >>= n;
    count -= n;
  }
  uint32_t take(uint32_t n) {
    const uint32_t v = peek(n);
    consume(n);
    return v;
  }
  // Consumes an entry's code and extra bits; returns the extra bits. The wide form needs
  // them all loaded; the narrow one refills between code and extra bits.
  uint32_t take_entry(uint32_t entry) {
    const uint32_t total = entry & 63;
    const uint32_t code = code_length_of(entry);
    if constexpr (kWide) {
      if (count < total) refill();  // only after a long length code: see decode_block
      const MachineWord saved = bits;
      consume(total);
      return static_cast<uint32_t>((saved & ((MachineWord(1) << total) - 1)) >> code);
    } else {
      consume(code);
      refill();
      return take(total - code);
    }
  }
  // The first byte not wholly consumed.
  const uint8_t* consumed_at() const {
    return in - ((count + 7) >> 3);
  }

  void load(const ArchiveReader& r) {
    in = r.cursor;
    bits = 0;
    count = 0;
    refill();
    consume(r.bit_offset);
  }
  void store(ArchiveReader& r) const {
    r.cursor = consumed_at();
    r.bit_offset = (0u - count) & 7;
  }
};

// Copies a match of length bytes from distance bytes back, in ascending order (a
// distance below the length repeats the last bytes), stopping at limit. Multi-byte
// steps never read a byte this copy has yet to write; they may write past the match's
// end, never past limit: later output overwrites those bytes. The stub keeps the
// eight-byte loop; 64-bit hosts add a first sixteen bytes without a loop test, which
// take most matches alone, and runs of one byte eight at a time.
inline uint8_t* copy_match(uint8_t* out, uint32_t distance, uint32_t length, uint8_t* limit) {
  constexpr bool kWide = BitReader::kWide;
  const uint32_t room = static_cast<uint32_t>(limit - out);
  const uint32_t n = room < length ? room : length;
  const uint8_t* from = out - distance;
  uint8_t* const end = out + n;
  uint64_t v;
  if (distance >= 8 && room >= ((n + (kWide ? 15 : 7)) & ~7u)) {
    if (kWide) {
      __builtin_memcpy(&v, from, 8);
      __builtin_memcpy(out, &v, 8);
      __builtin_memcpy(&v, from + 8, 8);
      __builtin_memcpy(out + 8, &v, 8);
      out += 16;
      from += 16;
    }
    while (out < end) {
      // The stub's eight bytes as two words: smaller there than a 64-bit copy.
      if (kWide) {
        __builtin_memcpy(&v, from, 8);
        __builtin_memcpy(out, &v, 8);
      } else {
        uint32_t lo, hi;
        __builtin_memcpy(&lo, from, 4);
        __builtin_memcpy(&hi, from + 4, 4);
        __builtin_memcpy(out, &lo, 4);
        __builtin_memcpy(out + 4, &hi, 4);
      }
      out += 8;
      from += 8;
    }
  } else if (kWide && distance == 1 && room >= ((n + 7) & ~7u)) {
    v = *from * 0x0101010101010101ull;
    do {
      __builtin_memcpy(out, &v, 8);
      out += 8;
    } while (out < end);
  } else {
    while (out != end) *out++ = *from++;
  }
  return end;
}

// The fast loop of 64-bit hosts (not the stubs): it runs while the input holds more than a whole
// iteration's bits before in_end and the output has room for a match of up to
// kFastMatch bytes with the overrun of its first 32 bytes and 16-byte steps, so it checks neither
// bound inside; the loop of decode_block finishes the block. It decodes exactly what that loop
// would, and hands back every literal/length symbol it does not take (links into the
// tree, 256, 287, empty slots) before consuming it. Returns 0 when it hands back, or why
// the block ended.
constexpr ptrdiff_t kFastInputRoom = 32;  // an iteration consumes at most 65 bits
constexpr uint32_t kFastMatch = 258;      // longer matches (symbol 286) take copy_match
constexpr ptrdiff_t kFastOutputRoom = kFastMatch + 32;
static_assert(kFastOutputRoom > 64, "a run of literals from one refill fits too");

struct DecodeState {
  BitReader bits;
  uint8_t* out;
  uint32_t last_distance;
  uint32_t previous_distance;
  uint8_t dropped;
};

[[gnu::always_inline, maybe_unused]] inline uint8_t decode_fast(DecodeState& s,
                                                                const DecodeWork* work,
                                                                const uint8_t* start,
                                                                uint8_t* limit,
                                                                const uint8_t* in_end) {
  BitReader& bits = s.bits;
  uint8_t* out = s.out;
  uint8_t* const out_stop = limit - kFastOutputRoom;
  const uint8_t* const in_stop = in_end - kFastInputRoom;
  const int32_t* const literal_table = work->literal_primary;
  uint8_t end = 0;
  bits.refill();
  int32_t entry = literal_table[bits.peek(kLiteralLengthBits)];
  while (out < out_stop && bits.in < in_stop) {
    if (entry < 0) break;  // the loop of decode_block takes it
    if (entry & kLiteralFlag) {
      // Literals back to back while the table's width of bits is loaded.
      do {
        bits.consume(entry & 63);  // a literal has no extra bits
        *out++ = static_cast<uint8_t>(entry >> kValueShift);
        if (bits.count < kLiteralLengthBits) break;
        entry = literal_table[bits.peek(kLiteralLengthBits)];
      } while (entry >= 0 && (entry & kLiteralFlag));
      bits.refill();
      entry = literal_table[bits.peek(kLiteralLengthBits)];
      continue;
    }
    // A length symbol and its extra bits (at most 31) from the refill's 56 bits; the rest
    // holds the distance code, a tree walk's 16 bits included.
    const uint32_t total = entry & 63;
    const uint32_t length = (uint32_t(entry) >> kValueShift) +
                            static_cast<uint32_t>((bits.bits & ((MachineWord(1) << total) - 1)) >>
                                                  code_length_of(entry));
    bits.consume(total);
    const uint32_t t = (entry >> kDistanceTableShift) & 3;
    entry = work->distance_primary[t][bits.peek(kDistanceBits)];
    if (is_link(entry)) {
      entry = walk_tree(static_cast<uint32_t>(bits.bits) >> kDistanceBits, entry,
                        work->tree + 2 * format::kDistanceOffset[t], kDistanceBits);
      if (entry == kEmptySlot) {
        end = kBlockInvalidCode;
        break;
      }
      entry = distance_entry(entry_symbol(entry), entry_length(entry));
    }
    uint32_t distance;
    if (entry >= 0) {
      distance = (uint32_t(entry) >> kDistanceBaseShift) + bits.take_entry(entry);
      s.previous_distance = s.last_distance;
      s.last_distance = distance;
    } else {
      bits.consume(entry & 63);  // distance symbols 0 to 5 have no extra bits
      const uint32_t symbol = special_symbol(entry);
      if (symbol == format::kDistanceRepeatLast) {
        distance = s.last_distance;
      } else if (symbol == format::kDistanceRepeatPrevious) {
        distance = s.previous_distance;
        s.previous_distance = s.last_distance;
        s.last_distance = distance;
      } else {
        distance = format::short_distance(symbol);
      }
      if (distance == 0) {
        end = kBlockDistanceNeverSent;
        break;
      }
    }
    // The next symbol's entry is looked up while the match is copied.
    bits.refill();
    entry = literal_table[bits.peek(kLiteralLengthBits)];
    if (distance > static_cast<uint32_t>(out - start)) {
      s.dropped = kBlockDroppedMatch;
      continue;
    }
    if (length > kFastMatch) {
      out = copy_match(out, distance, length, limit);
      continue;
    }
    const uint8_t* from = out - distance;
    uint8_t* const match_end = out + length;
    if (distance >= 16) {
      // Most matches are done by the first two steps, without a loop test.
      uint8_t v[16];
      __builtin_memcpy(v, from, 16);
      __builtin_memcpy(out, v, 16);
      __builtin_memcpy(v, from + 16, 16);
      __builtin_memcpy(out + 16, v, 16);
      out += 32;
      from += 32;
      while (out < match_end) {
        __builtin_memcpy(v, from, 16);
        __builtin_memcpy(out, v, 16);
        out += 16;
        from += 16;
      }
    } else if (distance >= 8) {
      do {
        uint64_t v;
        __builtin_memcpy(&v, from, 8);
        __builtin_memcpy(out, &v, 8);
        out += 8;
        from += 8;
      } while (out < match_end);
    } else if (distance == 1) {
      const uint64_t v = *from * 0x0101010101010101ull;
      do {
        __builtin_memcpy(out, &v, 8);
        out += 8;
      } while (out < match_end);
    } else {
      do *out++ = *from++;
      while (out < match_end);
    }
    out = match_end;
  }
  s.out = out;
  return end;
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
  // Its 8 bits move the cursor one byte on and leave the bit offset as it was.
  static_assert(format::kPayloadHeaderBits == 8);
  ++r.cursor;
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
  fill_symbol_entries(&work->entries, tables);

  TableSets sets = {work, storage, set_length, tables, set_count == 0 ? 1 : set_count};
  uint32_t last_distance = 0;
  uint32_t previous_distance = 0;
  uint8_t dropped = 0;

  uint8_t* const start = buffer;
  uint8_t* out = buffer + output_offset;
  uint8_t* const limit = out + size;
  const uint8_t* in_end = r.input_end;
  BitReader bits;
  bits.load(r);

  uint8_t end = kBlockComplete;
  rc = sets.next();
  while (rc == kResultOk) {
    if constexpr (kFastDecode) {
      if (limit - out > kFastOutputRoom && in_end - bits.in > kFastInputRoom) {
        DecodeState state = {bits, out, last_distance, previous_distance, dropped};
        const uint8_t fast_end = decode_fast(state, work, start, limit, in_end);
        bits = state.bits;
        out = state.out;
        last_distance = state.last_distance;
        previous_distance = state.previous_distance;
        dropped = state.dropped;
        if (fast_end != 0) {
          end = fast_end;
          break;
        }
      }
    }
    if (out >= limit) break;
    // A whole literal or match may begin before in_end: the input buffer holds the
    // look-ahead bytes behind it. `in` runs ahead of the consumed position by at most a
    // word.
    if (bits.in >= in_end && bits.consumed_at() >= in_end) {
      bits.store(r);
      rc = refill_input(false);
      if (rc == kResultNoMoreInput) {
        end = kBlockInputEnded;
        rc = kResultOk;
        break;
      }
      in_end = r.input_end;
      bits.load(r);
      continue;
    }

    // From here the bit buffer holds the whole literal/length symbol and its extra bits.
    bits.refill();
    int32_t entry = work->literal_primary[bits.peek(kLiteralLengthBits)];
    if (!kEntriesInTables || is_link(entry)) {
      if (is_link(entry)) {
        entry = walk_tree(static_cast<uint32_t>(bits.bits) >> kLiteralLengthBits, entry, work->tree,
                          kLiteralLengthBits);
        if (entry == kEmptySlot) goto invalid_code;
      }
      entry = literal_length_entry(entry_symbol(entry), entry_length(entry), tables);
    }
    if (entry < 0) {
      bits.consume(code_length_of(entry));
      if (special_symbol(entry) != format::kSymbolSwitchSet) {
        end = kBlockMeaninglessSymbol;
        break;
      }
      rc = sets.next();
      continue;
    }
    if (entry & kLiteralFlag) {
      // 64-bit hosts take further literals from the same refill while the table's width
      // of bits is loaded and they begin before in_end, as `in` does.
      do {
        bits.consume(code_length_of(entry));
        *out++ = static_cast<uint8_t>(entry >> kValueShift);
        if (!kEntriesInTables || out >= limit || bits.in >= in_end ||
            bits.count < kLiteralLengthBits)
          break;
        entry = work->literal_primary[bits.peek(kLiteralLengthBits)];
      } while (entry >= 0 && (entry & kLiteralFlag));
      continue;
    }
    {
      const uint32_t length = (uint32_t(entry) >> kValueShift) + bits.take_entry(entry);

      // The distance code and its extra bits. On 64-bit hosts the bits left after any
      // length symbol hold a distance code (a tree walk's 16 bits included); take_entry
      // refills when its extra bits are not all loaded.
      if (!BitReader::kWide) bits.refill();
      const uint32_t t = (entry >> kDistanceTableShift) & 3;
      entry = work->distance_primary[t][bits.peek(kDistanceBits)];
      if (!kEntriesInTables || is_link(entry)) {
        if (is_link(entry)) {
          entry = walk_tree(static_cast<uint32_t>(bits.bits) >> kDistanceBits, entry,
                            work->tree + 2 * format::kDistanceOffset[t], kDistanceBits);
          if (entry == kEmptySlot) goto invalid_code;
        }
        entry = distance_entry(entry_symbol(entry), entry_length(entry));
      }
      uint32_t distance;
      if (entry >= 0) {
        distance = (uint32_t(entry) >> kDistanceBaseShift) + bits.take_entry(entry);
        previous_distance = last_distance;
        last_distance = distance;
      } else {
        bits.consume(code_length_of(entry));
        const uint32_t symbol = special_symbol(entry);
        if (symbol == format::kDistanceRepeatLast) {
          distance = last_distance;
        } else if (symbol == format::kDistanceRepeatPrevious) {
          distance = previous_distance;
          previous_distance = last_distance;
          last_distance = distance;
        } else {
          distance = format::short_distance(symbol);
        }
        // A remembered distance that was never sent would copy stale buffer bytes.
        if (distance == 0) {
          end = kBlockDistanceNeverSent;
          break;
        }
      }
      if (distance > static_cast<uint32_t>(out - start)) {
        dropped = kBlockDroppedMatch;  // reaches before the buffer
        continue;
      }
      out = copy_match(out, distance, length, limit);
      continue;
    }
  invalid_code:
    end = kBlockInvalidCode;
    break;
  }

  mem_free(work);
  if (rc < 0) {
    bits.store(r);
    return rc;
  }
  r.block_end = static_cast<uint8_t>((rc > 0 ? uint8_t(kBlockNoSetLeft) : end) | dropped);
  // On to the next byte boundary.
  r.cursor = bits.in - (bits.count >> 3);
  r.bit_offset = 0;
  return static_cast<ResultCode>(out - (buffer + output_offset));
}

#include "codec/block_decoder.h"

#include "codec/archive_reader.h"
#include "codec/chunk_input.h"
#include "codec/code_tables.h"
#include "codec/format.h"
#include "installer/install_state.h"
#include "platform/fs.h"

namespace {

constexpr uint32_t kTreeEntries = 2 * format::kSetLengthThreeTables;  // 744

// The tables of one block; allocated together with its code lengths.
struct DecodeWork {
  int32_t literal_primary[1u << kLiteralLengthBits];
  int32_t distance_primary[3][1u << kDistanceBits];
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
  const uint32_t header = (load_le32(r.cursor) >> r.bit_offset) & 0xFF;
  r.bit_offset += 8;
  r.cursor += r.bit_offset >> 3;
  r.bit_offset &= 7;
  const uint32_t tables = header & 3;
  const uint32_t set_count = header >> 2;
  // No distance tables, or a third one that the fixed set does not define.
  if (tables == 0 || (tables == 3 && set_count == 0)) return kResultDamaged;
  const uint32_t set_length =
      tables == 3 ? format::kSetLengthThreeTables : format::kSetLengthTwoTables;
  const uint32_t lengths_size = set_count == 0 ? format::kSetLengthTwoTables : set_count * set_length;

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
  const uint8_t* literal_lengths = storage;
  const uint8_t* distance_lengths[3] = {storage, storage, storage};
  uint32_t last_distance = 0;
  uint32_t previous_distance = 0;

  uint8_t* const start = buffer;
  uint8_t* out = buffer + output_offset;
  uint8_t* const limit = out + size;

  // Cursor state in locals; stored around refills.
  const uint8_t* in = r.cursor;
  uint32_t bit_pos = r.bit_offset;
  const uint8_t* in_end = r.input_end;
  auto peek = [&]() { return load_le32(in) >> bit_pos; };
  auto consume = [&](uint32_t n) {
    bit_pos += n;
    in += bit_pos >> 3;
    bit_pos &= 7;
  };

  // Switches to the next table set: 0, 1 when none is left, or -25.
  auto switch_sets = [&]() -> ResultCode {
    if (install_state.cancel_requested) return kResultCancelled;
    if (sets_left == 0) return 1;
    --sets_left;
    const uint8_t* set = storage + sets_used * set_length;
    ++sets_used;
    build_set_tables(work, set, tables);
    literal_lengths = set;
    for (uint32_t t = 0; t < tables; ++t) distance_lengths[t] = set + format::kDistanceOffset[t];
    return kResultOk;
  };

  rc = switch_sets();
  while (rc == kResultOk) {
    if (out >= limit) break;
    if (in >= in_end) {
      r.cursor = in;
      r.bit_offset = bit_pos;
      rc = refill_input(false);
      if (rc == kResultNoMoreInput) {
        rc = kResultOk;
        break;
      }
      in = r.cursor;
      bit_pos = r.bit_offset;
      in_end = r.input_end;
      continue;
    }
    // From here one whole literal or match is read without further checks: the input
    // buffer always holds the look-ahead bytes behind input_end.
    const int32_t symbol = decode_symbol(peek(), work->literal_primary, work->tree, kLiteralLengthBits);
    if (symbol == kEmptySlot) break;
    consume(literal_lengths[symbol]);
    if (symbol < 256) {
      *out++ = static_cast<uint8_t>(symbol);
      continue;
    }
    if (symbol == static_cast<int32_t>(format::kSymbolSwitchSet)) {
      rc = switch_sets();
      continue;
    }

    uint32_t length;
    if (symbol <= 265) {
      length = static_cast<uint32_t>(symbol) - 255;
    } else if (symbol <= 285) {
      const uint32_t i = static_cast<uint32_t>(symbol) - 266;
      const uint32_t extra = format::kLengthExtra[i];
      length = format::kLengthBase[i] + (peek() & ((1u << extra) - 1));
      consume(extra);
    } else if (symbol == static_cast<int32_t>(format::kSymbolLongMatch)) {
      length = format::kLongMatchBase + (peek() & ((1u << format::kLongMatchExtraBits) - 1));
      consume(format::kLongMatchExtraBits);
    } else {
      break;  // symbol 287 has no meaning: the block ends here
    }

    const uint32_t t = format::distance_table_for(length, tables);
    const int32_t dsym = decode_symbol(peek(), work->distance_primary[t],
                                       work->tree + 2 * format::kDistanceOffset[t], kDistanceBits);
    if (dsym == kEmptySlot) break;
    consume(distance_lengths[t][dsym]);
    uint32_t distance;
    if (dsym == 0) {
      distance = last_distance;
    } else if (dsym == 1) {
      distance = previous_distance;
      previous_distance = last_distance;
      last_distance = distance;
    } else if (dsym < static_cast<int32_t>(format::kFirstCodedDistance)) {
      distance = static_cast<uint32_t>(dsym) - 1;
    } else {
      const uint32_t extra = format::distance_extra_bits(static_cast<uint32_t>(dsym));
      distance = format::distance_base(static_cast<uint32_t>(dsym)) + (peek() & ((1u << extra) - 1));
      consume(extra);
      previous_distance = last_distance;
      last_distance = distance;
    }
    // A remembered distance that was never sent would copy stale buffer bytes.
    if (distance == 0) break;
    if (distance > static_cast<uint32_t>(out - start)) continue;  // reaches before the buffer

    uint32_t n = static_cast<uint32_t>(limit - out);
    if (n > length) n = length;
    const uint8_t* from = out - distance;
    if (distance >= 8) {
      // Eight bytes at a time never read a byte this copy has yet to write.
      while (n >= 8) {
        uint64_t v;
        __builtin_memcpy(&v, from, 8);
        __builtin_memcpy(out, &v, 8);
        out += 8;
        from += 8;
        n -= 8;
      }
      while (n-- != 0) *out++ = *from++;
    } else if (distance == 1) {
      const uint8_t b = *from;
      while (n-- != 0) *out++ = b;
    } else {
      while (n-- != 0) *out++ = *from++;
    }
  }

  mem_free(work);
  if (rc < 0) {
    r.cursor = in;
    r.bit_offset = bit_pos;
    return rc;
  }
  if (bit_pos != 0) ++in;
  r.cursor = in;
  r.bit_offset = 0;
  return static_cast<ResultCode>(out - (buffer + output_offset));
}

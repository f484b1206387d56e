#include "model_reader.h"

#include <algorithm>
#include <stdexcept>

#include "codec/format.h"
#include "support/test_archive.h"

namespace model {
namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
void require(bool ok, const std::string& what) {
  if (!ok) throw Failure(what);
}

uint32_t get16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class Bits {
 public:
  Bits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t get(uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      require(pos_ / 8 < size_, "compressed data run out");
      v |= ((data_[pos_ / 8] >> (pos_ % 8)) & 1u) << i;
      ++pos_;
    }
    return v;
  }
  void align() { pos_ = (pos_ + 7) / 8 * 8; }
  size_t byte_position() const { return pos_ / 8; }
  void seek_bit(size_t bit) { pos_ = bit; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Canonical code decoding, one bit at a time.
class Code {
 public:
  Code(const uint8_t* lengths, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) ++count_[lengths[i]];
    count_[0] = 0;
    int64_t left = 1;
    for (int len = 1; len <= 16; ++len) {
      left = left * 2 - count_[len];
      require(left >= 0, "over-subscribed code");
    }
    uint32_t offs[18] = {};
    for (int len = 1; len <= 16; ++len) offs[len + 1] = offs[len] + count_[len];
    symbols_.resize(n);
    for (uint32_t i = 0; i < n; ++i)
      if (lengths[i]) symbols_[offs[lengths[i]]++] = static_cast<uint16_t>(i);
  }
  uint32_t decode(Bits& bits) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 16; ++len) {
      code |= static_cast<int>(bits.get(1));
      const int count = static_cast<int>(count_[len]);
      if (code - count < first) return symbols_[index + (code - first)];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    throw Failure("no code matches");
  }

 private:
  uint32_t count_[17] = {};
  std::vector<uint16_t> symbols_;
};

std::vector<uint8_t> read_code_lengths(Bits& bits, uint32_t total, uint32_t set_length) {
  uint8_t cl[21] = {};
  uint32_t pos = 0, w = 1;
  while (pos < 21) {
    const uint32_t v = bits.get(5);
    if (v >= 2) {
      cl[pos++] = static_cast<uint8_t>(v - 1);
      w = 1;
    } else {
      pos += w << v;
      w *= 2;
    }
  }
  for (uint8_t l : cl) require(l <= 16, "code-length alphabet length above 16");
  const Code code(cl, 21);
  std::vector<uint8_t> out(total, 0);
  uint32_t r = 0, z = 1, q = 1;
  auto reference = [&](uint32_t i) {
    return (i >= set_length && out[i - set_length] != 0) ? out[i - set_length] : r;
  };
  for (uint32_t i = 0; i < total;) {
    const uint32_t s = code.decode(bits);
    if (s <= 16) {
      uint32_t v = reference(i) + s;
      if (v > 16) v -= 17;
      out[i++] = static_cast<uint8_t>(v);
      r = v;
      z = q = 1;
    } else if (s <= 18) {
      for (uint32_t k = z << (s - 17); k > 0 && i < total; --k) out[i++] = 0;
      z *= 2;
      q = 1;
    } else {
      for (uint32_t k = q << (s - 19); k > 0 && i < total; --k) {
        out[i] = static_cast<uint8_t>(reference(i));
        r = out[i++];
      }
      q *= 2;
      z = 1;
    }
  }
  for (uint8_t l : out) require(l <= 16, "code length above 16");
  return out;
}

std::vector<uint8_t> fixed_set() {
  std::vector<uint8_t> l(344);
  for (uint32_t i = 0; i < 344; ++i)
    l[i] = i < 244    ? 8
           : i < 256  ? 9
           : i == 256 ? 0
           : i < 261  ? 9
           : i < 266  ? 10
           : i < 288  ? 11
           : i < 292  ? 4
           : i < 316  ? 5
           : i < 330  ? 0
           : i < 332  ? 3
                      : 4;
  return l;
}

// Decodes one compressed block payload, appending `size` bytes to out; matches may reach
// only `history` bytes before the block.
void decode_payload(Bits& bits, std::vector<uint8_t>& out, uint32_t size, uint32_t history,
                    BlockInfo* info) {
  const uint32_t tables = bits.get(2);
  const uint32_t sets = bits.get(6);
  require(tables != 0, "no distance tables");
  info->tables = tables;
  info->sets = sets;
  require(sets != 0 || tables <= 2, "fixed set with three distance tables");
  require(tables != 1, "one distance table");
  const uint32_t set_length = tables == 3 ? 372 : 344;
  const std::vector<uint8_t> lengths =
      sets ? read_code_lengths(bits, sets * set_length, set_length) : fixed_set();
  const size_t block_begin = out.size();
  const size_t limit = block_begin + size;
  uint32_t last = 0, previous = 0;
  for (uint32_t set = 0; set < std::max<uint32_t>(sets, 1) && out.size() < limit; ++set) {
    const uint8_t* l = lengths.data() + set * set_length;
    const Code literal(l, 288);
    std::vector<Code> dist;
    for (uint32_t t = 0; t < tables; ++t)
      dist.emplace_back(l + format::kDistanceOffset[t], format::kDistanceSymbols[t]);
    while (out.size() < limit) {
      const uint32_t s = literal.decode(bits);
      if (s < 256) {
        out.push_back(static_cast<uint8_t>(s));
        continue;
      }
      if (s == 256) break;
      require(s != 287, "symbol 287");
      uint32_t length;
      if (s <= 265)
        length = s - 255;
      else if (s == 286)
        length = 259 + bits.get(15);
      else
        length = format::kLengthBase[s - 266] + bits.get(format::kLengthExtra[s - 266]);
      const uint32_t table = format::distance_table_for(length, tables);
      const uint32_t m = dist[table].decode(bits);
      uint32_t distance;
      if (m == 0) {
        distance = last;
      } else if (m == 1) {
        distance = previous;
        std::swap(last, previous);
      } else if (m <= 5) {
        distance = m - 1;
      } else {
        distance = format::distance_base(m) + bits.get(format::distance_extra_bits(m));
        previous = last;
        last = distance;
      }
      require(distance != 0, "remembered distance used before any was sent");
      require(distance <= out.size() - block_begin + history,
              "match reaches before the kept window");
      require(out.size() + length <= limit, "match runs past the block's end");
      for (uint32_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
    }
  }
  require(out.size() == limit, "block came out short");
  bits.align();
}

// One run restored as the installer restores it: after every call opcode whose four
// operand bytes lie inside the run, the stored operand becomes the displacement again.
// The operand's file offset `at` maps [0, size) back by `at`, and the mirrored range
// [-at, -1] back to [size - at, size).
void restore_call_run(uint8_t* run, uint32_t length, uint32_t run_offset, uint32_t size) {
  for (uint32_t p = 0; p + 4 < length; ++p) {
    if (run[p] != format::kCallOpcode) continue;
    const uint32_t at = run_offset + p + 1;
    const uint32_t stored = get32(run + p + 1);
    const int64_t signed_stored = static_cast<int32_t>(stored);
    uint32_t operand = stored;
    if (stored < size) {
      operand = stored - at;
    } else if (signed_stored < 0 && signed_stored >= -static_cast<int64_t>(at)) {
      operand = static_cast<uint32_t>(static_cast<int64_t>(size) - at - 1 - signed_stored);
    }
    for (int i = 0; i < 4; ++i) run[p + 1 + i] = static_cast<uint8_t>(operand >> (8 * i));
    p += 4;
  }
}

// Runs of a file's contents: cut where the contents begin and at every block start.
void restore_calls(Entry& e, uint32_t contents_at, const std::vector<uint32_t>& starts) {
  uint32_t begin = 0;
  while (begin < e.size) {
    uint32_t end = e.size;
    for (uint32_t s : starts)
      if (s > contents_at + begin && s < contents_at + e.size) {
        end = s - contents_at;
        break;
      }
    restore_call_run(e.contents.data() + begin, end - begin, begin, e.size);
    begin = end;
  }
}

void read(const std::vector<uint8_t>& bytes, Archive* a) {
  require(bytes.size() >= 42, "shorter than the header");
  require(std::equal(bytes.begin(), bytes.begin() + 4, format::kHeaderMagic), "magic");
  const uint32_t directory_offset = get32(&bytes[4]);
  a->entry_count = get32(&bytes[8]);
  require(get32(&bytes[20]) == bytes.size(), "archive length field");
  require(get32(&bytes[24]) == directory_offset - 42, "data length field");
  require(get16(&bytes[40]) != 0, "header trailer");
  // Directory.
  std::vector<uint8_t> dir;
  size_t at = directory_offset;
  while (at < bytes.size()) {
    require(bytes.size() - at >= 6 + 7, "truncated directory block");
    require(std::equal(bytes.begin() + static_cast<long>(at),
                       bytes.begin() + static_cast<long>(at) + 6, format::kDirectorySignature),
            "directory signature");
    at += 6;
    const size_t avail = std::min<size_t>(format::kDirectoryChunkMax, bytes.size() - at);
    Bits bits(&bytes[at], avail);
    BlockInfo info{};
    info.type = bits.get(4);
    bits.get(1);
    info.size = bits.get(20);
    info.chunk_length = bits.get(20);
    info.selector = bits.get(5);
    require(info.size <= format::kEntryStagingSize,
            "directory block decodes to more than 8,192 bytes");
    std::vector<uint8_t> block;
    if (info.type == 0) {
      require(avail >= 7 + info.size, "stored directory block beyond what is read in one go");
      block.assign(&bytes[at + 7], &bytes[at + 7] + info.size);
      bits.seek_bit((7 + info.size) * 8);
    } else {
      require(info.type == 1, "directory block type");
      decode_payload(bits, block, info.size, 0, &info);
    }
    require(info.chunk_length == bits.byte_position(), "directory chunk length field");
    at += bits.byte_position();
    a->directory_blocks.push_back(info);
    // Whole entries only.
    size_t p = 0;
    while (p < block.size()) {
      require(block.size() - p >= 38, "entry split across directory blocks");
      const uint8_t* r = &block[p];
      Entry e;
      require(get32(r) == format::kEntryReservedValue, "entry reserved value");
      e.stream_offset = get32(r + 4);
      e.attributes = static_cast<uint16_t>(get16(r + 8));
      e.flags = r[11];
      e.stream_position = get32(r + 12);
      e.size = get32(r + 16);
      e.crc = get32(r + 20);
      const uint32_t name_length = get16(r + 26);
      e.creation_time = static_cast<uint16_t>(get16(r + 28));
      e.creation_date = static_cast<uint16_t>(get16(r + 30));
      e.write_time = static_cast<uint16_t>(get16(r + 32));
      e.write_date = static_cast<uint16_t>(get16(r + 34));
      require(get16(r + 36) != 0, "entry trailer");
      p += 38;
      require(block.size() - p >= name_length + r[10] + get16(r + 24), "name split across blocks");
      e.name.assign(reinterpret_cast<const char*>(&block[p]), name_length);
      p += name_length + r[10] + get16(r + 24);
      a->entries.push_back(e);
    }
  }
  require(a->entries.size() == a->entry_count, "entry count");

  // Streams (the packer writes one; decode each distinct one once).
  std::vector<uint32_t> done;
  for (const Entry& first : a->entries) {
    if (first.flags & format::kFlagFolder) continue;
    if (std::find(done.begin(), done.end(), first.stream_offset) != done.end()) continue;
    done.push_back(first.stream_offset);
    size_t pos = first.stream_offset + 6;
    require(std::equal(bytes.begin() + first.stream_offset, bytes.begin() + first.stream_offset + 6,
                       format::kStreamLead),
            "stream lead bytes");
    std::vector<uint8_t> stream;
    std::vector<uint32_t> starts;
    uint32_t held = 0;
    for (bool last = false; !last;) {
      require(pos < directory_offset, "stream runs into the directory");
      Bits bits(&bytes[pos], directory_offset - pos);
      BlockInfo info{};
      info.type = bits.get(4);
      last = bits.get(1) != 0;
      info.size = bits.get(20);
      info.chunk_length = bits.get(20);
      info.selector = bits.get(5);
      starts.push_back(static_cast<uint32_t>(stream.size()));
      if (info.type == 0) {
        require(directory_offset - pos >= 7 + info.size, "stored block truncated");
        stream.insert(stream.end(), &bytes[pos + 7], &bytes[pos + 7] + info.size);
        bits.seek_bit((7 + info.size) * 8);
        held += info.size;
      } else {
        require(info.type == 1, "block type");
        const uint32_t history =
            starts.size() == 1 ? 0 : std::min(held, format::window_size(info.selector));
        decode_payload(bits, stream, info.size, history, &info);
        held = history + info.size;
      }
      require(info.chunk_length == bits.byte_position(), "chunk length field");
      pos += bits.byte_position();
      a->stream_blocks.push_back(info);
    }
    for (Entry& e : a->entries) {
      if ((e.flags & format::kFlagFolder) || e.stream_offset != first.stream_offset) continue;
      require(e.stream_position + 11ull <= stream.size(), "member header outside the stream");
      const uint8_t* member = &stream[e.stream_position];
      const uint32_t name_length = get16(member + 4);
      require(get32(member) == e.size, "member length field");
      require(member[10] == e.flags, "member flags field");
      const uint32_t contents_at = e.stream_position + 11 + name_length;
      require(contents_at + static_cast<uint64_t>(e.size) + 4 <= stream.size(),
              "member outside the stream");
      e.contents.assign(&stream[contents_at], &stream[contents_at] + e.size);
      if (e.flags & format::kFlagCall32) restore_calls(e, contents_at, starts);
      require(test_crc32(std::string(e.contents.begin(), e.contents.end())) == e.crc,
              "CRC of " + e.name);
      require(get32(&stream[contents_at + e.size]) == e.crc, "member CRC of " + e.name);
    }
  }
}

}  // namespace

std::string read_archive(const std::vector<uint8_t>& bytes, Archive* out) {
  try {
    read(bytes, out);
  } catch (const Failure& f) {
    return f.what();
  }
  return "";
}

}  // namespace model

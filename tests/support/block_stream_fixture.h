// Common ground of the tests that read members out of a solid stream: members laid out
// one after another, an archive of chunks behind a short stub, and extraction into a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/result.h"
#include "support/bit_writer.h"
#include "support/reader_fixture.h"

struct Member {
  std::string name;
  Bytes contents;
  uint32_t position = 0;  // in the decompressed stream
};

class BlockStreamTest : public ReaderTest {
 protected:
  // Lays the members out one after another in a decompressed stream.
  Bytes layout(std::vector<Member>& members);
  // An archive: `pad` bytes of stub, then the stream's 6 lead bytes and its chunks.
  void open_stream(const std::vector<Bytes>& chunks, uint32_t pad = 5);
  // Extracts into a file; returns the result, leaves the bytes in out_.
  ResultCode extract(const Member& m, uint8_t flags = 0, uint32_t stream_offset = 0);
  // Cuts data into compressed (fixed-set literal) chunks of `step` bytes.
  static std::vector<Bytes> literal_chunks(const Bytes& data, size_t step, unsigned selector = 0);
  static Bytes pattern(size_t n, uint32_t seed);

  Bytes out_;
};

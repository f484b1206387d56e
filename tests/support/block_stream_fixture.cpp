#include "support/block_stream_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "codec/archive_reader.h"
#include "codec/block_stream.h"

Bytes BlockStreamTest::layout(std::vector<Member>& members) {
  Bytes stream;
  for (auto& m : members) {
    m.position = uint32_t(stream.size());
    append(stream, member_bytes(m.name, m.contents));
  }
  return stream;
}

void BlockStreamTest::open_stream(const std::vector<Bytes>& chunks, uint32_t pad) {
  Bytes file(pad, 0x77);
  append(file, text_bytes(std::string("ZPXLH") + '\0'));
  for (const auto& c : chunks) append(file, c);
  open_archive(file);
  archive_reader.archive_base = pad;
}

ResultCode BlockStreamTest::extract(const Member& m, uint8_t flags, uint32_t stream_offset) {
  const std::string path = dir_ + "/out";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  const ResultCode rc =
      extract_stream(fd, stream_offset, m.position, uint32_t(m.contents.size()), flags);
  close(fd);
  out_ = read_file(path);
  return rc;
}

std::vector<Bytes> BlockStreamTest::literal_chunks(const Bytes& data, size_t step,
                                                   unsigned selector) {
  std::vector<Bytes> chunks;
  for (size_t at = 0; at < data.size(); at += step) {
    const Bytes part(data.begin() + long(at),
                     data.begin() + long(std::min(data.size(), at + step)));
    chunks.push_back(literal_chunk(part, at + step >= data.size(), selector));
  }
  return chunks;
}

Bytes BlockStreamTest::pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 131 + seed * 17 + (i >> 7)) ^ (i >> 3));
  return b;
}

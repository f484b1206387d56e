#include "codec/output_filter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "support/reader_fixture.h"

namespace {

class OutputFilterTest : public ReaderTest {
 protected:
  // Filters one run into a file; returns the result and leaves the file's bytes in out_.
  ResultCode filter(uint32_t width, const Bytes& run, uint32_t run_offset, uint32_t file_size) {
    archive_reader.filter_width = width;
    archive_reader.running_crc = 0xFFFFFFFFu;
    const std::string path = dir_ + "/f";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const ResultCode rc =
        filter_output_run(fd, run.data(), uint32_t(run.size()), run_offset, file_size);
    close(fd);
    out_ = read_file(path);
    return rc;
  }
  Bytes out_;
};

TEST_F(OutputFilterTest, ThirtyTwoBitOperands) {
  // off = 100, file size 1000.
  struct Case {
    int32_t stored, restored;
  } cases[] = {{0, -100}, {999, 899}, {1000, 1000}, {-1, 900}, {-100, 999}, {-101, -101}};
  for (const auto& c : cases) {
    Bytes run(100, 0x11);
    run[99] = 0xE8;
    for (int i = 0; i < 4; ++i) run.push_back(uint8_t(uint32_t(c.stored) >> (8 * i)));
    ASSERT_EQ(filter(4, run, 0, 1000), kResultOk);
    ASSERT_EQ(out_.size(), 104u);
    int32_t got = 0;
    for (int i = 0; i < 4; ++i) got |= int32_t(uint32_t(out_[100 + i]) << (8 * i));
    EXPECT_EQ(got, c.restored) << c.stored;
    EXPECT_EQ(archive_reader.running_crc, ~reference_crc(out_)) << c.stored;
  }
}

TEST_F(OutputFilterTest, SixteenBitOperandsAndRunOffset) {
  // The operand's file offset is run_offset + its index: 0x1233 + 1 = 0x1234.
  ASSERT_EQ(filter(2, {0xE8, 0x00, 0x10}, 0x1233, 0x10000), kResultOk);
  EXPECT_EQ(out_, (Bytes{0xE8, 0xCC, 0xFD}));
}

TEST_F(OutputFilterTest, OpcodesNearTheRunEndAndBackToBack) {
  struct Case {
    const char* what;
    uint32_t width;
    Bytes run, expected;
  } cases[] = {
      {"run no longer than W is its tail", 4, {0xE8, 1, 2, 3}, {0xE8, 1, 2, 3}},
      {"E8 as the (W+1)-th byte from the end is converted",
       2,
       {9, 0xE8, 0x05, 0x00},
       {9, 0xE8, 0x03, 0x00}},
      {"E8 among the last W bytes is not", 2, {9, 9, 0xE8, 0x05}, {9, 9, 0xE8, 0x05}},
      // The second E8 is the first byte of the operand: 0xE8E8 - 2 = 0xE8E6.
      {"E8 E8: the second is operand", 2, {7, 0xE8, 0xE8, 0xE8, 0x00}, {7, 0xE8, 0xE6, 0xE8, 0x00}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(filter(c.width, c.run, 0, 1000), kResultOk) << c.what;
    EXPECT_EQ(out_, c.expected) << c.what;
  }
}

TEST_F(OutputFilterTest, LongRunsEqualOnePassAndCancelStillCounts) {
  // A run of 50,000 bytes full of opcodes: several batches, the result independent of
  // where they end; checked against a straightforward restoration.
  std::mt19937 rng(11);
  Bytes run(50000);
  for (auto& b : run) b = (rng() % 5 == 0) ? 0xE8 : uint8_t(rng());
  const uint32_t file_size = 60000, run_offset = 777;
  Bytes expected;
  size_t p = 0;
  while (p + 4 < run.size()) {
    const uint8_t b = run[p++];
    expected.push_back(b);
    if (b != 0xE8) continue;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(run[p + i]) << (8 * i);
    const uint32_t off = run_offset + uint32_t(p);
    const int64_t sv = int32_t(v);
    uint32_t r = v;
    if (v < file_size)
      r = v - off;
    else if (sv < 0 && sv >= -int64_t(off))
      r = file_size - off - 1 - v;
    for (int i = 0; i < 4; ++i) expected.push_back(uint8_t(r >> (8 * i)));
    p += 4;
  }
  expected.insert(expected.end(), run.begin() + long(p), run.end());
  ASSERT_EQ(filter(4, run, run_offset, file_size), kResultOk);
  EXPECT_EQ(out_, expected);
  EXPECT_EQ(archive_reader.running_crc, ~reference_crc(expected));

  // kNoFile restores and counts the same way.
  archive_reader.running_crc = 0xFFFFFFFFu;
  ASSERT_EQ(filter_output_run(kNoFile, run.data(), uint32_t(run.size()), run_offset, file_size),
            kResultOk);
  EXPECT_EQ(archive_reader.running_crc, ~reference_crc(expected));

  // Cancel: the first batch is counted into the CRC but nothing is written.
  install_state.cancel_requested = 1;
  ASSERT_EQ(filter(4, run, run_offset, file_size), kResultCancelled);
  EXPECT_TRUE(out_.empty());
  EXPECT_NE(archive_reader.running_crc, 0xFFFFFFFFu);
}

TEST_F(OutputFilterTest, WriteFailure) {
  const std::string path = write_file("ro", {});
  const int fd = open(path.c_str(), O_RDONLY);
  archive_reader.filter_width = 4;
  const Bytes run(100, 0x90);
  EXPECT_EQ(filter_output_run(fd, run.data(), 100, 0, 100), kResultWriteFailed);
  EXPECT_EQ(filter_output_run(fd, run.data(), 3, 0, 100), kResultWriteFailed);  // tail only
  close(fd);
}

}  // namespace

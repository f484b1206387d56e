// How well the packer compresses: for each kind of data and level, the largest archive
// accepted. A parser that silently stops finding matches, or an entropy coder that stops
// adapting its tables, fails here while every round trip still passes.
#include <gtest/gtest.h>

#include "builder/archive_writer.h"
#include "model_reader.h"
#include "packing.h"
#include "test_data.h"

namespace {

std::vector<uint8_t> packed(const std::vector<uint8_t>& contents, int level) {
  return testdata::pack({testdata::file("data", contents)}, level, 0, 2);
}

TEST(Compression, EveryKindOfDataStaysWithinItsSize) {
  const std::vector<uint8_t> text = testdata::text(300000, 11);
  const std::vector<uint8_t> program = testdata::executable(300000, 12);
  const std::vector<uint8_t> noise = testdata::random_bytes(100000, 13);
  const std::vector<uint8_t> repeats = testdata::repetitive(400000);
  struct Case {
    const char* kind;
    const std::vector<uint8_t>* data;
    int level;
    size_t largest;  // archive bytes, header and directory included
  };
  // The sizes of the packer that introduced this test, and about 3% more; a parse of
  // literals alone needs about four bits a byte for the text and the program, several
  // times these sizes. The noise must come out stored.
  const Case cases[] = {
      {"text", &text, 1, 59500},        {"text", &text, 6, 46500},
      {"text", &text, 7, 45600},        {"text", &text, 9, 41600},
      {"program", &program, 1, 116800}, {"program", &program, 6, 107000},
      {"program", &program, 7, 102600}, {"program", &program, 9, 97900},
      {"noise", &noise, 1, 100200},     {"noise", &noise, 9, 100200},
      {"repeats", &repeats, 1, 1000},   {"repeats", &repeats, 9, 400},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = packed(*c.data, c.level);
    EXPECT_LE(bytes.size(), c.largest) << c.kind << " at level " << c.level;
    model::Archive archive;
    ASSERT_EQ(model::read_archive(bytes, &archive), "") << c.kind << " at level " << c.level;
    EXPECT_TRUE(archive.entries.at(0).contents == *c.data) << c.kind << " at level " << c.level;
  }
}

}  // namespace

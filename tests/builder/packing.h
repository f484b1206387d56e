// Entries and archives for the packer's tests, built in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "builder/archive_writer.h"

namespace testdata {

inline builder::SourceEntry file(const std::string& name, std::vector<uint8_t> contents) {
  builder::SourceEntry e;
  e.name = name;
  e.contents = std::move(contents);
  return e;
}

inline builder::SourceEntry folder(const std::string& name) {
  builder::SourceEntry e;
  e.name = name;
  e.folder = true;
  e.attributes = 0x10;
  return e;
}

// The archive of `entries`; a failure to build fails the test and gives no bytes.
inline std::vector<uint8_t> pack(std::vector<builder::SourceEntry> entries,
                                 const builder::PackOptions& options) {
  std::vector<uint8_t> bytes;
  builder::PackStats stats;
  std::string error;
  EXPECT_TRUE(builder::build_archive(entries, options, &bytes, &stats, &error)) << error;
  return bytes;
}

// threads 0: one per core.
inline std::vector<uint8_t> pack(std::vector<builder::SourceEntry> entries, int level,
                                 uint32_t block_size = 0, uint32_t threads = 0) {
  builder::PackOptions options;
  options.level = level;
  options.block_size = block_size;
  options.threads = threads;
  return pack(std::move(entries), options);
}

}  // namespace testdata

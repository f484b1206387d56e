// Lays out an archive: the 42-byte header, one solid stream holding every file's member
// in directory order, and the directory in blocks the installer reads in one go.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/format.h"

namespace builder {

// Longest entry name: the installer appends it to an install folder of at least "C:\"
// and keeps paths within 259 characters.
inline constexpr uint32_t kMaxNameLength = 256;
// Largest directory block the installer decodes in one go (stored form still fits).
inline constexpr uint32_t kMaxDirectoryBlock =
    format::kDirectoryChunkMax - format::kStoredDataOffset;

struct SourceEntry {
  std::string name;        // relative, backslash-separated, as stored (the Windows code page)
  std::string shown_name;  // the same as this system writes it (UTF-8), for messages
  bool folder = false;
  std::string path;               // where to read a file's contents; empty: use `contents`
  std::vector<uint8_t> contents;  // used when path is empty
  uint64_t size = 0;              // expected length when reading from path
  uint16_t attributes = 0x20;
  uint16_t creation_date = 0, creation_time = 0;
  uint16_t write_date = 0, write_time = 0;
};

// Most compression threads a pack may use.
inline constexpr uint32_t kMaxThreads = 64;

struct PackOptions {
  int level = 7;
  // Blocks compressed at the same time; 0: one per core. The output does not depend on it.
  uint32_t threads = 0;
  uint32_t block_size = 0;  // 0: the largest block
  bool call_transform = true;
  // Files of identical contents stored once, every entry of them naming the one member.
  bool dedupe = true;
  // Called with (bytes done, bytes in all) while the stream is compressed.
  std::function<void(uint64_t, uint64_t)> progress;
};

struct PackStats {
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
  uint32_t shared = 0;  // files whose contents another file's member holds
};

// Where an archive goes: its bytes in order, then, once the directory is known, the
// header at the archive's start written again. Both return false on a failed write.
struct ArchiveSink {
  std::function<bool(const uint8_t* data, size_t size)> write;
  std::function<bool(const uint8_t* header, size_t size)> rewrite_header;
};

// Writes the archive to the sink, reading each file as its turn comes: memory stays
// bounded by the level and the thread count, whatever the payload's size. On failure
// returns false with a message that names the file concerned and the reason (a failed
// sink gives "cannot write" and the caller knows the output's name).
bool write_archive(std::vector<SourceEntry>& entries, const PackOptions& options,
                   const ArchiveSink& sink, PackStats* stats, std::string* error);

// Builds the archive into *archive.
bool build_archive(std::vector<SourceEntry>& entries, const PackOptions& options,
                   std::vector<uint8_t>* archive, PackStats* stats, std::string* error);

}  // namespace builder

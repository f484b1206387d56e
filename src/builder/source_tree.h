// Collects the tree under a folder as archive entries: folders before the entries inside
// them, names sorted, times and attributes as the host keeps them.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "builder/archive_writer.h"

namespace builder {

struct ScanOptions {
  // Shell patterns: without a '/' matched against every name at any depth, with one
  // against the path below the root ("docs/*.html"). A matched folder is left out whole.
  std::vector<std::string> excludes;
  // Files left out wherever they are met, as (device, inode): the output and its
  // temporary file when they lie inside the tree.
  std::vector<std::pair<dev_t, ino_t>> skip;
  // The Windows ANSI code page the names are written in (from this system's UTF-8); 0
  // keeps the bytes as they are.
  uint32_t code_page = 1252;
  // With reproducible set, every time is at most latest_time and made a DOS time as UTC,
  // whatever the time zone (SOURCE_DATE_EPOCH).
  bool reproducible = false;
  int64_t latest_time = 0;
};

// What the scan passed over, one line each ("path: reason"): FIFOs, sockets, devices,
// broken symbolic links, and links that lead back into a folder they lie in.
struct ScanReport {
  std::vector<std::string> skipped;
  uint32_t excluded = 0;
};

// Symbolic links to files and folders are followed. On failure returns false with the
// path concerned and the reason in *error: an unreadable file or folder, a name the
// installer cannot use or Windows cannot create, a name the code page cannot write, two
// names of one folder that differ only in case.
bool scan_tree(const std::string& root, const ScanOptions& options,
               std::vector<SourceEntry>* entries, ScanReport* report, std::string* error);

// The same without options, and strict: anything the scan would pass over is an error.
bool scan_tree(const std::string& root, std::vector<SourceEntry>* entries, std::string* error);

// True when a shell pattern of ScanOptions::excludes matches the relative path
// ("sub/a.txt", slash-separated).
bool path_excluded(const std::string& pattern, const std::string& relative);

}  // namespace builder

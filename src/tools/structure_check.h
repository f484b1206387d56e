// What our packer writes and nothing checks while installing: the directory and the
// entry count carry no checksum, so a changed bit there could rename or drop files.
// zpx test collects what its walk sees and tells every mismatch.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/archive_source.h"

class StructureCheck {
 public:
  // Holds the archive header against the file.
  explicit StructureCheck(const Source& source);
  void entry(const EntryRecord& entry, const std::string& name);
  // After the last entry the header counts: nothing may follow it in the directory.
  void directory_end();
  // Prints each mismatch; true when there was none.
  bool report() const;
  size_t problems() const { return problems_.size(); }

 private:
  void problem(const std::string& text) { problems_.push_back(text); }

  const Source& source_;
  std::set<std::string> names_;
  std::vector<std::string> problems_;
};

// The entries a list of names and shell patterns chooses for zpx extract.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "tools/archive_source.h"

// Those matched, everything in a matched folder, and the folders that lead to them.
// Names compare with '/' for '\'.
class EntryChoice {
 public:
  explicit EntryChoice(const std::vector<std::string>& patterns);

  // Decides for every entry; the names chosen are kept.
  void choose(const std::vector<ListedEntry>& entries);
  bool chosen(const std::string& name) const { return chosen_.count(name) != 0; }
  // The patterns that matched nothing.
  std::vector<std::string> unmatched() const;

 private:
  std::vector<std::string> patterns_;
  std::vector<bool> matched_;
  std::unordered_set<std::string> chosen_;
};

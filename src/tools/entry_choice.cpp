#include "tools/entry_choice.h"

#include <fnmatch.h>

#include <algorithm>

EntryChoice::EntryChoice(const std::vector<std::string>& patterns) {
  for (std::string p : patterns) {
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.size() > 2 && p.compare(0, 2, "./") == 0) p.erase(0, 2);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    patterns_.push_back(p);
  }
  matched_.assign(patterns_.size(), false);
}

void EntryChoice::choose(const std::vector<ListedEntry>& entries) {
  std::vector<std::string> folders;  // matched folders, '/' form
  for (const ListedEntry& e : entries) {
    // Names as the user reads them (list shows them so), compared in UTF-8.
    std::string name = e.utf8_name;
    std::replace(name.begin(), name.end(), '\\', '/');
    bool take = false;
    for (const std::string& folder : folders) {
      if (name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
          name[folder.size()] == '/') {
        take = true;
      }
    }
    for (size_t i = 0; i < patterns_.size(); ++i) {
      const std::string& p = patterns_[i];
      const bool under =
          name.size() > p.size() && name.compare(0, p.size(), p) == 0 && name[p.size()] == '/';
      if (fnmatch(p.c_str(), name.c_str(), 0) == 0 || under) {
        matched_[i] = true;
        take = true;
        if (!under && (e.record.flags & format::kFlagFolder)) folders.push_back(name);
      }
    }
    if (!take) continue;
    chosen_.insert(e.name);
    // The folders above it, so that its folder exists before it is written.
    for (size_t at = e.name.find('\\'); at != std::string::npos; at = e.name.find('\\', at + 1))
      chosen_.insert(e.name.substr(0, at));
  }
}

std::vector<std::string> EntryChoice::unmatched() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (!matched_[i]) out.push_back(patterns_[i]);
  }
  return out;
}

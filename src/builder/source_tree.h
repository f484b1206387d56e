// Collects the tree under a folder as archive entries: folders before the entries inside
// them, names sorted, times and attributes as the host keeps them.
#pragma once

#include <string>
#include <vector>

#include "builder/archive_writer.h"

namespace builder {

// On failure returns false with the path concerned and the reason in *error.
bool scan_tree(const std::string& root, std::vector<SourceEntry>* entries, std::string* error);

}  // namespace builder

// Text files of the POSIX system services: the registry's stores and the profile files.
#pragma once

#include <string>
#include <vector>

// ASCII letters compared without regard to case, as Windows compares keys and names.
bool equal_nocase(const std::string& a, const std::string& b);
// Creates the folder and every missing folder above it; true when it exists afterwards.
bool make_folders(const std::string& path);
// The lines of a text file; none when it cannot be read.
std::vector<std::string> read_lines(const std::string& path);

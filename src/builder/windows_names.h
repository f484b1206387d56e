// What Windows makes of a file name: the names it cannot create or would read as
// something else, and its comparison without case.
#pragma once

#include <string>

namespace builder {

// Why Windows cannot create a file or folder of this name (one component, UTF-8) or would
// read it as something else: the characters < > : " | ? * \ and control characters, a
// trailing dot or space (Windows drops them), a reserved device name (CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9, with any extension, or before a space). Empty when it can.
std::string windows_name_problem(const std::string& name);

// The name with every letter in upper case, as Windows compares names: two names of one
// folder with the same folded form name the same file there.
std::string folded_name(const std::string& name);

}  // namespace builder

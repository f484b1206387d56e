// The zpx commands. Each takes the arguments that follow the command word and returns
// the process's exit status: 0 when nothing failed, 1 when an entry failed or the file
// is damaged, 2 for a usage error.
#pragma once

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// zpx list FILE: names, sizes, times, attributes and flags of every entry.
int command_list(int argc, char** argv);
// zpx test FILE: decodes every file and checks its CRC-32, writing nothing.
int command_test(int argc, char** argv);
// zpx extract FILE [-d DIR] [--overwrite]: the installer's extraction, without asking.
int command_extract(int argc, char** argv);

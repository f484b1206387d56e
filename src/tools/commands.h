// The zpx commands, one function each, called with the parsed command line. Each returns
// the process exit status (tools/cli.h).
#pragma once

#include "tools/cli.h"

int zpx_build(const CommandDef& cmd, const CommandLine& line);
int zpx_wrap(const CommandDef& cmd, const CommandLine& line);
int zpx_list(const CommandDef& cmd, const CommandLine& line);
int zpx_test(const CommandDef& cmd, const CommandLine& line);
int zpx_extract(const CommandDef& cmd, const CommandLine& line);

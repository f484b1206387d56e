// The zpx commands, one function each, called with the parsed command line. Each returns
// the process exit status (tools/cli.h).
#pragma once

#include "tools/cli.h"

int zpx_build(const CommandSpec& spec, const CommandLine& line);
int zpx_wrap(const CommandSpec& spec, const CommandLine& line);
int zpx_list(const CommandSpec& spec, const CommandLine& line);
int zpx_test(const CommandSpec& spec, const CommandLine& line);
int zpx_extract(const CommandSpec& spec, const CommandLine& line);

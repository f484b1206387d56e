// The zpx commands, one function each, called with the arguments after the command name
// (argv[0] is the command name itself). Each returns the process exit code.
#pragma once

int zpx_build(int argc, char** argv);
int zpx_wrap(int argc, char** argv);
int zpx_list(int argc, char** argv);
int zpx_test(int argc, char** argv);
int zpx_extract(int argc, char** argv);

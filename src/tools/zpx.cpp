// zpx: builds archives and installers, and lists, tests and extracts them.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* usage;
};

const Command kCommands[] = {
    {"build", zpx_build, "build -o OUT [--stub STUB] [-1 .. -9] [-T N] DIR"},
    {"wrap", zpx_wrap, "wrap --stub STUB -o OUT ARCHIVE"},
    {"list", zpx_list, "list FILE"},
    {"test", zpx_test, "test FILE"},
    {"extract", zpx_extract, "extract FILE [-d DIR] [--overwrite]"},
};

void usage(FILE* to) {
  std::fprintf(to, "usage:\n");
  for (const Command& c : kCommands) std::fprintf(to, "  zpx %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    usage(stdout);
    return 0;
  }
  for (const Command& c : kCommands)
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "zpx: unknown command \"%s\"\n", argv[1]);
  usage(stderr);
  return 2;
}

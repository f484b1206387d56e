// zpx: builds archives and installers, and lists, tests and extracts them.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/man_page.h"
#include "tools/output_file.h"
#include "ui/batch/output.h"

namespace {

constexpr char kVersion[] = ZPX_VERSION;

const std::vector<CommandDef> kCommands = {
    {"build",
     "build [-f] [--stub STUB] [--codepage CP] [--exclude PATTERN]... [-0 .. -9] [-T N] "
     "[--no-dedupe] -o OUT DIR",
     "Packs the tree under DIR into an archive, or with --stub into an installer.",
     "Symbolic links to files and folders are followed; a link to a folder already\n"
     "packed (a loop among them) is skipped with a warning, as are FIFOs, sockets,\n"
     "devices and broken links. OUT and its temporary file are never packed. OUT is written to a\n"
     "temporary file beside it and renamed into place, so a failed run leaves nothing.\n"
     "An existing OUT is replaced only with -f; a symbolic link at OUT is then replaced\n"
     "itself, never what it points to. -o - writes to standard output.\n"
     "--exclude takes a shell pattern: without a '/' it is matched against the name of\n"
     "every file and folder at any depth (*.tmp, .git), with one against the path\n"
     "below DIR (docs/*.html). An excluded folder is left out with all it holds.\n"
     "STUB is a path, or one of the stubs installed with zpx: windows (the 32-bit\n"
     "Windows installer), windows-x64 or posix (for this system). A Windows installer's\n"
     "OUT should end in .exe, a POSIX one's not: zpx warns otherwise.\n"
     "Names are stored in the Windows code page CP, the one the target Windows uses for\n"
     "programs without Unicode (1252, Western, by default). A name that code page cannot\n"
     "write stops the build, as do names Windows cannot create: the characters\n"
     "< > : \" | ? * \\ and control characters, a trailing dot or space, the device names\n"
     "CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 (with any extension), and two names\n"
     "in one folder that differ only in case.\n"
     "With SOURCE_DATE_EPOCH set in the environment (seconds since 1970), no stored time\n"
     "is later than it and times are stored as UTC whatever TZ says, so the same content\n"
     "gives the same bytes; otherwise times are stored as this machine's local time.\n"
     "Files of identical contents are stored once (found by size, hash and a byte\n"
     "comparison); every entry keeps its own name, times and attributes.",
     {
         {"-o", "--output", "OUT", "the archive or installer to write (- for standard output)"},
         {"-f", "--force", nullptr, "replace an existing OUT"},
         {nullptr, "--stub", "STUB",
          "put the archive behind this installer stub (a path, windows, windows-x64, posix)"},
         {nullptr, "--codepage", "CP", "Windows code page of the stored names, default 1252"},
         {nullptr, "--exclude", "PATTERN", "leave out what matches (repeatable)"},
         {"-T", "--threads", "N",
          "compression threads, 1 to 64 (default one per core; the output is the same)"},
         {"-#", "--level", "N", "level 0 (store) or 1 (fast) to 9 (small), default 7"},
         {nullptr, "--no-dedupe", nullptr,
          "store every file by itself, also files of identical contents"},
     },
     zpx_build},
    {"wrap",
     "wrap [-f] --stub STUB -o OUT ARCHIVE",
     "Puts an existing archive behind an installer stub.",
     "OUT is written as by build: never over an existing file without -f; -o - writes to\n"
     "standard output.",
     {
         {"-o", "--output", "OUT", "the installer to write (- for standard output)"},
         {"-f", "--force", nullptr, "replace an existing OUT"},
         {nullptr, "--stub", "STUB", "the installer stub"},
     },
     zpx_wrap},
    {"list",
     "list [--json] [--codepage CP] FILE",
     "Lists the entries of an installer or a bare archive.",
     "For an installer first the stub: Windows PE32 i686, PE32+ x86_64 or POSIX ELF, and\n"
     "its version resource where it has one. Then one line per entry: attributes\n"
     "(Read-only, Hidden, System, Archive), kind (folder, file, or call16/call32 for files\n"
     "stored with the call-address transform), size, last-write and creation time, CRC-32,\n"
     "name. Names are read in the Windows code page CP (1252 by default, as build writes\n"
     "them) and shown in UTF-8. --json prints one object for scripts: file, stub (null for\n"
     "a bare archive; kind, bytes, intact, version) and entries, one object per entry:\n"
     "name, kind, size, modified and created (ISO 8601, local time as stored), attributes,\n"
     "crc32, stream_offset and stream_position.",
     {
         {nullptr, "--json", nullptr, "print one JSON object: the file, its stub, its entries"},
         {nullptr, "--codepage", "CP", "Windows code page the names are read in, default 1252"},
     },
     zpx_list},
    {"test",
     "test [--codepage CP] FILE",
     "Decodes every file of an installer or archive and checks its CRC-32; nothing is written.",
     "For an installer the stub's self-check runs too. A damaged stream is reported once,\n"
     "with the files it takes down; -v shows OK or FAILED for every file, and why a file\n"
     "failed: its CRC-32 differs, a block ended short (and on what), a match reached before\n"
     "the window, or a block could not be loaded. The header, the directory and the entry\n"
     "count are held against the file as the packer writes them.",
     {
         {nullptr, "--codepage", "CP", "Windows code page the names are read in, default 1252"},
     },
     zpx_test},
    {"extract",
     "extract [-d DIR] [--overwrite] [--ignore-stub] [--codepage CP] FILE [NAME|PATTERN]...",
     "Extracts an installer or archive into DIR (default: the current folder) without asking.",
     "With names or shell patterns, only the entries they match are extracted, and for a\n"
     "folder everything in it (names as list shows them; '/' may stand for '\\').\n"
     "Existing files are kept unless --overwrite is given, which replaces read-only files\n"
     "too. The installer's own messages are passed on word for word, once per cause.\n"
     "Names are read in the Windows code page CP (1252 by default) and written in UTF-8.",
     {
         {"-d", "--directory", "DIR", "extract into DIR"},
         {nullptr, "--overwrite", nullptr, "replace existing files, read-only ones too"},
         {nullptr, "--ignore-stub", nullptr,
          "extract even when the stub fails its self-check (the installer would refuse)"},
         {nullptr, "--codepage", "CP", "Windows code page the names are read in, default 1252"},
     },
     zpx_extract},
};

void print_overview(FILE* to) {
  std::fprintf(to, "usage: zpx COMMAND [OPTIONS] ARGUMENTS\n\n");
  for (const CommandDef& c : kCommands) std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(to,
               "\n'zpx help COMMAND' or 'zpx COMMAND --help' shows a command's options.\n"
               "zpx --version shows the version.\n"
               "Exit status: 0 success, 1 damage or failure, 2 usage error.\n");
}

// A usage error before any command: the message, the usage line and where help is.
int top_usage_error(const std::string& text) {
  if (!text.empty()) print_error("%s", text.c_str());
  std::fputs("usage: zpx COMMAND [OPTIONS] ARGUMENTS\nTry 'zpx --help' for the commands.\n",
             stderr);
  return kExitUsage;
}

const CommandDef* find_command(const char* name) {
  for (const CommandDef& c : kCommands) {
    if (std::strcmp(name, c.name) == 0) return &c;
  }
  return nullptr;
}

}  // namespace

const std::vector<CommandDef>& zpx_commands() {
  return kCommands;
}

int main(int argc, char** argv) {
  guard_standard_descriptors();
  if (argc < 2) return top_usage_error("");
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
    print_overview(stdout);
    return kExitOk;
  }
  if (std::strcmp(first, "--version") == 0 || std::strcmp(first, "-V") == 0) {
    std::printf("zpx %s\n", kVersion);
    return kExitOk;
  }
  // For the build: the manual page from these help texts.
  if (std::strcmp(first, "--man-page") == 0) {
    print_man_page(kVersion);
    return kExitOk;
  }
  if (std::strcmp(first, "help") == 0) {
    if (argc == 2) {
      print_overview(stdout);
      return kExitOk;
    }
    const CommandDef* c = find_command(argv[2]);
    if (c == nullptr || argc > 3) {
      return top_usage_error("help: no command \"" + shown(argv[2]) + "\"");
    }
    print_command_help(*c);
    return kExitOk;
  }
  const CommandDef* c = find_command(first);
  if (c == nullptr) return top_usage_error("unknown command \"" + shown(first) + "\"");
  CommandLine line;
  const int handled = parse_command_line(*c, argc - 2, argv + 2, &line);
  if (handled >= 0) return handled;
  return c->run(*c, line);
}

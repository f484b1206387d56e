#include "tools/man_page.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli.h"

namespace {

// Text for roff: backslashes and dashes escaped, a line never starting with a control
// character.
std::string roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

void print_option(const OptionDef& o) {
  const std::string names = option_names(o);
  std::printf(".TP\n.B %s", roff(names).c_str());
  if (o.value_name != nullptr) std::printf(" \" \\fI%s\\fR\"", roff(o.value_name).c_str());
  std::printf("\n%s\n", roff(o.help).c_str());
}

}  // namespace

void print_man_page(const char* version) {
  std::printf(".TH ZPX 1 \"\" \"zpx %s\" \"User Commands\"\n", version);
  std::printf(".SH NAME\nzpx \\- build, list, test and extract Zarpex installers and archives\n");
  std::printf(".SH SYNOPSIS\n");
  for (const CommandDef& c : zpx_commands()) {
    std::string synopsis = c.synopsis;
    for (size_t at; (at = synopsis.find('\n')) != std::string::npos;)
      synopsis.replace(at, 1, "\n.br\n.B zpx\n");
    std::printf(".B zpx\n%s\n.br\n", roff(synopsis).c_str());
  }
  std::printf(
      ".SH DESCRIPTION\n"
      "zpx packs a folder into an archive, or with a stub into a self-extracting installer\n"
      "(for Windows or for this system), and lists, tests and extracts installers and bare\n"
      "archives. Each command has its own options; every command takes the common options\n"
      "below.\n");
  std::printf(".SH COMMANDS\n");
  for (const CommandDef& c : zpx_commands()) {
    std::printf(".SS %s\n%s\n", c.name, roff(c.summary).c_str());
    if (c.details != nullptr) std::printf(".PP\n%s\n", roff(c.details).c_str());
    for (const OptionDef& o : c.options) print_option(o);
  }
  std::printf(".SH COMMON OPTIONS\n");
  for (const OptionDef& o : common_options()) print_option(o);
  std::printf(".TP\n.B \\-\\-\nend of options: every later argument is an operand\n");
  std::printf(
      ".SH ENVIRONMENT\n"
      ".TP\n.B SOURCE_DATE_EPOCH\n"
      "build: no stored time is later than this many seconds since 1970, and times are\n"
      "stored as UTC, so that builds of the same content give the same bytes.\n"
      ".TP\n.B TZ\n"
      "build: times are stored as the local time of this zone, unless SOURCE_DATE_EPOCH is set.\n");
  std::printf(
      ".SH FILES\n"
      ".TP\n.I PREFIX/share/zarpex/stubs/zarpex\\-setup\\-windows.exe\n"
      "the Windows installer stub (32-bit), --stub windows\n"
      ".TP\n.I PREFIX/share/zarpex/stubs/zarpex\\-setup\\-windows\\-x64.exe\n"
      "the same for 64-bit Windows, --stub windows-x64\n"
      ".TP\n.I PREFIX/lib/zarpex/stubs/zarpex\\-setup\\-posix\n"
      "the installer stub for this system, --stub posix\n");
  std::printf(
      ".SH EXIT STATUS\n0 success, 1 damage or failure, 2 usage error (the same for every "
      "command).\n");
}

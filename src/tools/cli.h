// The zpx command line: the commands with their options and help texts, one parser for
// all of them, and the exit statuses, which are the same for every command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // damage or failure
inline constexpr int kExitUsage = 2;

// One option of a command. Every option has a long name, by which the command asks for it.
struct OptionDef {
  const char* short_name;  // "-o", "-#" for the digits -0 .. -9, or nullptr
  const char* long_name;   // "--output"
  const char* value_name;  // "OUT" when the option takes a value, else nullptr
  const char* help;
};

// A command line after parsing: the options in the order given, and the operands.
struct CommandLine {
  std::vector<std::pair<std::string, std::string>> options;  // long name, value ("" for flags)
  std::vector<std::string> operands;

  bool has(const char* long_name) const;
  // The value given last, or nullptr.
  const std::string* value(const char* long_name) const;
  std::vector<std::string> values(const char* long_name) const;
  // How the option given last was written ("-T" or "--threads"), for messages.
  std::string spelling(const char* long_name) const;

  std::vector<std::string> spellings;  // one for each of `options`
};

struct CommandDef;
using CommandRun = int (*)(const CommandDef& cmd, const CommandLine& line);

struct CommandDef {
  const char* name;
  const char* synopsis;  // after "zpx "; several lines allowed
  const char* summary;   // one line
  const char* details;   // paragraphs of the help text, or nullptr
  std::vector<OptionDef> options;
  CommandRun run;
};

// The command table (defined with main).
const std::vector<CommandDef>& zpx_commands();
// The options every command takes (-q, -v, -h).
const std::vector<OptionDef>& common_options();

// Parses a command's arguments (the ones after its name). Handles -q, -v and -h/--help of
// every command; "--" ends the options. Returns -1 to go on, or the exit status when the
// command line was fully handled (help shown, or a usage error reported).
int parse_command_line(const CommandDef& cmd, int argc, char** argv, CommandLine* line);

// The code pages --codepage takes, for help texts and messages.
inline constexpr char kCodePageList[] =
    "1252 (default), 1250, 1251, 1253 to 1257, 874, 932, 936, 949, 950";
// The code page of --codepage (1252 when not given): returns -1 to go on, or the exit
// status after a usage error.
int code_page_option(const CommandDef& cmd, const CommandLine& line, uint32_t* code_page);
// "-o, --output", "-1 .. -9, --level": how the help and the manual page name an option.
std::string option_names(const OptionDef& option);

// Reports a usage error ("zpx: CMD: text" and the usage line) and returns kExitUsage.
int usage_error(const CommandDef& cmd, const std::string& text);
// The help text of a command on standard output.
void print_command_help(const CommandDef& cmd);

#include "tools/cli.h"

#include <cstdio>
#include <cstring>

#include "platform/posix/code_page.h"
#include "ui/batch/output.h"

namespace {

// Every command takes these.
const std::vector<OptionDef> kCommonOptions = {
    {"-q", "--quiet", nullptr, "print errors only"},
    {"-v", "--verbose", nullptr, "name every file"},
    {"-h", "--help", nullptr, "show this help"},
};

constexpr char kExitText[] =
    "Exit status: 0 success, 1 damage or failure, 2 usage error (the same for every command).";

bool is_digit_option(const char* arg) {
  return arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9' && arg[2] == '\0';
}

// The option of a short letter ("-o"), or nullptr.
const OptionDef* find_short(const CommandDef& cmd, char letter) {
  for (const OptionDef& o : cmd.options) {
    if (o.short_name != nullptr && o.short_name[1] == letter && o.short_name[1] != '#') return &o;
  }
  for (const OptionDef& o : kCommonOptions) {
    if (o.short_name[1] == letter) return &o;
  }
  return nullptr;
}

const OptionDef* find_long(const CommandDef& cmd, const std::string& name) {
  for (const OptionDef& o : cmd.options) {
    if (name == o.long_name) return &o;
  }
  for (const OptionDef& o : kCommonOptions) {
    if (name == o.long_name) return &o;
  }
  return nullptr;
}

const OptionDef* find_digits(const CommandDef& cmd) {
  for (const OptionDef& o : cmd.options) {
    if (o.short_name != nullptr && std::strcmp(o.short_name, "-#") == 0) return &o;
  }
  return nullptr;
}

void print_usage_lines(FILE* to, const CommandDef& cmd) {
  const char* start = cmd.synopsis;
  bool first = true;
  while (*start != '\0') {
    const char* end = std::strchr(start, '\n');
    const size_t length = end != nullptr ? static_cast<size_t>(end - start) : std::strlen(start);
    std::fprintf(to, "%s zpx %.*s\n", first ? "usage:" : "      ", static_cast<int>(length), start);
    first = false;
    start += length;
    if (*start == '\n') ++start;
  }
}

void print_option(const OptionDef& o) {
  std::string names = option_names(o);
  if (o.value_name != nullptr) names += std::string(" ") + o.value_name;
  std::printf("  %-26s %s\n", names.c_str(), o.help);
}

}  // namespace

const std::vector<OptionDef>& common_options() {
  return kCommonOptions;
}

bool CommandLine::has(const char* long_name) const {
  return value(long_name) != nullptr;
}

const std::string* CommandLine::value(const char* long_name) const {
  const std::string* found = nullptr;
  for (const auto& [name, value] : options) {
    if (name == long_name) found = &value;
  }
  return found;
}

std::vector<std::string> CommandLine::values(const char* long_name) const {
  std::vector<std::string> out;
  for (const auto& [name, value] : options) {
    if (name == long_name) out.push_back(value);
  }
  return out;
}

std::string CommandLine::spelling(const char* long_name) const {
  std::string found = long_name;
  for (size_t i = 0; i < options.size() && i < spellings.size(); ++i) {
    if (options[i].first == long_name) found = spellings[i];
  }
  return found;
}

int code_page_option(const CommandDef& cmd, const CommandLine& line, uint32_t* code_page) {
  *code_page = kDefaultCodePage;
  const std::string* given = line.value("--codepage");
  if (given == nullptr) return -1;
  const std::string text =
      given->rfind("cp", 0) == 0 || given->rfind("CP", 0) == 0 ? given->substr(2) : *given;
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos ||
      !code_page_known(static_cast<uint32_t>(std::stoul(text)))) {
    return usage_error(cmd, "unknown code page \"" + shown(*given) + "\" (" + kCodePageList + ")");
  }
  *code_page = static_cast<uint32_t>(std::stoul(text));
  return -1;
}

int usage_error(const CommandDef& cmd, const std::string& text) {
  print_error("%s: %s", cmd.name, text.c_str());
  print_usage_lines(stderr, cmd);
  std::fprintf(stderr, "Try 'zpx %s --help' for more.\n", cmd.name);
  return kExitUsage;
}

void print_command_help(const CommandDef& cmd) {
  print_usage_lines(stdout, cmd);
  std::printf("\n%s\n", cmd.summary);
  if (cmd.details != nullptr) std::printf("\n%s\n", cmd.details);
  std::printf("\nOptions:\n");
  for (const OptionDef& o : cmd.options) print_option(o);
  for (const OptionDef& o : kCommonOptions) print_option(o);
  std::printf("  %-26s %s\n", "--", "end of options: every later argument is an operand");
  std::printf("\n%s\n", kExitText);
}

int parse_command_line(const CommandDef& cmd, int argc, char** argv, CommandLine* line) {
  bool options_ended = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_ended || arg[0] != '-' || arg[1] == '\0') {
      line->operands.push_back(arg);  // "-" alone is an operand: standard input or output
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    const OptionDef* digits = find_digits(cmd);
    if (digits != nullptr && is_digit_option(arg)) {
      line->options.emplace_back(digits->long_name, std::string(1, arg[1]));
      line->spellings.emplace_back(arg);
      continue;
    }
    std::vector<std::pair<const OptionDef*, std::string>> found;
    std::vector<std::string> spelled;
    if (arg[1] == '-') {
      // --name, --name=value or --name value
      const char* equals = std::strchr(arg, '=');
      const std::string name = equals != nullptr ? std::string(arg, equals) : std::string(arg);
      const OptionDef* o = find_long(cmd, name);
      if (o == nullptr) return usage_error(cmd, "unknown option " + name);
      if (o->value_name == nullptr) {
        if (equals != nullptr) return usage_error(cmd, name + " takes no value");
        found.emplace_back(o, "");
        spelled.push_back(name);
      } else if (equals != nullptr) {
        spelled.push_back(name);
        found.emplace_back(o, equals + 1);
      } else if (i + 1 < argc) {
        found.emplace_back(o, argv[++i]);
        spelled.push_back(name);
      } else {
        return usage_error(cmd, name + " needs a value (" + o->value_name + ")");
      }
    } else {
      // "-stub" for "--stub": bundled letters would take it for something else ("-force"
      // is -f and -o rce).
      if (arg[2] != '\0' && find_long(cmd, std::string("-") + arg) != nullptr) {
        return usage_error(
            cmd, std::string("unknown option ") + arg + "; long options take two dashes: -" + arg);
      }
      // -abc: flags bundled; a letter that takes a value takes the rest or the next argument
      for (const char* p = arg + 1; *p != '\0'; ++p) {
        const OptionDef* o = find_short(cmd, *p);
        if (o == nullptr) return usage_error(cmd, std::string("unknown option -") + *p);
        spelled.push_back(std::string("-") + *p);
        if (o->value_name == nullptr) {
          found.emplace_back(o, "");
          continue;
        }
        if (p[1] != '\0') {
          found.emplace_back(o, p + 1);
        } else if (i + 1 < argc) {
          found.emplace_back(o, argv[++i]);
        } else {
          return usage_error(cmd, std::string("-") + *p + " needs a value (" + o->value_name + ")");
        }
        break;
      }
    }
    for (size_t k = 0; k < found.size(); ++k) {
      const auto& [o, value] = found[k];
      if (std::strcmp(o->long_name, "--help") == 0) {
        print_command_help(cmd);
        return kExitOk;
      }
      line->options.emplace_back(o->long_name, value);
      line->spellings.push_back(spelled[k]);
    }
  }
  // -q and -v: the last one given counts.
  for (const auto& [name, value] : line->options) {
    if (name == "--quiet") verbosity = Verbosity::kQuiet;
    if (name == "--verbose") verbosity = Verbosity::kVerbose;
  }
  return -1;
}

std::string option_names(const OptionDef& option) {
  std::string names;
  if (option.short_name != nullptr) {
    names = std::strcmp(option.short_name, "-#") == 0 ? "-0 .. -9" : option.short_name;
    names += ", ";
  }
  return names + option.long_name;
}

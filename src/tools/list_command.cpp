// zpx list: the directory as a table or as JSON.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codec/format.h"
#include "common/dos_time.h"
#include "platform/fs.h"
#include "platform/posix/code_page.h"
#include "tools/archive_source.h"
#include "tools/commands.h"
#include "tools/stub_info.h"
#include "ui/batch/output.h"

namespace {

// A stored DOS date and time as text: date and time joined by `separator`, within
// `quote`; `none` when no date is stored.
std::string dos_time_text(uint16_t date, uint16_t time, char separator, const char* quote,
                          const char* none) {
  if (date == 0) return none;
  const DosTime t = split_dos_time(date, time);
  char text[32];
  std::snprintf(text, sizeof text, "%s%04u-%02u-%02u%c%02u:%02u:%02u%s", quote, t.year, t.month,
                t.day, separator, t.hour, t.minute, t.second, quote);
  return text;
}

std::string dos_time_text(uint16_t date, uint16_t time) {
  return dos_time_text(date, time, ' ', "", "-");
}

std::string attribute_text(uint16_t attributes) {
  std::string text = "----";
  if (attributes & kAttributeReadOnly) text[0] = 'R';
  if (attributes & kAttributeHidden) text[1] = 'H';
  if (attributes & kAttributeSystem) text[2] = 'S';
  if (attributes & 0x20) text[3] = 'A';
  return text;
}

// The entry's kind: a folder, a file, or a file whose call addresses were transformed.
const char* flags_text(uint8_t flags) {
  if (flags & format::kFlagFolder) return "folder";
  if (flags & format::kFlagCall16) return "call16";
  if (flags & format::kFlagCall32) return "call32";
  return "file";
}

// "2001-02-03T04:05:06": the stored local time in ISO 8601; "null" for none.
std::string iso_time(uint16_t date, uint16_t time) {
  return dos_time_text(date, time, 'T', "\"", "null");
}

// A JSON string. Names come decoded from their code page; where they are no text of it,
// valid UTF-8 passes and any other byte is taken as Latin-1.
std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const std::string rest = text.substr(i, 4);
      const std::string one = shown(rest.substr(0, 1 + (c >= 0xC0) + (c >= 0xE0) + (c >= 0xF0)));
      if (one.find('?') == std::string::npos && one.size() > 1) {
        out += one;
        i += one.size() - 1;
      } else {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out += escape;
      }
    }
  }
  return out + "\"";
}

std::string json_attributes(uint16_t attributes) {
  std::string out = "[";
  const std::pair<uint16_t, const char*> names[] = {{kAttributeReadOnly, "read-only"},
                                                    {kAttributeHidden, "hidden"},
                                                    {kAttributeSystem, "system"},
                                                    {0x20, "archive"}};
  for (const auto& [bit, name] : names) {
    if (attributes & bit) out += std::string(out.size() > 1 ? ", " : "") + "\"" + name + "\"";
  }
  return out + "]";
}

// The stub's bytes, the first stub_length of the file.
StubInfo read_stub_info(const Source& source) {
  std::vector<uint8_t> stub(source.stub_length);
  FILE* f = std::fopen(source.path.c_str(), "rb");
  size_t n = 0;
  if (f != nullptr) {
    n = std::fread(stub.data(), 1, stub.size(), f);
    std::fclose(f);
  }
  return describe_stub(stub.data(), n);
}

// "version 1.2.0.0; CompanyName Kolvane, ProductName Zarpex", or nothing.
std::string version_line(const StubInfo& info) {
  if (info.file_version.empty() && info.strings.empty()) return std::string();
  std::string text = "version " + (info.file_version.empty() ? "-" : info.file_version);
  if (!info.product_version.empty() && info.product_version != info.file_version)
    text += " (product " + info.product_version + ")";
  std::string strings;
  for (const auto& [key, value] : info.strings) {
    if (key == "FileVersion" || key == "ProductVersion") continue;
    strings += (strings.empty() ? "" : ", ") + key + " \"" + value + "\"";
  }
  return strings.empty() ? text : text + "; " + strings;
}

void describe(const Source& source) {
  const std::string name = shown(source.path);
  if (source.installer) {
    const StubInfo stub = read_stub_info(source);
    print_result("%s: installer, %s stub of %u bytes, archive at offset %u, %s", name.c_str(),
                 stub.kind.c_str(), source.stub_length, source.stub_length,
                 counted(archive_header.entry_count, "entry", "entries").c_str());
    const std::string version = version_line(stub);
    if (!version.empty()) print_result("stub %s", shown(version).c_str());
    if (!source.signature_problem.empty()) {
      print_result("not signed: %s", source.signature_problem.c_str());
    } else if (source.signature.offset != 0 || source.signature.size != 0) {
      print_result("signed: certificate table at offset %u, %u bytes", source.signature.offset,
                   source.signature.size);
    } else {
      print_result("not signed");
    }
  } else {
    print_result("%s: archive, %s", name.c_str(),
                 counted(archive_header.entry_count, "entry", "entries").c_str());
  }
}

std::string crc_text(uint32_t crc) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return hex;
}

// For every entry, the first entry that names the same member (the same stream and
// position): itself for a folder and for a file whose member no earlier entry names.
std::vector<size_t> first_of_member(const std::vector<ListedEntry>& entries) {
  std::map<std::pair<uint32_t, uint32_t>, size_t> first;
  std::vector<size_t> out(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryRecord& r = entries[i].record;
    out[i] = i;
    if (r.flags & format::kFlagFolder) continue;
    out[i] = first.emplace(std::make_pair(r.stream_offset, r.stream_position), i).first->second;
  }
  return out;
}

// The stub as a JSON object, or null for a bare archive.
std::string json_stub(const Source& source) {
  if (!source.installer) return "null";
  const StubInfo stub = read_stub_info(source);
  std::string out = "{\"kind\": " + json_string(stub.kind) +
                    ", \"bytes\": " + std::to_string(source.stub_length) +
                    ", \"intact\": " + (source.stub_intact ? "true" : "false") + ", \"version\": ";
  if (stub.file_version.empty() && stub.strings.empty()) return out + "null}";
  out += "{\"file_version\": " +
         (stub.file_version.empty() ? std::string("null") : json_string(stub.file_version)) +
         ", \"product_version\": " +
         (stub.product_version.empty() ? std::string("null") : json_string(stub.product_version)) +
         ", \"strings\": {";
  for (size_t i = 0; i < stub.strings.size(); ++i) {
    out += (i == 0 ? "" : ", ") + json_string(stub.strings[i].first) + ": " +
           json_string(stub.strings[i].second);
  }
  return out + "}}}";
}

void print_json(const Source& source, const std::vector<ListedEntry>& entries) {
  const std::vector<size_t> first = first_of_member(entries);
  std::printf("{\"file\": %s, \"stub\": %s, \"entries\": [", json_string(source.path).c_str(),
              json_stub(source).c_str());
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryRecord& r = entries[i].record;
    const bool folder = (r.flags & format::kFlagFolder) != 0;
    std::printf(
        "%s\n  {\"name\": %s, \"kind\": \"%s\", \"size\": %u, \"modified\": %s, "
        "\"created\": %s, \"attributes\": %s, \"crc32\": %s, \"stream_offset\": %u, "
        "\"stream_position\": %u, \"same_member_as\": %s}",
        i == 0 ? "" : ",", json_string(entries[i].utf8_name).c_str(), flags_text(r.flags),
        folder ? 0 : r.size, iso_time(r.write_date, r.write_time).c_str(),
        iso_time(r.creation_date, r.creation_time).c_str(), json_attributes(r.attributes).c_str(),
        folder ? "null" : ("\"" + crc_text(r.crc) + "\"").c_str(), r.stream_offset,
        r.stream_position,
        first[i] == i ? "null" : json_string(entries[first[i]].utf8_name).c_str());
  }
  std::printf("%s]}\n", entries.empty() ? "" : "\n");
}

void print_table(const Source& source, const std::vector<ListedEntry>& entries) {
  describe(source);
  if (!source.stub_intact) {
    print_result("The stub fails its self-check: the installer would refuse to run.");
  }
  std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n", "Attr", "Kind", "Size", "Modified",
              "Created", "CRC-32", "Name");
  uint32_t files = 0, folders = 0, shared = 0;
  uint64_t bytes = 0;
  const std::vector<size_t> first = first_of_member(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListedEntry& e = entries[i];
    const EntryRecord& r = e.record;
    if (r.flags & format::kFlagFolder) {
      ++folders;
      std::printf("%-4s  %-6s  %10s  %-19s  %-19s  %-8s  %s\n",
                  attribute_text(r.attributes).c_str(), flags_text(r.flags), "", "", "", "",
                  shown(e.utf8_name).c_str());
    } else {
      ++files;
      bytes += r.size;
      // -v: an entry whose contents an earlier entry's member holds says whose.
      std::string same;
      if (first[i] != i) {
        ++shared;
        if (verbosity == Verbosity::kVerbose) same = "  = " + shown(entries[first[i]].utf8_name);
      }
      std::printf("%-4s  %-6s  %10u  %-19s  %-19s  %08x  %s%s\n",
                  attribute_text(r.attributes).c_str(), flags_text(r.flags), r.size,
                  dos_time_text(r.write_date, r.write_time).c_str(),
                  dos_time_text(r.creation_date, r.creation_time).c_str(), r.crc,
                  shown(e.utf8_name).c_str(), same.c_str());
    }
  }
  std::printf(
      "%s, %s, %llu bytes%s\n", counted(files, "file", "files").c_str(),
      counted(folders, "folder", "folders").c_str(), static_cast<unsigned long long>(bytes),
      shared ? (", " + std::to_string(shared) + " stored as another's member").c_str() : "");
}

}  // namespace

int zpx_list(const CommandDef& cmd, const CommandLine& line) {
  Source source;
  if (const int status = open_file_operand(cmd, line, &source); status >= 0) return status;
  std::vector<ListedEntry> entries;
  const ResultCode result = read_directory(&entries);
  if (line.has("--json")) {
    print_json(source, entries);
  } else {
    print_table(source, entries);
  }
  std::fflush(stdout);
  if (result < 0) {
    print_error("%s: %s: %zu of %s could be read", shown(source.path).c_str(),
                directory_damage(source).c_str(), entries.size(),
                counted(archive_header.entry_count, "entry", "entries").c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// The file named on the command line of zpx list, test and extract, opened as the
// installer opens its own file, and its directory read the way the driver reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/installer_image.h"
#include "codec/archive_reader.h"
#include "codec/format.h"
#include "codec/result.h"
#include "codec/signature.h"
#include "tools/cli.h"

struct Source {
  std::string path;
  uint64_t size = 0;
  bool installer = false;  // a stub in front of the archive
  uint32_t stub_length = 0;
  bool stub_intact = true;
  CertificateTable signature = {0, 0};  // where a signature appended its certificate table
  // Empty when the installer is unsigned or its certificate table is sound: the table
  // starts where the entry says, ends at the end of the file and begins with a valid
  // WIN_CERTIFICATE header. Otherwise what was found instead.
  std::string signature_problem;
  uint64_t data_end = 0;  // where the archive's data end in the file
};

// Opens the file, finds the archive in it and reads the archive header into the reader's
// records. Reports what goes wrong on standard error; false then.
bool open_source(const std::string& path_text, Source* source);

// The one FILE of a command that reads a file (list, test), in the code page its
// --codepage names, opened: -1 to go on, or the exit status.
int open_file_operand(const CommandDef& cmd, const CommandLine& line, Source* source);

// Reads `count` bytes at `offset` of the archive (its header at 0) as they lie in the file;
// false when the file ends first or cannot be read.
bool read_archive(uint64_t offset, void* buffer, size_t count);

// Where the archive's data end in the file: the file's end, or the start of a signed
// installer's certificate table. This is the one place that says so.
uint64_t archive_data_end(const Source& source);

// What a damaged directory means for a summary: the file is cut short, or its
// directory does not decode.
std::string directory_damage(const Source& source);

// One walk over the directory, set up as the extraction driver sets up its run.
class DirectoryWalk {
 public:
  DirectoryWalk() : staging_(format::kEntryStagingSize) {}
  ~DirectoryWalk() { finish(); }
  DirectoryWalk(const DirectoryWalk&) = delete;
  DirectoryWalk& operator=(const DirectoryWalk&) = delete;

  ResultCode start();
  // The next entry; its name is copied out and terminated.
  ResultCode next(EntryRecord* entry, std::string* name);
  void finish();

 private:
  std::vector<uint8_t> staging_;
};

// Every entry of the directory, read ahead of a run.
struct ListedEntry {
  EntryRecord record;
  std::string name;       // as stored
  std::string utf8_name;  // read in the code page of --codepage, for the terminal
};

// A stored name (bytes of the Windows code page ansi_code_page) as UTF-8; the bytes as
// they are when they are no text of that code page.
std::string utf8_name(const std::string& stored);

class StructureCheck;

// Reads the whole directory; `structure`, when given, sees every entry and the end.
ResultCode read_directory(std::vector<ListedEntry>* entries, StructureCheck* structure = nullptr);

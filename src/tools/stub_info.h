// What a stub is: the system it runs on, read from its headers, and the version resource
// of a Windows stub.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct StubInfo {
  // "Windows PE32 i686", "Windows PE32+ x86_64", "POSIX ELF x86_64", or "unknown".
  std::string kind;
  bool windows = false;
  // The fixed file and product versions ("1.2.0.0"), empty without a version resource.
  std::string file_version;
  std::string product_version;
  // The version resource's strings in the order stored (CompanyName, ProductName, ...).
  std::vector<std::pair<std::string, std::string>> strings;
};

// Reads the stub's first `size` bytes (the whole stub). Never fails: what cannot be read
// stays empty.
StubInfo describe_stub(const uint8_t* image, size_t size);

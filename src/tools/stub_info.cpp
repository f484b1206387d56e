#include "tools/stub_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;
constexpr uint32_t kResourceDirectory = 2;  // data directory index
constexpr uint32_t kVersionType = 16;       // RT_VERSION
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kMaxResourceDepth = 3;  // type, name, language

// Bounds-checked little-endian reads of the image; 0 past its end.
struct Image {
  const uint8_t* data;
  size_t size;
  bool has(uint64_t at, uint64_t n) const { return at <= size && n <= size - at; }
  uint32_t u16(uint64_t at) const { return has(at, 2) ? data[at] | data[at + 1] << 8 : 0; }
  uint32_t u32(uint64_t at) const {
    return has(at, 4) ? u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16 : 0;
  }
};

std::string machine_name(uint32_t machine) {
  switch (machine) {
    case kMachineI386:
      return "i686";
    case kMachineAmd64:
      return "x86_64";
    case kMachineArm64:
      return "arm64";
  }
  char text[16];
  std::snprintf(text, sizeof text, "machine 0x%04x", machine);
  return text;
}

std::string elf_machine(uint32_t machine) {
  switch (machine) {
    case 0x03:
      return "i686";
    case 0x3E:
      return "x86_64";
    case 0xB7:
      return "arm64";
  }
  char text[16];
  std::snprintf(text, sizeof text, "machine 0x%x", machine);
  return text;
}

std::string version_text(uint32_t high, uint32_t low) {
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16,
                low & 0xFFFF);
  return text;
}

// A UTF-16 text of `units` code units at `at` (or up to its NUL) as UTF-8.
std::string utf8_of(const Image& image, uint64_t at, uint64_t units) {
  std::string out;
  for (uint64_t i = 0; i < units && image.has(at + 2 * i, 2); ++i) {
    uint32_t c = image.u16(at + 2 * i);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      const uint32_t low = image.u16(at + 2 * i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// One block of a version resource: length, value length, type, key (UTF-16, NUL ended),
// padding to 4 bytes, value, then child blocks to its end.
struct Block {
  uint64_t at = 0, end = 0;
  uint32_t value_length = 0;
  bool text = false;
  std::string key;
  uint64_t value = 0;     // where the value starts
  uint64_t children = 0;  // where the children start
};

bool read_block(const Image& image, uint64_t at, uint64_t limit, Block* b) {
  const uint32_t length = image.u16(at);
  if (length < 6 || at + length > limit) return false;
  b->at = at;
  b->end = at + length;
  b->value_length = image.u16(at + 2);
  b->text = image.u16(at + 4) == 1;
  uint64_t p = at + 6;
  while (p + 2 <= b->end && image.u16(p) != 0) p += 2;
  b->key = utf8_of(image, at + 6, (p - (at + 6)) / 2);
  p = (p + 2 + 3) & ~uint64_t{3};
  b->value = p;
  // Text values count UTF-16 units, binary ones bytes.
  const uint64_t value_bytes = b->text ? 2ull * b->value_length : b->value_length;
  // A block's length need not count the padding behind its value.
  b->children = std::min<uint64_t>((p + value_bytes + 3) & ~uint64_t{3}, b->end);
  return true;
}

void read_version(const Image& image, uint64_t at, uint64_t size, StubInfo* info) {
  Block root;
  if (!read_block(image, at, at + size, &root) || root.key != "VS_VERSION_INFO") return;
  if (root.value_length >= 52 && image.u32(root.value) == kFixedSignature) {
    info->file_version = version_text(image.u32(root.value + 8), image.u32(root.value + 12));
    info->product_version = version_text(image.u32(root.value + 16), image.u32(root.value + 20));
  }
  for (uint64_t p = root.children; p < root.end;) {
    Block file_info;
    if (!read_block(image, p, root.end, &file_info)) break;
    if (file_info.key == "StringFileInfo") {
      for (uint64_t t = file_info.children; t < file_info.end;) {
        Block table;
        if (!read_block(image, t, file_info.end, &table)) break;
        for (uint64_t s = table.children; s < table.end;) {
          Block string;
          if (!read_block(image, s, table.end, &string)) break;
          info->strings.emplace_back(string.key, utf8_of(image, string.value, string.value_length));
          s = (string.end + 3) & ~uint64_t{3};
        }
        t = (table.end + 3) & ~uint64_t{3};
      }
    }
    p = (file_info.end + 3) & ~uint64_t{3};
  }
}

// The file offset of a relative virtual address, through the section table.
bool file_offset(const Image& image, uint64_t sections, uint32_t count, uint32_t rva,
                 uint64_t* offset) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t s = sections + 40ull * i;
    const uint32_t virtual_address = image.u32(s + 12);
    const uint32_t raw_size = image.u32(s + 16);
    const uint32_t raw_at = image.u32(s + 20);
    if (rva >= virtual_address && rva - virtual_address < raw_size) {
      *offset = static_cast<uint64_t>(raw_at) + (rva - virtual_address);
      return true;
    }
  }
  return false;
}

// The first data entry of the resource tree under type `type` (any name, any language).
bool find_resource(const Image& image, uint64_t root, uint64_t at, uint32_t depth, uint32_t type,
                   uint32_t* rva, uint32_t* size) {
  const uint32_t named = image.u16(at + 12);
  const uint32_t ids = image.u16(at + 14);
  for (uint32_t i = 0; i < named + ids && i < 4096; ++i) {
    const uint64_t entry = at + 16 + 8ull * i;
    const uint32_t id = image.u32(entry);
    const uint32_t target = image.u32(entry + 4);
    if (depth == 0 && id != type) continue;
    if (target & 0x80000000u) {
      if (depth + 1 < kMaxResourceDepth &&
          find_resource(image, root, root + (target & 0x7FFFFFFFu), depth + 1, type, rva, size))
        return true;
    } else if (depth + 1 == kMaxResourceDepth) {
      *rva = image.u32(root + target);
      *size = image.u32(root + target + 4);
      return true;
    }
  }
  return false;
}

void describe_pe(const Image& image, StubInfo* info) {
  const uint32_t pe = image.u32(0x3C);
  if (image.u32(pe) != 0x00004550) {
    info->kind = "unknown (MZ without PE headers)";
    return;
  }
  const uint32_t machine = image.u16(pe + 4);
  const uint32_t sections = image.u16(pe + 6);
  const uint32_t optional_size = image.u16(pe + 20);
  const uint64_t optional = pe + 24;
  const uint32_t magic = image.u16(optional);
  const bool plus = magic == 0x20B;
  info->windows = true;
  info->kind = std::string("Windows ") + (plus ? "PE32+ " : "PE32 ") + machine_name(machine);
  const uint64_t directories = optional + (plus ? 112 : 96);
  const uint32_t directory_count = image.u32(directories - 4);
  if (directory_count <= kResourceDirectory) return;
  const uint32_t resource_rva = image.u32(directories + 8 * kResourceDirectory);
  uint64_t resources = 0;
  const uint64_t section_table = optional + optional_size;
  if (resource_rva == 0 || !file_offset(image, section_table, sections, resource_rva, &resources))
    return;
  uint32_t version_rva = 0, version_size = 0;
  uint64_t version = 0;
  if (find_resource(image, resources, resources, 0, kVersionType, &version_rva, &version_size) &&
      file_offset(image, section_table, sections, version_rva, &version) &&
      image.has(version, version_size)) {
    read_version(image, version, version_size, info);
  }
}

}  // namespace

StubInfo describe_stub(const uint8_t* data, size_t size) {
  StubInfo info;
  const Image image{data, size};
  if (size >= 0x40 && data[0] == 'M' && data[1] == 'Z') {
    describe_pe(image, &info);
  } else if (size >= 20 && std::memcmp(data,
                                       "\x7f"
                                       "ELF",
                                       4) == 0) {
    info.kind = "POSIX ELF " + elf_machine(image.u16(18));
  } else {
    info.kind = "unknown";
  }
  return info;
}

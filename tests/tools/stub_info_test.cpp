// Telling stubs apart by their headers, and the version resource of a Windows stub, on
// small images written here: a PE32 and a PE32+ with a resource section, an ELF header.
#include "tools/stub_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/pe_image.h"

namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}
void pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}
void put_utf16(std::vector<uint8_t>& out, const std::u16string& text) {
  for (const char16_t c : text) put16(out, c);
  put16(out, 0);
}

// One block of a version resource, as the resource compiler lays it out: a string's length
// ends with its value, before the padding that aligns the next block.
std::vector<uint8_t> block(const std::u16string& key, const std::vector<uint8_t>& value,
                           uint32_t value_length, bool text,
                           const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> out(6, 0);
  put_utf16(out, key);
  pad4(out);
  out.insert(out.end(), value.begin(), value.end());
  // The resource compiler counts no padding behind a block's last value.
  const size_t length = children.empty() ? out.size() : 0;
  pad4(out);
  for (const auto& child : children) {
    out.insert(out.end(), child.begin(), child.end());
    pad4(out);
  }
  const size_t counted = length != 0 ? length : out.size();
  out[0] = static_cast<uint8_t>(counted), out[1] = static_cast<uint8_t>(counted >> 8);
  out[2] = static_cast<uint8_t>(value_length), out[3] = static_cast<uint8_t>(value_length >> 8);
  out[4] = text ? 1 : 0;
  return out;
}

std::vector<uint8_t> string_block(const std::u16string& key, const std::u16string& value) {
  std::vector<uint8_t> bytes;
  put_utf16(bytes, value);
  return block(key, bytes, static_cast<uint32_t>(value.size() + 1), true, {});
}

std::vector<uint8_t> version_resource() {
  std::vector<uint8_t> fixed;
  put32(fixed, 0xFEEF04BD);
  put32(fixed, 0x00010000);
  put32(fixed, 0x00010002), put32(fixed, 0x00000000);  // file version 1.2.0.0
  put32(fixed, 0x00010002), put32(fixed, 0x00030004);  // product version 1.2.3.4
  while (fixed.size() < 52) put32(fixed, 0);
  const auto table =
      block(u"040904b0", {}, 0, true,
            {string_block(u"CompanyName", u"Kolvane"), string_block(u"ProductName", u"Zarpex"),
             string_block(u"FileDescription", u"Zarpex Installation \u2013 Setup"),
             string_block(u"FileVersion", u"1.2.0.0")});
  const auto strings = block(u"StringFileInfo", {}, 0, true, {table});
  std::vector<uint8_t> translation;
  put32(translation, 0x04b00409);
  const auto var =
      block(u"VarFileInfo", {}, 0, true, {block(u"Translation", translation, 4, false, {})});
  return block(u"VS_VERSION_INFO", fixed, 52, false, {strings, var});
}

// A resource directory with one entry, at `at` within the section.
void put_directory(std::vector<uint8_t>& section, uint32_t id, uint32_t target) {
  for (int i = 0; i < 12; ++i) section.push_back(0);
  put16(section, 0), put16(section, 1);
  put32(section, id), put32(section, target);
}

// A PE image of either form whose one section, .rsrc at RVA 0x1000, holds a resource tree
// type 16 / id 1 / language 0x409 leading to the version resource (or none).
std::vector<uint8_t> pe_with_version(bool plus, bool with_version) {
  std::vector<uint8_t> image(pe_image::kHeadersEnd, 0);
  pe_image::put_headers(image, plus);
  constexpr uint32_t kRva = 0x1000, kRaw = 0x200;
  std::vector<uint8_t> rsrc;
  const uint32_t type = with_version ? 16 : 3;
  put_directory(rsrc, type, 0x80000000u | 24);  // -> name level at 24
  put_directory(rsrc, 1, 0x80000000u | 48);     // -> language level at 48
  put_directory(rsrc, 0x409, 72);               // -> data entry at 72
  const auto version = version_resource();
  put32(rsrc, kRva + 88), put32(rsrc, static_cast<uint32_t>(version.size()));
  put32(rsrc, 0), put32(rsrc, 0);
  rsrc.insert(rsrc.end(), version.begin(), version.end());
  // Resource directory entry (data directory 2) and the section header.
  const uint32_t directories = pe_image::kOptional + (plus ? 112 : 96);
  pe_image::put32(image, directories + 16, kRva);
  pe_image::put32(image, directories + 20, static_cast<uint32_t>(rsrc.size()));
  image[pe_image::kPeAt + 6] = 1;  // one section
  const uint32_t section = pe_image::kOptional + (plus ? 240 : 224);
  std::memcpy(&image[section], ".rsrc", 5);
  pe_image::put32(image, section + 8, static_cast<uint32_t>(rsrc.size()));
  pe_image::put32(image, section + 12, kRva);
  pe_image::put32(image, section + 16, static_cast<uint32_t>(rsrc.size()));
  pe_image::put32(image, section + 20, kRaw);
  image.insert(image.end(), rsrc.begin(), rsrc.end());
  return image;
}

TEST(StubInfo, KindsOfStub) {
  struct Case {
    std::vector<uint8_t> image;
    const char* kind;
    bool windows;
  };
  std::vector<uint8_t> elf(64, 0);
  elf[0] = 0x7f, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[18] = 0x3E;
  std::vector<uint8_t> mz_only(0x80, 0);
  mz_only[0] = 'M', mz_only[1] = 'Z';
  const Case cases[] = {
      {pe_with_version(false, false), "Windows PE32 i686", true},
      {pe_with_version(true, false), "Windows PE32+ x86_64", true},
      {elf, "POSIX ELF x86_64", false},
      {mz_only, "unknown (MZ without PE headers)", false},
      {std::vector<uint8_t>(100, 'x'), "unknown", false},
      {{}, "unknown", false},
  };
  for (const Case& c : cases) {
    const StubInfo info = describe_stub(c.image.data(), c.image.size());
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.windows, c.windows);
    EXPECT_EQ(info.file_version, "");
    EXPECT_TRUE(info.strings.empty());
  }
}

TEST(StubInfo, VersionResourceOfEitherForm) {
  for (const bool plus : {false, true}) {
    SCOPED_TRACE(plus);
    const std::vector<uint8_t> image = pe_with_version(plus, true);
    const StubInfo info = describe_stub(image.data(), image.size());
    EXPECT_EQ(info.file_version, "1.2.0.0");
    EXPECT_EQ(info.product_version, "1.2.3.4");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"CompanyName", "Kolvane"},
        {"ProductName", "Zarpex"},
        {"FileDescription", "Zarpex Installation \u2013 Setup"},
        {"FileVersion", "1.2.0.0"}};
    EXPECT_EQ(info.strings, expected);
    // Cut anywhere, the image gives what lies before the cut and reads nothing past it.
    for (size_t cut = 0; cut < image.size(); cut += 7) {
      const std::vector<uint8_t> part(image.begin(), image.begin() + cut);
      const StubInfo partial = describe_stub(part.data(), part.size());
      EXPECT_LE(partial.strings.size(), expected.size());
    }
  }
}

}  // namespace

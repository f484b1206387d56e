// Stamping a stub's IntegrityRecord.
#include "builder/stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "archive/installer_image.h"
#include "support/pe_image.h"
#include "support/test_archive.h"
#include "test_data.h"

namespace {

std::vector<uint8_t> fake_stub(size_t size, size_t tag_at) {
  std::vector<uint8_t> stub = testdata::random_bytes(size, 3);
  std::memcpy(stub.data() + tag_at, kIntegrityTag, kIntegrityTagSize);
  return stub;
}
uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}
// The self-check's computation: register over the stub with the field as zero, and for
// a PE stub (pe_plus 0 for PE32, 1 for PE32+) the CheckSum and certificate entry too.
bool self_check_passes(const std::vector<uint8_t>& image, int pe_plus = -1) {
  const uint32_t length = get32(image, 0x1000 + 16);
  const uint32_t field = get32(image, 0x1000 + 20);
  if (length > image.size() || field > length - 4) return false;  // a damaged record
  const uint32_t expected = get32(image, field);
  std::vector<uint8_t> copy(image.begin(), image.begin() + length);
  std::memset(copy.data() + field, 0, 4);
  if (pe_plus >= 0) {
    std::memset(copy.data() + pe_image::kChecksum, 0, 4);
    std::memset(copy.data() + pe_image::certificate_entry(pe_plus == 1), 0, 8);
  }
  return ~test_crc32(std::string(copy.begin(), copy.end())) == expected;
}

TEST(Stamp, FillsTheRecordSoTheSelfCheckPassesAndAnyChangedByteFails) {
  std::vector<uint8_t> stub = fake_stub(20000, 0x1000);
  std::string error;
  ASSERT_TRUE(builder::stamp_stub(stub, &error)) << error;
  EXPECT_EQ(get32(stub, 0x1010), 20000u);
  EXPECT_EQ(get32(stub, 0x1014), 0x1018u);
  std::vector<uint8_t> image = stub;
  const auto archive = testdata::random_bytes(500, 4);
  image.insert(image.end(), archive.begin(), archive.end());
  EXPECT_TRUE(self_check_passes(image));
  for (size_t at : {size_t{0}, size_t{0x1005}, size_t{0x1017}, size_t{19999}}) {
    std::vector<uint8_t> changed = image;
    changed[at] ^= 0x40;
    EXPECT_FALSE(self_check_passes(changed)) << at;
  }
  image.back() ^= 1;  // the archive is not covered
  EXPECT_TRUE(self_check_passes(image));
}

TEST(Stamp, RefusesAStubWithoutTheTagOrWithItTwice) {
  std::string error;
  std::vector<uint8_t> none = testdata::random_bytes(4000, 5);
  EXPECT_FALSE(builder::stamp_stub(none, &error));
  EXPECT_NE(error.find("not found"), std::string::npos);
  std::vector<uint8_t> twice = fake_stub(8000, 100);
  std::memcpy(twice.data() + 5000, kIntegrityTag, kIntegrityTagSize);
  EXPECT_FALSE(builder::stamp_stub(twice, &error));
  EXPECT_NE(error.find("more than once"), std::string::npos);
  std::vector<uint8_t> cut = fake_stub(4000, 4000 - 20);
  EXPECT_FALSE(builder::stamp_stub(cut, &error));
}

TEST(Stamp, APeStubStaysValidWhenTheInstallerIsSignedLater) {
  // The Win32 stub passes over the CheckSum and the certificate entry at the places its own
  // format has, whatever count of data directories its headers state: the stamp must
  // agree with it for every count (with 4 or fewer it once did not, and the stub
  // called an untouched installer modified).
  for (const auto& [plus, directories] : {std::pair{0, 16u}, {1, 16u}, {0, 4u}, {1, 4u}, {0, 0u}}) {
    SCOPED_TRACE(std::to_string(plus) + ", " + std::to_string(directories));
    std::vector<uint8_t> stub = fake_stub(9000, 0x1000);
    pe_image::put_headers(stub, plus == 1);
    pe_image::put32(stub, pe_image::kOptional + (plus == 1 ? 108 : 92), directories);
    std::string error;
    ASSERT_TRUE(builder::stamp_stub(stub, &error)) << error;
    std::vector<uint8_t> installer = stub;
    const auto archive = testdata::random_bytes(333, 6);
    installer.insert(installer.end(), archive.begin(), archive.end());
    EXPECT_TRUE(self_check_passes(installer, plus)) << plus;
    pe_image::sign(installer, plus == 1, 700);
    EXPECT_TRUE(self_check_passes(installer, plus)) << plus;
    installer[0x300] ^= 1;
    EXPECT_FALSE(self_check_passes(installer, plus)) << plus;
  }
}

TEST(Stamp, RefusesAStubThatIsAlreadySigned) {
  std::vector<uint8_t> stub = fake_stub(9000, 0x1000);
  pe_image::put_headers(stub, false);
  pe_image::sign(stub, false, 200);
  const std::vector<uint8_t> before = stub;
  std::string error;
  EXPECT_FALSE(builder::stamp_stub(stub, &error));
  EXPECT_NE(error.find("the stub is signed"), std::string::npos) << error;
  EXPECT_NE(error.find("last step"), std::string::npos) << error;
  EXPECT_TRUE(stub == before);
}

}  // namespace

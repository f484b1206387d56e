// The call-address transform against the installer's restoring rules.
#include "builder/call_transform.h"

#include <gtest/gtest.h>

#include "test_data.h"

namespace {

std::vector<uint8_t> call_at(uint32_t offset, uint32_t size, int32_t displacement) {
  std::vector<uint8_t> v(size, 0x90);
  v[offset] = 0xE8;
  for (int k = 0; k < 4; ++k)
    v[offset + 1 + k] = static_cast<uint8_t>(static_cast<uint32_t>(displacement) >> (8 * k));
  return v;
}
int32_t operand(const std::vector<uint8_t>& v, uint32_t at) {
  return static_cast<int32_t>(v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) |
                              (static_cast<uint32_t>(v[at + 3]) << 24));
}

TEST(CallTransform, StoredOperandsMapOntoDisplacementsAsTheInstallerRestoresThem) {
  // Operand at file offset 100 of a 1000-byte file: the installer maps stored 0 to -100,
  // 999 to 899, -1 to 900, -100 to 999, and leaves 1000 and -101 alone.
  struct Case {
    int32_t displacement;
    int32_t stored;
  };
  const Case cases[] = {{-100, 0}, {899, 999}, {900, -1}, {999, -100}, {1000, 1000}, {-101, -101}};
  for (const Case& c : cases) {
    std::vector<uint8_t> v = call_at(99, 1000, c.displacement);
    builder::forward_call_transform(v.data(), 1000, 0, {0});
    EXPECT_EQ(operand(v, 100), c.stored) << c.displacement;
    builder::inverse_call_transform_run(v.data(), 1000, 0, 1000);
    EXPECT_EQ(operand(v, 100), c.displacement);
  }
}

TEST(CallTransform, RunsAreCutWhereTheContentsBeginAndAtBlockStarts) {
  // Contents at stream offset 1000, blocks starting every 4096 bytes: an opcode within
  // the last 4 bytes before a block start is left alone, and bytes after the start are
  // scanned afresh.
  const std::vector<uint32_t> starts = {0, 4096, 8192, 12288};
  std::vector<uint8_t> original = testdata::executable(12000, 21);
  for (uint32_t i = 3090; i < 3100; ++i) original[i] = 0xE8;  // straddles 4096 - 1000
  std::vector<uint8_t> stored = original;
  builder::forward_call_transform(stored.data(), 12000, 1000, starts);
  EXPECT_NE(stored, original);
  EXPECT_EQ(stored[3095], original[3095]);  // last 4 bytes before the cut stay as they are
  // The installer's view: runs [0, 3096), [3096, 7192), [7192, 11288), [11288, 12000).
  std::vector<uint8_t> restored = stored;
  const uint32_t cuts[] = {0, 3096, 7192, 11288, 12000};
  for (int r = 0; r < 4; ++r)
    builder::inverse_call_transform_run(restored.data() + cuts[r], cuts[r + 1] - cuts[r], cuts[r],
                                        12000);
  EXPECT_EQ(restored, original);
}

TEST(CallTransform, DetectsX86ImagesByTheirHeaders) {
  const auto exe = testdata::executable(4096, 1);
  EXPECT_TRUE(builder::is_x86_executable(exe.data(), 4096));
  auto arm = exe;
  arm[0x84] = 0x64;  // machine 0xAA64
  arm[0x85] = 0xAA;
  EXPECT_FALSE(builder::is_x86_executable(arm.data(), 4096));
  auto far = exe;
  far[0x3C] = 0xFE;
  far[0x3D] = 0x0F;  // PE header offset past the end
  EXPECT_FALSE(builder::is_x86_executable(far.data(), 4096));
  const auto text = testdata::text(4096, 1);
  EXPECT_FALSE(builder::is_x86_executable(text.data(), 4096));
  EXPECT_FALSE(builder::is_x86_executable(exe.data(), 10));
}

}  // namespace

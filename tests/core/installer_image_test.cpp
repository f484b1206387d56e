#include "archive/installer_image.h"

#include <gtest/gtest.h>

#include "installer/install_sequence.h"
#include "support/fake_ui.h"
#include "support/reader_fixture.h"

namespace {

constexpr char kModified[] =
    "This installer has been modified. An error may have occurred during downloading, or your "
    "computer may have a virus. Make sure your virus scanner is the latest version, and check "
    "your computer for viruses. You will need to download this installer again.";

class InstallerImageTest : public ReaderTest {
 protected:
  // A stub of `length` bytes with its record stamped as the packer does: the CRC
  // register over the stub with the field taken as zero, stored at the field.
  Bytes make_stub(uint32_t length, uint32_t field) {
    Bytes stub(length);
    for (uint32_t i = 0; i < length; ++i) stub[i] = uint8_t(i * 29 + 3);
    for (int i = 0; i < 4; ++i) stub[field + i] = 0;
    const uint32_t expected = ~reference_crc(stub);
    for (int i = 0; i < 4; ++i) stub[field + i] = uint8_t(expected >> (8 * i));
    set_record(length, field, expected);
    return stub;
  }
  static void set_record(uint32_t length, uint32_t field, uint32_t expected) {
    integrity_block.record.stub_length = length;
    integrity_block.record.crc_field_offset = field;
    integrity_block.record.expected_crc = expected;
  }
  void TearDown() override {
    set_record(0, 0, 0);
    ReaderTest::TearDown();
  }
};

TEST_F(InstallerImageTest, TagPrecedesTheRecordInInitialisedData) {
  const volatile char* tag = integrity_block.tag;
  for (uint32_t i = 0; i < kIntegrityTagSize; ++i) EXPECT_EQ(tag[i], kIntegrityTag[i]);
  EXPECT_EQ(reinterpret_cast<const volatile char*>(&integrity_block.record),
            tag + kIntegrityTagSize);
}

TEST_F(InstallerImageTest, IntactStubPassesWhateverFollowsIt) {
  Bytes file = make_stub(5000, 0x814);
  // The archive behind the stub: header with its directory offset and entry count.
  Bytes header(42, 0);
  header[0] = 'Z', header[1] = 'P', header[2] = 'X', header[3] = '\n';
  header[4] = 0x85, header[5] = 0x95, header[6] = 0x04;  // 0x49585
  header[8] = 5;
  append(file, header);
  append(file, Bytes(100, 0xAA));
  open_archive(file);
  ASSERT_EQ(check_installer_image(), kResultOk);
  EXPECT_EQ(archive_reader.archive_base, 5000u);
  EXPECT_TRUE(fake_ui.boxes.empty());
  ASSERT_EQ(read_archive_header(), kResultOk);
  EXPECT_EQ(archive_header.directory_offset, 0x49585u);
  EXPECT_EQ(archive_header.entry_count, 5u);
  EXPECT_EQ(archive_reader.file_position, 5042u);

  // Altering the archive leaves the check passing.
  file[5000 + 50] ^= 0xFF;
  file.resize(5000 + 42);
  open_archive(file);
  EXPECT_EQ(check_installer_image(), kResultOk);
}

TEST_F(InstallerImageTest, AnyChangedStubByteShowsTheWarning) {
  const Bytes stub = make_stub(3000, 1000);
  for (uint32_t at : {0u, 999u, 1004u, 2999u}) {
    Bytes bad = stub;
    bad[at] ^= 0x01;
    open_archive(bad);
    fake_ui.reset();
    archive_reader.archive_base = 0;
    const ResultCode result = check_installer_image();
    EXPECT_EQ(result, kResultImageModified) << at;
    // The check shows nothing itself; the installer reports its result.
    EXPECT_TRUE(fake_ui.boxes.empty());
    report_start_up_failure(result);
    ASSERT_EQ(fake_ui.boxes.size(), 1u);
    EXPECT_EQ(fake_ui.boxes[0].text, kModified);
    EXPECT_EQ(fake_ui.boxes[0].caption, "Zarpex Installation");
    EXPECT_EQ(fake_ui.boxes[0].style, 0x30u);
    EXPECT_EQ(archive_reader.archive_base, 0u);
  }
  // The four bytes of the field are not hashed: changing them alone still passes.
  Bytes other = stub;
  other[1000] ^= 0x10;
  other[1003] ^= 0x80;
  open_archive(other);
  EXPECT_EQ(check_installer_image(), kResultOk);
}

TEST_F(InstallerImageTest, ShortFileAndImpossibleRecord) {
  const Bytes stub = make_stub(3000, 1000);
  open_archive(Bytes(stub.begin(), stub.begin() + 2999));
  EXPECT_EQ(check_installer_image(), kResultShortRead);
  EXPECT_TRUE(fake_ui.boxes.empty());
  // A record whose CRC field lies past the stub is a modified image, not a crash.
  open_archive(stub);
  set_record(3000, 2998, 0);
  EXPECT_EQ(check_installer_image(), kResultImageModified);
  report_start_up_failure(kResultImageModified);
  EXPECT_EQ(fake_ui.boxes.size(), 1u);
  // Header read: fewer than 42 bytes behind the stub.
  Bytes file = make_stub(3000, 1000);
  file.resize(3000 + 41);
  open_archive(file);
  ASSERT_EQ(check_installer_image(), kResultOk);
  EXPECT_EQ(read_archive_header(), kResultShortRead);
}

}  // namespace

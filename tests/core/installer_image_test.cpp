#include "archive/installer_image.h"

#include <gtest/gtest.h>

#include "common/crc32.h"
#include "installer/install_sequence.h"
#include "support/fake_ui.h"
#include "support/pe_image.h"
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
  // The same for a stub with PE headers of either form: the CheckSum and the certificate
  // entry count as zero, as the CRC field does.
  Bytes make_pe_stub(uint32_t length, uint32_t field, bool plus) {
    Bytes stub(length);
    for (uint32_t i = 0; i < length; ++i) stub[i] = uint8_t(i * 29 + 3);
    pe_image::put_headers(stub, plus);
    Bytes hashed = stub;
    for (uint32_t at : {field, pe_image::kChecksum, pe_image::certificate_entry(plus),
                        pe_image::certificate_entry(plus) + 4}) {
      for (int i = 0; i < 4; ++i) hashed[at + i] = 0;
    }
    const uint32_t expected = ~reference_crc(hashed);
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

// What the Win32 stub's self-check computes (its own fields come from its loaded headers,
// which the tests under Wine run for real): the register over the stub with the fields
// that signing changes cleared, compared with the record's value.
TEST_F(InstallerImageTest, SignedStubHashesAsItWasStampedAndChangedCodeDoesNot) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    const Bytes stub = make_pe_stub(4096, 0x900, plus);
    const uint32_t expected = integrity_block.record.expected_crc;
    auto checks = [&](const Bytes& file) {
      Bytes copy(file.begin(), file.begin() + 4096);
      clear_unchecked_fields(copy.data(), 4096, 0x900, find_signature_fields(copy.data(), 4096));
      return crc_update(copy.data(), 4096, 0xFFFFFFFFu) == expected;
    };
    Bytes file = stub;
    append(file, Bytes(343, 0xAA));
    ASSERT_TRUE(checks(file));
    pe_image::sign(file, plus, 1500);
    EXPECT_TRUE(checks(file));

    // Only the CheckSum and the certificate entry are passed over: the bytes around
    // them, the other form's entry, the headers that locate them and the code all count.
    const uint32_t entry = pe_image::certificate_entry(plus);
    const uint32_t other_entry = pe_image::certificate_entry(!plus);
    for (uint32_t at : {pe_image::kChecksum - 1, pe_image::kChecksum + 4, entry - 1, entry + 8,
                        other_entry, 0x3Cu, pe_image::kOptional, 0x600u, 4095u}) {
      Bytes changed = file;
      changed[at] ^= 0x04;
      EXPECT_FALSE(checks(changed)) << at;
    }
  }
}

// GCC cannot see that the length test keeps the inlined stores inside these short stubs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
TEST(ClearUncheckedFields, FieldsBeyondAShortStubAreLeftAlone) {
  // A record claiming a stub too short to hold the headers: only the CRC field is cleared,
  // and nothing is written past the stub.
  const SignatureFields fields = {pe_image::kChecksum, pe_image::certificate_entry(true)};
  for (uint32_t length : {pe_image::certificate_entry(true) + 7, 20u}) {
    std::vector<uint8_t> stub(length, 0xEE);
    clear_unchecked_fields(stub.data(), length, 8, fields);
    for (uint32_t i = 0; i < length; ++i) EXPECT_EQ(stub[i], (i >= 8 && i < 12) ? 0 : 0xEE) << i;
  }
  std::vector<uint8_t> whole(512, 0xEE);
  clear_unchecked_fields(whole.data(), 512, 8, fields);
  EXPECT_EQ(whole[pe_image::kChecksum], 0);
  EXPECT_EQ(whole[pe_image::certificate_entry(true) + 7], 0);
  EXPECT_EQ(whole[pe_image::certificate_entry(true) + 8], 0xEE);
}
#pragma GCC diagnostic pop

TEST_F(InstallerImageTest, WithoutPeHeadersOnlyTheCrcFieldIsPassedOver) {
  // The POSIX installer is no PE image: the bytes where a PE32 image would keep its
  // CheckSum and certificate entry count like any other.
  EXPECT_EQ(own_signature_fields().checksum_offset, 0u);
  const Bytes stub = make_stub(3000, 1000);
  for (uint32_t at : {pe_image::kChecksum, pe_image::certificate_entry(false)}) {
    Bytes changed = stub;
    changed[at] ^= 0x01;
    open_archive(changed);
    EXPECT_EQ(check_installer_image(), kResultFileLayerFailure) << at;
  }
}

TEST(SignatureFields, FoundOnlyInSoundPeHeaders) {
  Bytes signed32(1024, 0x55), signed64(1024, 0x55);
  pe_image::put_headers(signed32, false);
  pe_image::put_headers(signed64, true);
  pe_image::sign(signed32, false, 96);
  pe_image::sign(signed64, true, 96);
  const CertificateTable t32 = find_certificate_table(signed32.data(), 512);
  EXPECT_EQ(t32.offset, 1024u);
  EXPECT_EQ(t32.size, 96u);
  const SignatureFields f64 = find_signature_fields(signed64.data(), 512);
  EXPECT_EQ(f64.checksum_offset, pe_image::kChecksum);
  EXPECT_EQ(f64.certificate_entry_offset, pe_image::certificate_entry(true));
  EXPECT_EQ(find_certificate_table(signed64.data(), 512).size, 96u);

  Bytes unsigned32(1024, 0x55);
  pe_image::put_headers(unsigned32, false);
  EXPECT_EQ(find_signature_fields(unsigned32.data(), 512).checksum_offset, pe_image::kChecksum);
  EXPECT_EQ(find_certificate_table(unsigned32.data(), 512).offset, 0u);

  struct Case {
    const char* what;
    uint32_t at;
    uint32_t value;
    uint32_t width;
  };
  const Case broken[] = {
      {"no MZ", 0, 'X', 1},
      {"PE pointer past the headers", 0x3C, 512 - 175, 4},
      {"PE pointer far out", 0x3C, 0xFFFFFFF0u, 4},
      {"no PE signature", pe_image::kPeAt, 'Q', 1},
      {"unknown optional header", pe_image::kOptional + 1, 0x03, 1},
  };
  for (const Case& c : broken) {
    Bytes image = signed32;
    for (uint32_t i = 0; i < c.width; ++i) image[c.at + i] = uint8_t(c.value >> (8 * i));
    EXPECT_EQ(find_signature_fields(image.data(), 512).checksum_offset, 0u) << c.what;
    EXPECT_EQ(find_certificate_table(image.data(), 512).size, 0u) << c.what;
  }
  // The count of data directories does not move or hide the fields: the stub's own check
  // passes over the same places whatever it says.
  for (uint32_t count : {4u, 0u, 0xFFFFFFFFu}) {
    Bytes image = signed32;
    pe_image::put32(image, pe_image::kOptional + 92, count);
    const SignatureFields f = find_signature_fields(image.data(), 512);
    EXPECT_EQ(f.checksum_offset, pe_image::kChecksum) << count;
    EXPECT_EQ(f.certificate_entry_offset, pe_image::certificate_entry(false)) << count;
    EXPECT_EQ(f.certificate_entry_offset,
              signature_fields_at(pe_image::kPeAt, false).certificate_entry_offset);
  }
  // Headers cut short of the certificate entry.
  EXPECT_EQ(
      find_signature_fields(signed64.data(), pe_image::certificate_entry(true) + 7).checksum_offset,
      0u);
  EXPECT_EQ(find_signature_fields(signed64.data(), 40).checksum_offset, 0u);
}

}  // namespace

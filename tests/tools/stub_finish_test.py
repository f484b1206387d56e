#!/usr/bin/env python3
"""The post-link step of the Win32 stub (cmake/stub_finish.py), over small PE images
built here."""
import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
import stub_finish  # noqa: E402

R, W, X = 0x40000000, 0x80000000, 0x20000000
CODE, IDATA = 0x20, 0x40
TAG = b"ZPX-INTEGRITY-v1"
PE_AT = 0x80
OPTIONAL_AT = PE_AT + 24
OPTIONAL_SIZE = 224
TABLE_AT = OPTIONAL_AT + OPTIONAL_SIZE


def build_image(sections, tail=b"", certificate=False):
    """A PE32 image: 512 bytes of headers, then each (name, flags, virtual size, file data)
    section back to back, each padded to 512 bytes, then `tail`."""
    head = bytearray(512)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, PE_AT)
    head[PE_AT:PE_AT + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", head, PE_AT + 4, 0x14C, len(sections), 0, 0, 0, OPTIONAL_SIZE, 0x10F)
    struct.pack_into("<H", head, OPTIONAL_AT, 0x10B)
    struct.pack_into("<II", head, OPTIONAL_AT + 32, 0x1000, 512)  # section, file alignment
    struct.pack_into("<I", head, OPTIONAL_AT + 92, 16)  # data directories
    if certificate:
        struct.pack_into("<II", head, OPTIONAL_AT + 96 + 8 * 4, 0x400, 8)
    body = bytearray()
    va = 0x1000
    for i, (name, flags, vsize, data) in enumerate(sections):
        padded = data + b"\0" * (-len(data) % 512)
        at = TABLE_AT + 40 * i
        head[at:at + 8] = name.encode().ljust(8, b"\0")
        struct.pack_into("<IIII", head, at + 8, vsize, va, len(padded),
                         512 + len(body) if padded else 0)
        struct.pack_into("<I", head, at + 36, flags)
        body += padded
        va += (vsize + 0xFFF) // 0x1000 * 0x1000
    return bytes(head + body + tail)


def section_table(image):
    count = struct.unpack_from("<H", image, PE_AT + 6)[0]
    rows = []
    for i in range(count):
        at = TABLE_AT + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode()
        vsize, va, raw_size, raw_pointer = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        rows.append({"name": name, "vsize": vsize, "va": va, "raw_size": raw_size,
                     "raw_pointer": raw_pointer, "flags": flags,
                     "data": image[raw_pointer:raw_pointer + raw_size]})
    return rows


def reference_checksum(image):
    field = OPTIONAL_AT + 64
    data = image[:field] + b"\0\0\0\0" + image[field + 4:]
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data[:len(data) // 2 * 2]))
    if len(data) % 2:
        total += data[-1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


CODE_BYTES = bytes(range(1, 256)) * 3
RESOURCES = b"\x01resource data\x02" * 20


def stub_like(data_bytes, data_vsize=0x5000):
    return build_image([
        (".text", CODE | IDATA | R | X, len(CODE_BYTES), CODE_BYTES),
        (".data", IDATA | R | W, data_vsize, data_bytes),
        (".rsrc", IDATA | R | W, len(RESOURCES), RESOURCES),
    ])


class FinishTest(unittest.TestCase):
    def test_zero_tail_of_data_leaves_the_file_and_later_sections_move_down(self):
        data = b"\x07" * 300 + b"\0" * 3000  # 7 blocks in the file, one of them used
        image = stub_like(data)
        finished, notes = stub_finish.finish(image)
        before, after = section_table(image), section_table(finished)
        self.assertEqual(len(finished), len(image) - 6 * 512)
        self.assertEqual([s["vsize"] for s in after], [s["vsize"] for s in before])
        self.assertEqual([s["va"] for s in after], [s["va"] for s in before])
        self.assertEqual(after[0]["data"], before[0]["data"])
        self.assertEqual(after[1]["raw_size"], 512)
        self.assertEqual(after[1]["data"], before[1]["data"][:512])
        self.assertEqual(after[2]["raw_pointer"], after[1]["raw_pointer"] + 512)
        self.assertEqual(after[2]["data"], before[2]["data"])
        self.assertIn(".data: 3072 bytes of zeros dropped from the file", notes)

    def test_flags_only_rsrc_loses_write(self):
        finished, _ = stub_finish.finish(stub_like(b"\x07" * 100))
        flags = {s["name"]: s["flags"] for s in section_table(finished)}
        self.assertEqual(flags[".text"], CODE | IDATA | R | X)
        self.assertEqual(flags[".data"], IDATA | R | W)
        self.assertEqual(flags[".rsrc"], IDATA | R)

    def test_header_totals_and_checksum_match_the_new_file(self):
        finished, _ = stub_finish.finish(stub_like(b"\x07" * 100 + b"\0" * 2000))
        code, initialised = struct.unpack_from("<II", finished, OPTIONAL_AT + 4)
        self.assertEqual(code, 1024)                # .text
        self.assertEqual(initialised, 1024 + 512 + 512)  # .text, .data, .rsrc
        checksum = struct.unpack_from("<I", finished, OPTIONAL_AT + 64)[0]
        self.assertEqual(checksum, reference_checksum(finished))
        self.assertNotEqual(checksum, 0)

    def test_second_run_changes_nothing(self):
        once, _ = stub_finish.finish(stub_like(b"\x07" * 700 + b"\0" * 5000))
        twice, notes = stub_finish.finish(once)
        self.assertEqual(twice, once)
        self.assertEqual(notes, [])

    def test_integrity_record_stays_in_the_file_even_when_all_zero(self):
        # The tag ends 4 bytes before a block boundary: its zero record crosses into the
        # next block, which must stay in the file for the packer to stamp it.
        for offset in (0, 200, 508 - 16, 512 - 16, 1024 - 28):
            with self.subTest(offset=offset):
                data = b"\0" * offset + TAG + b"\0" * 4000
                finished, _ = stub_finish.finish(stub_like(data))
                section = section_table(finished)[1]
                start = section["data"].find(TAG)
                self.assertEqual(start, offset)
                self.assertGreaterEqual(section["raw_size"], offset + 28)
                self.assertEqual(finished.count(TAG), 1)

    def test_section_of_zeros_keeps_no_file_data(self):
        finished, _ = stub_finish.finish(stub_like(b"\0" * 1024))
        section = section_table(finished)[1]
        self.assertEqual((section["raw_size"], section["raw_pointer"]), (0, 0))
        self.assertEqual(section["vsize"], 0x5000)
        self.assertEqual(section_table(finished)[2]["data"][:len(RESOURCES)], RESOURCES)

    def test_import_lookup_tables_are_cleared_and_leave_the_file(self):
        # .rsrc at 0x3000: two descriptors and a zero one, the address tables, the names,
        # and the lookup tables last, as stub_win32.ld lays them out.
        def imports(lookup_entries):
            va = 0x3000
            names = b"\0\0GetVersion\0\0\0MessageBoxA\0kernel32.dll\0user32.dll\0"
            iat_at, names_at = 60, 80
            ilt_at = names_at + len(names) + (-(names_at + len(names)) % 4)
            first_name, second_name = va + names_at, va + names_at + 14
            iat = struct.pack("<IIII", first_name, 0, second_name, 0)
            descriptors = (struct.pack("<IIIII", va + ilt_at, 0, 0, va + names_at + 28, va + iat_at) +
                           struct.pack("<IIIII", va + ilt_at + 8, 0, 0, va + names_at + 41, va + iat_at + 8) +
                           bytes(20))
            data = (descriptors + iat).ljust(names_at, b"\0") + names
            data = data.ljust(ilt_at, b"\0") + struct.pack("<IIII", *lookup_entries(first_name, second_name))
            image = bytearray(build_image([
                (".text", CODE | R | X, len(CODE_BYTES), CODE_BYTES),
                (".data", IDATA | R | W, 0x1000, b"\x07" * 16),
                (".rsrc", IDATA | R | W, len(data), data)]))
            struct.pack_into("<II", image, OPTIONAL_AT + 96 + 8, va, 60)
            return bytes(image), ilt_at

        image, ilt_at = imports(lambda a, b: (a, 0, b, 0))
        finished, notes = stub_finish.finish(image)
        rsrc = section_table(finished)[2]
        self.assertIn("imports: 16 bytes of lookup tables cleared", notes)
        self.assertEqual([struct.unpack_from("<I", rsrc["data"], 20 * i)[0] for i in range(2)],
                         [0, 0])  # the descriptors name no lookup table
        self.assertEqual(rsrc["data"][ilt_at:ilt_at + 16].strip(b"\0"), b"")
        self.assertEqual(rsrc["vsize"], section_table(image)[2]["vsize"])  # still mapped
        self.assertEqual(stub_finish.finish(finished)[0], finished)

        # A lookup table that does not repeat its address table is left to the loader.
        with self.assertRaises(stub_finish.StubError):
            stub_finish.finish(imports(lambda a, b: (b, 0, a, 0))[0])

    def test_refuses_what_it_cannot_move_safely(self):
        cases = {
            "bytes behind the last section": build_image(
                [(".text", CODE | R | X, 16, b"\x90" * 16)], tail=b"ZPXDE archive"),
            "a certificate table": build_image(
                [(".text", CODE | R | X, 16, b"\x90" * 16)], certificate=True),
            "not an executable": b"\0" * 1024,
        }
        image = bytearray(stub_like(b"\x07" * 10))
        struct.pack_into("<I", image, TABLE_AT + 40 + 20, 0x1000)  # .data moved elsewhere
        cases["sections out of order"] = bytes(image)
        for what, image in cases.items():
            with self.subTest(what):
                with self.assertRaises(stub_finish.StubError):
                    stub_finish.finish(image)


if __name__ == "__main__":
    unittest.main()

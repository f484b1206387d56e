#!/usr/bin/env python3
"""The section and import checks of check-stub.sh (scripts/pe_check.py), over small PE
images built by the stub_finish test's image builder."""
import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))
sys.path.insert(0, HERE)
import pe_check  # noqa: E402
from stub_finish_test import CODE, IDATA, OPTIONAL_AT, R, TAG, W, X, build_image  # noqa: E402

RECORD = TAG + bytes(12)


def stub(text_flags=R | X | CODE, data_flags=R | W | IDATA, data=RECORD, data_vsize=None):
    return build_image([(".text", text_flags, 0x200, b"\x90" * 16),
                        (".data", data_flags, data_vsize or 0x200, data)])


def importing(dlls):
    """A stub whose second section (at 0x2000) holds the record and an import directory
    naming these DLLs, as the linker lays it out (descriptors, a zero one, the names); the
    lookup tables are left out, as stub_finish.py leaves them."""
    names_at = 0x100
    descriptors, names = b"", b""
    for dll in dlls:
        descriptors += struct.pack("<IIIII", 0, 0, 0, 0x2000 + names_at + len(names), 0x2000 + 0xF0)
        names += dll.encode() + b"\0"
    data = (descriptors + bytes(20)).ljust(names_at, b"\0") + names + RECORD
    image = bytearray(stub(data=data))
    struct.pack_into("<II", image, OPTIONAL_AT + 96 + 8, 0x2000, len(descriptors) + 20)
    return bytes(image)


class PeCheck(unittest.TestCase):
    def test_a_sound_stub_passes_and_its_sections_are_shown(self):
        line, failures = pe_check.check("i686", stub())
        self.assertEqual(failures, [])
        self.assertEqual(line, "i686: sections: .text r-x 512 bytes in the file; "
                               ".data rw- 512 bytes in the file; imports: none")

    def test_failures(self):
        cases = [
            ("a section both writable and executable", stub(text_flags=R | W | X | CODE),
             "section .text is both writable and executable"),
            ("the record in executable code",
             build_image([(".text", R | X | CODE, 0x200, RECORD), (".data", R | W | IDATA, 0x200, b"")]),
             "the integrity record lies in executable section .text"),
            ("the record cut by the section's end in memory", stub(data_vsize=20),
             "the integrity record lies outside any section's file data"),
            ("the record behind the last section", build_image(
                [(".text", R | X | CODE, 0x200, b"\x90")], tail=RECORD),
             "the integrity record lies outside any section's file data"),
        ]
        for what, image, expected in cases:
            with self.subTest(what):
                _, failures = pe_check.check("x86_64", image)
                self.assertEqual(failures, ["x86_64 stub: " + expected])

    def test_imports_only_from_dlls_always_taken_from_the_system_folder(self):
        line, failures = pe_check.check("i686", importing(["KERNEL32.dll", "comdlg32.dll"]))
        self.assertEqual(failures, [])
        self.assertTrue(line.endswith("; imports: KERNEL32.dll comdlg32.dll"), line)
        cases = [
            (["KERNEL32.dll", "COMCTL32.dll"], "COMCTL32.dll"),  # side by side: no known DLL
            (["msvcrt.dll"], "msvcrt.dll"),                      # a C runtime
            (["uxtheme.dll", "user32.dll"], "uxtheme.dll"),      # looked up beside the program
        ]
        for dlls, refused in cases:
            with self.subTest(refused):
                _, failures = pe_check.check("x86_64", importing(dlls))
                self.assertEqual(failures, ["x86_64 stub imports %s, which Windows does not always "
                                            "load from its system folder" % refused])

    def test_a_stub_without_the_tag_is_left_to_the_tag_count(self):
        _, failures = pe_check.check("i686", stub(data=b"no record here"))
        self.assertEqual(failures, [])


if __name__ == "__main__":
    unittest.main()

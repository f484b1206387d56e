#!/usr/bin/env python3
"""The section check of check-stub.sh (scripts/pe_check.py), over small PE images built
by the stub_finish test's image builder."""
import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))
sys.path.insert(0, HERE)
import pe_check  # noqa: E402
from stub_finish_test import CODE, IDATA, R, TAG, W, X, build_image  # noqa: E402

RECORD = TAG + bytes(12)


def stub(text_flags=R | X | CODE, data_flags=R | W | IDATA, data=RECORD, data_vsize=None):
    return build_image([(".text", text_flags, 0x200, b"\x90" * 16),
                        (".data", data_flags, data_vsize or 0x200, data)])


class PeCheck(unittest.TestCase):
    def test_a_sound_stub_passes_and_its_sections_are_shown(self):
        line, failures = pe_check.check("i686", stub())
        self.assertEqual(failures, [])
        self.assertEqual(line, "i686: sections: .text r-x 512 bytes in the file; "
                               ".data rw- 512 bytes in the file")

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

    def test_a_stub_without_the_tag_is_left_to_the_tag_count(self):
        _, failures = pe_check.check("i686", stub(data=b"no record here"))
        self.assertEqual(failures, [])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Checks the sections of a Win32 stub: none both writable and executable, and the
integrity record (its tag and the 12 bytes behind it) inside the file data of a section
that is not executable. Prints the sections; exits 1 on a failure.

usage: pe_check.py ARCH STUB"""
import struct
import sys

TAG = b"ZPX-INTEGRITY-v1"
RECORD_END = len(TAG) + 12
READ, WRITE, EXECUTE = 0x40000000, 0x80000000, 0x20000000


def sections(image):
    """(name, virtual size, file size, file offset, flags) of every section."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    rows = []
    for i in range(count):
        at = table + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, _, raw_size, raw_pointer = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        rows.append((name, vsize, raw_size, raw_pointer, flags))
    return rows


def mode(flags):
    return (("r" if flags & READ else "-") + ("w" if flags & WRITE else "-") +
            ("x" if flags & EXECUTE else "-"))


def check(arch, image):
    """Returns (the sections line, the failures)."""
    failures = []
    shown = []
    tag = image.find(TAG)
    record_home = None
    for name, vsize, raw_size, raw_pointer, flags in sections(image):
        shown.append("%s %s %d bytes in the file" % (name, mode(flags), raw_size))
        if flags & WRITE and flags & EXECUTE:
            failures.append("%s stub: section %s is both writable and executable" % (arch, name))
        if tag >= 0 and raw_pointer <= tag and tag + RECORD_END <= raw_pointer + min(raw_size, vsize):
            record_home = (name, flags)
    if tag >= 0 and (record_home is None or record_home[1] & EXECUTE):
        where = ("outside any section's file data" if record_home is None
                 else "in executable section " + record_home[0])
        failures.append("%s stub: the integrity record lies %s" % (arch, where))
    return "%s: sections: %s" % (arch, "; ".join(shown)), failures


def main(argv):
    arch, path = argv[1], argv[2]
    with open(path, "rb") as f:
        line, failures = check(arch, f.read())
    print(line)
    for failure in failures:
        print("FAIL " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

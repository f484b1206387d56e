#!/usr/bin/env python3
"""Checks the sections and imports of a Win32 stub: no section both writable and
executable; the integrity record (its tag and the 12 bytes behind it) inside the file data
of a section that is not executable; and no DLL imported but those that Windows always
loads from its system folder (known DLLs), since the stub runs from a downloads folder
where a DLL of any other name could be planted beside it. Prints the sections and
imported DLLs; exits 1 on a failure.

usage: pe_check.py ARCH STUB"""
import struct
import sys

TAG = b"ZPX-INTEGRITY-v1"
RECORD_END = len(TAG) + 12
READ, WRITE, EXECUTE = 0x40000000, 0x80000000, 0x20000000
# Known DLLs the stub may import: Windows maps these from its system folder whatever lies
# beside the program. Not comctl32 (a side-by-side assembly) nor a C runtime.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "comdlg32.dll", "ole32.dll"}


def sections(image):
    """(name, virtual size, file size, file offset, flags, address) of every section."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    rows = []
    for i in range(count):
        at = table + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, va, raw_size, raw_pointer = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        rows.append((name, vsize, raw_size, raw_pointer, flags, va))
    return rows


def imported_dlls(image, rows):
    """The names of the DLLs in the import directory, in order."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", image, optional)[0] == 0x10B else 112)
    if struct.unpack_from("<I", image, directories - 4)[0] < 2:
        return []
    rva = struct.unpack_from("<I", image, directories + 8)[0]

    def offset(address):
        for _, vsize, raw_size, raw_pointer, _, va in rows:
            if va <= address < va + min(vsize, raw_size):
                return raw_pointer + address - va
        raise ValueError("import data at 0x%x lies outside the file data" % address)

    names = []
    at = offset(rva) if rva else None
    while at is not None:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", image, at)
        if not (lookup or name or first):
            break
        start = offset(name)
        names.append(image[start:image.index(b"\0", start)].decode("ascii", "replace"))
        at += 20
    return names


def mode(flags):
    return (("r" if flags & READ else "-") + ("w" if flags & WRITE else "-") +
            ("x" if flags & EXECUTE else "-"))


def check(arch, image):
    """Returns (the sections line, the failures)."""
    failures = []
    shown = []
    tag = image.find(TAG)
    record_home = None
    rows = sections(image)
    for name, vsize, raw_size, raw_pointer, flags, _ in rows:
        shown.append("%s %s %d bytes in the file" % (name, mode(flags), raw_size))
        if flags & WRITE and flags & EXECUTE:
            failures.append("%s stub: section %s is both writable and executable" % (arch, name))
        if tag >= 0 and raw_pointer <= tag and tag + RECORD_END <= raw_pointer + min(raw_size, vsize):
            record_home = (name, flags)
    if tag >= 0 and (record_home is None or record_home[1] & EXECUTE):
        where = ("outside any section's file data" if record_home is None
                 else "in executable section " + record_home[0])
        failures.append("%s stub: the integrity record lies %s" % (arch, where))
    try:
        dlls = imported_dlls(image, rows)
    except (ValueError, struct.error) as error:
        dlls = []
        failures.append("%s stub: the import directory cannot be read: %s" % (arch, error))
    for dll in dlls:
        if dll.lower() not in SYSTEM_DLLS:
            failures.append("%s stub imports %s, which Windows does not always load from its "
                            "system folder" % (arch, dll))
    return ("%s: sections: %s; imports: %s" % (arch, "; ".join(shown), " ".join(dlls) or "none"),
            failures)


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

#!/usr/bin/env python3
"""Finishes the linked Win32 stub in place, after every link.

The linker writes the zero-initialised tail of .data into the file (about 17 KB of zeros)
and always marks .rsrc writable; its import lookup tables repeat the import address table
entry for entry. This clears those lookup tables and the descriptors' references to them
(the loader then reads the names from the address table itself, which holds the same
until it is filled in; stub_win32.ld puts the tables at the end of their section), drops whole file-alignment blocks of zeros at the end
of each section's file data (the loader zero-fills a section beyond its file data up to its
virtual size, so the image in memory is the same), moves the later sections down, clears
the write flag of .rsrc and recomputes the header checksum. Running it twice changes
nothing. It refuses a file it does not fully understand rather than guess.

usage: stub_finish.py STUB.exe
"""
import struct
import sys

SCN_CNT_CODE = 0x00000020
SCN_CNT_INITIALIZED_DATA = 0x00000040
SCN_MEM_WRITE = 0x80000000
INTEGRITY_TAG = b"ZPX-INTEGRITY-v1"
INTEGRITY_BLOCK_SIZE = 16 + 12  # the tag and the three fields of the record behind it


class StubError(Exception):
    pass


def pe_checksum(image, field):
    """The header checksum: 16-bit words summed with end-around carry, the checksum
    field counted as zero, plus the file length."""
    data = bytearray(image)
    data[field:field + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + len(image)) & 0xFFFFFFFF


def round_up(value, step):
    return (value + step - 1) // step * step


def clear_lookup_tables(image, directories, directory_count, sections, entry_size):
    """Clears every import lookup table that repeats its address table, and the
    descriptor's reference to it, in place; returns the bytes cleared."""
    if directory_count < 2:
        return 0
    rva, _ = struct.unpack_from("<II", image, directories + 8)
    if not rva:
        return 0

    def offset(address):
        for s in sections:
            if s["va"] <= address < s["va"] + min(s["vsize"], s["raw_size"]):
                return s["raw_pointer"] + address - s["va"]
        raise StubError("import data at 0x%x lies outside the file data" % address)

    zero = bytes(entry_size)
    cleared = 0
    at = offset(rva)
    while True:
        lookup, stamp, _, name, first = struct.unpack_from("<IIIII", image, at)
        if not (lookup or name or first):
            return cleared
        if lookup:
            if stamp:
                raise StubError("bound imports: the address table does not hold the names")
            table, addresses = offset(lookup), offset(first)
            count = 0
            while True:
                entry = image[table + count * entry_size:table + (count + 1) * entry_size]
                if entry != image[addresses + count * entry_size:addresses + (count + 1) * entry_size]:
                    raise StubError("an import lookup table differs from its address table")
                count += 1
                if entry == zero:
                    break
            image[table:table + count * entry_size] = bytes(count * entry_size)
            struct.pack_into("<I", image, at, 0)
            cleared += count * entry_size
        at += 20


def finish(image):
    """Returns the finished image and a list of what changed."""
    if image[:2] != b"MZ" or len(image) < 0x40:
        raise StubError("not an MZ executable")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise StubError("no PE signature")
    count, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", image, optional)
    if magic == 0x10B:
        directories = optional + 96
    elif magic == 0x20B:
        directories = optional + 112
    else:
        raise StubError("unknown optional header 0x%x" % magic)
    file_alignment, = struct.unpack_from("<I", image, optional + 36)
    checksum_field = optional + 64
    directory_count, = struct.unpack_from("<I", image, directories - 4)
    # File offsets that would go stale when sections move: the certificate table (entry 4,
    # a file offset) and the debug directory (entry 6, holds file offsets).
    for index in (4, 6):
        if index < directory_count:
            rva, size = struct.unpack_from("<II", image, directories + 8 * index)
            if rva or size:
                raise StubError("data directory %d is in use; cannot move sections" % index)

    headers = optional + optional_size
    sections = []
    for i in range(count):
        at = headers + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, va, raw_size, raw_pointer = struct.unpack_from("<IIII", image, at + 8)
        flags, = struct.unpack_from("<I", image, at + 36)
        sections.append({"at": at, "name": name, "vsize": vsize, "va": va,
                         "raw_size": raw_size, "raw_pointer": raw_pointer, "flags": flags})

    # The section data must follow the headers in order, back to back, with nothing
    # behind the last one (no archive appended yet, no symbol table).
    with_data = [s for s in sections if s["raw_size"]]
    position = min((s["raw_pointer"] for s in with_data), default=len(image))
    header_end = position
    for s in with_data:
        if s["raw_pointer"] != position:
            raise StubError("section %s is not where the previous one ends" % s["name"])
        position += s["raw_size"]
    if position != len(image):
        raise StubError("the file has %d bytes behind its last section" % (len(image) - position))

    notes = []
    image = bytearray(image)
    cleared = clear_lookup_tables(image, directories, directory_count, sections,
                                  4 if magic == 0x10B else 8)
    if cleared:
        notes.append("imports: %d bytes of lookup tables cleared" % cleared)
    out = bytearray(image[:header_end])
    position = header_end
    for s in sections:
        data = image[s["raw_pointer"]:s["raw_pointer"] + s["raw_size"]]
        used = len(data.rstrip(b"\0"))
        tag = data.find(INTEGRITY_TAG)
        if tag >= 0:
            used = max(used, tag + INTEGRITY_BLOCK_SIZE)
        kept = round_up(used, file_alignment) if used else 0
        if kept < s["raw_size"]:
            notes.append("%s: %d bytes of zeros dropped from the file" % (s["name"], s["raw_size"] - kept))
        flags = s["flags"]
        if s["name"] == ".rsrc" and flags & SCN_MEM_WRITE:
            flags &= ~SCN_MEM_WRITE
            notes.append(".rsrc: made read-only")
        struct.pack_into("<II", out, s["at"] + 16, kept, position if kept else 0)
        struct.pack_into("<I", out, s["at"] + 36, flags)
        s["kept"] = kept
        out += data[:kept]
        position += kept

    # The header's totals of file data in code and in initialised-data sections.
    code = sum(s["kept"] for s in sections if s["flags"] & SCN_CNT_CODE)
    initialised = sum(s["kept"] for s in sections if s["flags"] & SCN_CNT_INITIALIZED_DATA)
    struct.pack_into("<II", out, optional + 4, code, initialised)
    struct.pack_into("<I", out, checksum_field, pe_checksum(out, checksum_field))
    return bytes(out), notes


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        image = f.read()
    try:
        finished, notes = finish(image)
    except StubError as error:
        print("stub_finish: %s: %s" % (argv[1], error), file=sys.stderr)
        return 1
    if finished != image:
        with open(argv[1], "wb") as f:
            f.write(finished)
    for note in notes:
        print("stub_finish: %s" % note)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

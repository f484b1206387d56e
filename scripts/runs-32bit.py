#!/usr/bin/env python3
"""Tells whether this machine runs 32-bit x86 programs, which 32-bit Wine (and with it the
i686 stub) needs: writes a 93-byte static i386 program that only exits, and runs it.
Exit status 0 when it ran; 1, with the reason on standard error, when it did not (some
kernels and sandboxes refuse 32-bit programs with "Exec format error").

usage: runs-32bit.py
"""
import os
import struct
import subprocess
import sys
import tempfile


def tiny_i386_program():
    code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # exit(0) through int 0x80
    base, header, segment = 0x08048000, 52, 32
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)  # 32-bit, little-endian, version 1
    elf = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + header + segment, header, 0, 0,
                              header, segment, 1, 0, 0, 0)
    size = header + segment + len(code)
    return elf + struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000) + code


def main():
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "probe32")
        with open(path, "wb") as out:
            out.write(tiny_i386_program())
        os.chmod(path, 0o755)
        try:
            result = subprocess.run([path], capture_output=True, timeout=10)
        except OSError as error:
            print("this machine cannot run 32-bit x86 programs: %s" % error.strerror,
                  file=sys.stderr)
            return 1
    if result.returncode != 0:
        print("a 32-bit x86 program ended with status %d" % result.returncode, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes the larger fuzz seeds: archives packed by zpx from small generated trees.

usage: make-fuzz-seeds.py ZPX

fuzz/corpus/walk_big (fuzz_archive_reader, directory walk over a whole archive) and
fuzz/corpus-extract/* (fuzz_extract). The big tree holds a file whose one compressed
chunk is longer than 100 KB (loaded in several fills), a file of two blocks (the second
keeps a window of the first), and enough entries for two directory blocks, so that the
second is read between two entries of the solid stream. Deterministic: the same zpx
writes the same seeds.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def skewed(rng, size):
    # About 6.5 bits per byte: compressible, but not below 100 KB for 130 KB.
    weights = [0.975 ** k for k in range(256)]
    return bytes(rng.choices(range(256), weights=weights, k=size))


def big_tree(path, rng):
    os.makedirs(os.path.join(path, "data"))
    with open(os.path.join(path, "data", "big.bin"), "wb") as f:
        f.write(skewed(rng, 130000))
    lines = [("line %d of a long text that repeats itself\n" % (i % 977)).encode() for i in range(30000)]
    with open(os.path.join(path, "long.txt"), "wb") as f:
        f.write(b"".join(lines))
    for i in range(100):
        name = "entry-%03d-with-a-name-long-enough-to-fill-directory-blocks.txt" % i
        with open(os.path.join(path, name), "wb") as f:
            f.write(("contents %d\n" % i).encode())


def small_tree(path, rng):
    os.makedirs(os.path.join(path, "sub", "deep"))
    with open(os.path.join(path, "readme.txt"), "w") as f:
        f.write("hello\n" * 20)
    with open(os.path.join(path, "sub", "deep", "data.bin"), "wb") as f:
        f.write(skewed(rng, 3000))
    with open(os.path.join(path, "sub", "empty.txt"), "w") as f:
        pass
    hidden = os.path.join(path, "sub", "hidden.txt")
    with open(hidden, "w") as f:
        f.write("hidden and read-only\n")
    os.setxattr(hidden, "user.zarpex.attributes", b"2")
    os.chmod(hidden, 0o444)


def pack(zpx, tree, level):
    out = tree + ".zpx"
    subprocess.run([zpx, "build", "-o", out, "-%d" % level, tree], check=True,
                   stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("%s: %d bytes" % (os.path.relpath(path, ROOT), len(data)))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    zpx = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    try:
        rng = random.Random(9)
        big = os.path.join(work, "big")
        big_tree(big, rng)
        big_archive = pack(zpx, big, 6)
        small = os.path.join(work, "small")
        small_tree(small, rng)
        small_archive = pack(zpx, small, 9)
    finally:
        shutil.rmtree(work)
    # fuzz_archive_reader: byte 0 = 3 (directory walk over a whole archive), 8 bytes unused.
    write(os.path.join(ROOT, "fuzz", "corpus", "walk_big"), bytes([3]) + bytes(8) + big_archive)
    # fuzz_extract: options, Cancel at, answers. Once, asking; twice over the first run's
    # files with mixed answers; once with the small file-size limit.
    extract = os.path.join(ROOT, "fuzz", "corpus-extract")
    write(os.path.join(extract, "big"), bytes([0, 0, 0, 0]) + big_archive)
    write(os.path.join(extract, "small_twice"), bytes([1, 0, 0x5A, 0x3C]) + small_archive)
    write(os.path.join(extract, "small_limit_cancel"), bytes([6, 5, 0, 0]) + small_archive)


if __name__ == "__main__":
    main()

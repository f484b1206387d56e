#!/usr/bin/env python3
"""The build lists its sources by name: every C++ source file of the repository must be
named by a CMake file, or a new file would silently stay out of the build."""
import os
import sys
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def cmake_text():
    text = []
    for folder, _, files in os.walk(ROOT):
        if "/build" in folder or "/.git" in folder:
            continue
        for name in files:
            if name == "CMakeLists.txt" or name.endswith(".cmake"):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    text.append(f.read())
    return "\n".join(text)


def sources():
    for top in ("src", "tests", "bench", "fuzz"):
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in files:
                if name.endswith(".cpp"):
                    yield os.path.relpath(os.path.join(folder, name), ROOT)


class SourceLists(unittest.TestCase):
    def test_every_source_is_listed(self):
        text = cmake_text()
        missing = [path for path in sources()
                   if os.path.basename(path) not in text]
        self.assertEqual(missing, [], "sources no CMake file names")


if __name__ == "__main__":
    sys.dont_write_bytecode = True
    unittest.main()

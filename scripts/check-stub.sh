#!/usr/bin/env bash
# Prints the size, sections and imported DLLs of the Win32 stubs, and fails when the i686
# stub (the product) passes 20,992 bytes or the x86_64 one 23,552, when a stub imports a
# DLL that Windows does not always load from its system folder (pe_check.py; no C or C++
# runtime either), when any of its sections is both writable and executable, or when the
# integrity record's tag is not in it exactly once, with the record behind it in the file
# data of a section that is not executable.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=20992
aim=20480
limit_x86_64=23552
status=0

for arch in i686 x86_64; do
  stub="build/mingw-$arch/zarpex-setup.exe"
  if [ ! -f "$stub" ]; then
    if [ -f src/installer/install_sequence.cpp ]; then
      echo "FAIL $stub is missing: build the mingw-$arch preset first" >&2
      status=1
    else
      echo "$arch: stub not built yet (the core has no install sequence yet)"
    fi
    continue
  fi
  size=$(stat -c %s "$stub")
  dlls=$("$arch-w64-mingw32-objdump" -p "$stub" | sed -n 's/^[[:space:]]*DLL Name: //p' |
         tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  subsystem=$("$arch-w64-mingw32-objdump" -p "$stub" | awk '/^Subsystem/ {print $2}')
  echo "$arch: $stub $size bytes; imports: $dlls"
  if [ "$subsystem" != "00000002" ]; then
    echo "FAIL $arch stub is not a GUI program (subsystem $subsystem)" >&2
    status=1
  fi
  tags=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().count(b"ZPX-INTEGRITY-v1"))' "$stub")
  if [ "$tags" != 1 ]; then
    echo "FAIL $arch stub holds the integrity tag $tags times, not once" >&2
    status=1
  fi
  python3 scripts/pe_check.py "$arch" "$stub" || status=1
  if [ "$arch" = x86_64 ] && [ "$size" -gt "$limit_x86_64" ]; then
    echo "FAIL x86_64 stub is $size bytes, over the limit of $limit_x86_64" >&2
    status=1
  fi
  if [ "$arch" = i686 ]; then
    if [ "$size" -gt "$limit" ]; then
      echo "FAIL i686 stub is $size bytes, over the limit of $limit" >&2
      status=1
    elif [ "$size" -gt "$aim" ]; then
      echo "note: i686 stub is within $limit bytes but above the aim of $aim"
    fi
  fi
done
exit $status

#!/usr/bin/env bash
# Assembles the benchmark corpus under bench/corpus from files that Debian packages
# install (see scripts/setup.sh), so every fresh machine gets the same bytes:
#   executables: the MinGW-w64 i686 runtime DLLs, stripped as they are shipped
#   executables-large: the same DLLs as the packages install them (with their debugging
#                sections), the payload of a typical vendor's runtime folder
#   text:        the C++ standard library headers
#   mixed:       an application-like tree: stripped Windows programs, a Linux binary,
#                CMake's modules and templates, bitmap fonts
set -euo pipefail
cd "$(dirname "$0")/.."
out=bench/corpus
rm -rf "$out"
mkdir -p "$out/executables" "$out/executables-large" "$out/text" "$out/mixed/bin" "$out/mixed/share"

gcc_dir=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-win32 | sort -V | tail -1)
for dll in "$gcc_dir"/*.dll /usr/i686-w64-mingw32/lib/*.dll; do
  i686-w64-mingw32-strip -o "$out/executables/$(basename "$dll")" "$dll"
  cp "$dll" "$out/executables-large/"
done

cxx_dir=$(ls -d /usr/include/c++/[0-9]* | sort -V | tail -1)
cp -r "$cxx_dir/." "$out/text/"

wine_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
for exe in notepad.exe regedit.exe winecfg.exe; do
  x86_64-w64-mingw32-strip -o "$out/mixed/bin/$exe" "$wine_dir/$exe"
done
cp /usr/bin/ninja "$out/mixed/bin/"
cmake_dir=$(ls -d /usr/share/cmake-[0-9]* | sort -V | tail -1)
cp -r "$cmake_dir/Modules" "$cmake_dir/Templates" "$out/mixed/share/"
mkdir -p "$out/mixed/fonts"
cp /usr/share/wine/fonts/*.fon "$out/mixed/fonts/"

# Fixed times, so archives of the corpus are the same everywhere too.
find "$out" -exec touch -h -d '2024-01-01 00:00:00 UTC' {} +
for d in executables executables-large text mixed; do
  printf '%-17s %6d files %10d bytes\n' "$d" "$(find "$out/$d" -type f | wc -l)" \
    "$(find "$out/$d" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')"
done

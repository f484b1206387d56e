#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine (run as root).
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ clang llvm libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool imagemagick fonts-wine x11-utils
  zlib1g-dev libdeflate-dev libzstd-dev liblzma-dev
  python3 file
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# 32-bit Wine runs the i686 stub directly; it is optional and often not installable.
if ! dpkg -s wine32:i386 >/dev/null 2>&1 && [ "${ZARPEX_TRY_WINE32:-0}" = 1 ]; then
  if dpkg --add-architecture i386 && apt-get update -q && apt-get install -y -q wine32:i386; then
    echo "wine32 installed"
  else
    echo "wine32 not installable here; the i686 stub is built but not run" >&2
    apt-get remove -y -q '*:i386' >/dev/null 2>&1 || true
    dpkg --remove-architecture i386 || true
  fi
fi

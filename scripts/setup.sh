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
  osslsigncode openssl nsis
  python3 file
  lintian man-db
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

# 32-bit Wine runs the i686 stub, the product, in the tests under Wine. It needs the i386
# architecture (and upgrades some amd64 packages), and a machine that runs 32-bit x86
# programs at all: where the kernel refuses them it would only break the `wine` command
# for 64-bit programs, so it is not installed there. If the attempt fails, only what it
# added is removed: other i386 packages on the machine stay.
installed_i386() {
  dpkg-query -W -f '${db:Status-Abbrev} ${binary:Package}\n' 2>/dev/null |
    awk '$1 == "ii" && $2 ~ /:i386$/ {print $2}' | sort
}
if ! dpkg -s wine32:i386 >/dev/null 2>&1 &&
   ! python3 "$(dirname "$0")/runs-32bit.py"; then
  echo "wine32:i386 not installed: the tests under Wine cannot run the i686 stub on this machine" >&2
elif ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  added_architecture=0
  if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
    dpkg --add-architecture i386
    added_architecture=1
  fi
  before=$(installed_i386)
  if DEBIAN_FRONTEND=noninteractive apt-get update -q &&
     DEBIAN_FRONTEND=noninteractive apt-get install -y -q wine32:i386; then
    echo "wine32 installed"
  else
    echo "wine32:i386 could not be installed: the tests under Wine will fail for the i686 stub" >&2
    added=$(comm -13 <(echo "$before") <(installed_i386))
    if [ -n "$added" ]; then
      # shellcheck disable=SC2086
      apt-get remove -y -q $added >/dev/null 2>&1 || true
    fi
    if [ "$added_architecture" = 1 ] && [ -z "$(installed_i386)" ]; then
      dpkg --remove-architecture i386 || true
    fi
  fi
fi

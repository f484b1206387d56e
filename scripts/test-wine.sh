#!/usr/bin/env bash
# Runs the tests under Wine: the Win32 file and system layers, then the installer itself,
# headless under Xvfb: every scenario for the i686 stub (the product) first, then for the
# x86_64 stub, each in a Wine prefix of its own. Needs both mingw presets and build/host/zpx.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in wine Xvfb xdotool python3 osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
for arch in i686 x86_64; do
  if [ ! -f "build/mingw-$arch/tests/wine/platform_probe.exe" ]; then
    echo "FAIL build the mingw-$arch preset first" >&2
    exit 1
  fi
done
exec timeout 1800 python3 tests/wine/wine_tests.py "$@"

#!/usr/bin/env bash
# Runs the tests under Wine: the Win32 file and system layers, then the installer itself
# (x86_64 stub; the i686 one too where 32-bit Wine is installed), headless under Xvfb.
# Needs the mingw presets built and, for the installer tests, build/host/zpx.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in wine Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
if [ ! -f build/mingw-x86_64/tests/wine/platform_probe.exe ]; then
  echo "FAIL build the mingw-x86_64 preset first" >&2
  exit 1
fi
exec timeout 900 python3 tests/wine/wine_tests.py "$@"

#!/usr/bin/env bash
# Install time under Wine of the large payload: our installer at the default level and at
# -9 (every copy stored, and identical files stored once) against an NSIS installer
# (SetCompressor /SOLID lzma, run with /S), best of three, net of Wine's fixed cost
# (bench/install_bench.py says how). Builds what it needs first; --arch i686|x86_64.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in wine Xvfb xdotool makensis python3; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
for preset in host mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 >/dev/null
done
exec timeout 3600 python3 bench/install_bench.py "$@"

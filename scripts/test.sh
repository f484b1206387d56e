#!/usr/bin/env bash
# Sets up the machine and runs every check: host build and tests, the sanitizer build
# and tests, the Win32 builds, and the tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
echo "== source format"
bash scripts/check-format.sh

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

echo "== sanitizer build (ASan + UBSan) and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

for preset in mingw-i686 mingw-x86_64; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== Debian package: lintian, installed into a scratch root, used"
bash scripts/package-test.sh

if [ -x scripts/check-stub.sh ]; then
  echo "== stub size and imports"
  bash scripts/check-stub.sh
fi
if [ -x scripts/test-wine.sh ]; then
  echo "== tests under Wine"
  bash scripts/test-wine.sh
fi
echo "== all checks passed"

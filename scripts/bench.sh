#!/usr/bin/env bash
# Builds the benchmark, assembles the corpus when it is missing, and prints the tables
# (markdown) of the packer against zlib, libdeflate, zstd and xz, then those of
# scripts/bench-packer.sh (the runtime DLL folder against xz, zstd and NSIS installers,
# threads, peak memory, a pack of 1 GiB).
#   scripts/bench.sh [--levels 1,5,9]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d bench/corpus/executables ] || bash scripts/bench-corpus.sh >&2
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target compare_bench >&2
build/host/bench/compare_bench bench/corpus "$@"
echo
bash scripts/bench-packer.sh

#!/usr/bin/env bash
# Builds the benchmark, assembles the corpus when it is missing, and prints the table
# (markdown) of the packer against zlib, libdeflate, zstd and xz.
#   scripts/bench.sh [--levels 1,5,9]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d bench/corpus/executables ] || bash scripts/bench-corpus.sh >&2
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target compare_bench >&2
exec build/host/bench/compare_bench bench/corpus "$@"

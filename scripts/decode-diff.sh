#!/usr/bin/env bash
# Compares the decoder of the working tree with that of another revision on the same
# inputs, damaged copies included: bench/decode_diff.cpp is built against both sources,
# with 64-bit and with 32-bit words (ZARPEX_NARROW_WORD, as the i686 stub decodes), and
# every line it prints must be the same.
#
# Usage: scripts/decode-diff.sh REVISION MUTATIONS [ARCHIVE...]
# Inputs: the given archives, the archive reader's fuzz seeds (fuzz/corpus) and the
# extraction's (fuzz/corpus-extract); MUTATIONS damaged copies of each.
set -euo pipefail
cd "$(dirname "$0")/.."
revision=$1
mutations=$2
shift 2

work=$(mktemp -d /tmp/decode-diff-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/base"
git archive "$revision" src | tar -x -C "$work/base"

build() {  # tree output [defines]
  local tree=$1 out=$2
  shift 2
  local sources=("$tree"/src/codec/*.cpp "$tree"/src/archive/directory.cpp
    "$tree"/src/platform/last_os_error.cpp "$tree"/src/platform/posix/*.cpp
    "$tree"/src/state/install_state.cpp)
  if [ -d "$tree/src/common" ]; then sources+=("$tree"/src/common/*.cpp); fi
  g++ -std=c++20 -O2 -DNDEBUG "$@" -I"$tree/src" bench/decode_diff.cpp "${sources[@]}" -o "$out"
}

for words in wide narrow; do
  defines=()
  if [ $words = narrow ]; then defines=(-DZARPEX_NARROW_WORD); fi
  build "$work/base" "$work/base-$words" "${defines[@]}" &
  build . "$work/new-$words" "${defines[@]}"
  wait
done

status=0
for words in wide narrow; do
  for side in base new; do
    bin="$work/$side-$words"
    {
      if [ $# -gt 0 ]; then "$bin" --mutations "$mutations" "$@"; fi
      "$bin" --mutations "$mutations" --fuzz-reader 1 fuzz/corpus/*
      "$bin" --mutations "$mutations" --skip 4 fuzz/corpus-extract/*
    } > "$work/$side-$words.txt"
  done
  lines=$(wc -l < "$work/new-$words.txt")
  if cmp -s "$work/base-$words.txt" "$work/new-$words.txt"; then
    echo "$words words: $lines inputs decoded the same"
  else
    echo "$words words: DIFFERENT on $(diff "$work/base-$words.txt" "$work/new-$words.txt" |
      grep -c '^>') of $lines inputs:" >&2
    diff "$work/base-$words.txt" "$work/new-$words.txt" | grep '^>' | head -20 >&2
    status=1
  fi
done
exit $status

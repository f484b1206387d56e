#!/usr/bin/env bash
# The packer as a release build uses it: zpx build on the runtime DLL folder
# (bench/corpus/executables-large) against xz, zstd and NSIS installers of the same
# files; packing time and peak memory with one thread and with every core; and a pack of
# 1 GiB generated on the fly, to show that memory does not grow with the payload. Prints
# markdown. Run by scripts/bench.sh; alone: scripts/bench-packer.sh [--no-stream]
set -euo pipefail
cd "$(dirname "$0")/.."
stream=1
[ "${1:-}" = "--no-stream" ] && stream=0
[ -d bench/corpus/executables-large ] || bash scripts/bench-corpus.sh >&2
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target zpx >&2
zpx=build/host/zpx
corpus=${ZARPEX_BENCH_DLLS:-bench/corpus/executables-large}
cores=$(nproc)
work=$(mktemp -d /tmp/zarpex-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs a command under /usr/bin/time; sets $user, $wall (seconds) and $rss (MB).
timed() {
  /usr/bin/time -f '%U %e %M' -o "$work/time" "$@" >/dev/null
  read -r user wall rss_kb <"$work/time"
  rss=$((rss_kb / 1024))
}
size_of() { stat -c %s "$1"; }

input=$(find "$corpus" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
files=$(find "$corpus" -type f | wc -l)
echo "### Runtime DLL folder ($files files, $input bytes)" >&2

# Our packs: sizes, and time and memory with one thread and with every core.
declare -A size
rows=()
for level in 9 7; do
  for threads in 1 "$cores"; do
    timed "$zpx" build "-$level" -T "$threads" -o "$work/zpx-$level-$threads.zpx" "$corpus"
    size[zpx$level]=$(size_of "$work/zpx-$level-$threads.zpx")
    rows+=("| -$level | $threads | ${size[zpx$level]} | $user | $wall | $rss |")
    echo "  zpx -$level -T $threads: ${size[zpx$level]} bytes, ${user} s user, ${wall} s wall, $rss MB" >&2
  done
  cmp -s "$work/zpx-$level-1.zpx" "$work/zpx-$level-$cores.zpx" ||
    echo "  zpx -$level: the output differs between -T 1 and -T $cores" >&2
done

# The others, over the files joined in the same order.
find "$corpus" -type f | LC_ALL=C sort | xargs cat >"$work/joined"
timed sh -c "xz -9 --format=xz --x86 --lzma2=preset=9,dict=512KiB -T1 -c '$work/joined' >'$work/x.xz'"
size[xz]=$(size_of "$work/x.xz"); time_xz="$user"
timed sh -c "zstd -q -19 --zstd=wlog=19 -T1 -c '$work/joined' >'$work/x.zst'"
size[zstd]=$(size_of "$work/x.zst"); time_zstd="$user"
timed sh -c "zstd -q -19 --long -T1 -c '$work/joined' >'$work/x.zst'"
size[zstdlong]=$(size_of "$work/x.zst"); time_zstdlong="$user"
if command -v makensis >/dev/null; then
  for method in lzma zlib; do
    solid=""
    [ "$method" = lzma ] && solid="/SOLID "
    cat >"$work/$method.nsi" <<NSI
Unicode true
SetCompressor $solid$method
OutFile "$work/setup-$method.exe"
InstallDir "\$PROGRAMFILES\\Zarpex"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File /r "$(realpath "$corpus")/*.*"
SectionEnd
NSI
    timed makensis -V1 "$work/$method.nsi"
    size[nsis$method]=$(size_of "$work/setup-$method.exe")
    eval "time_nsis$method=\$user"
  done
else
  size[nsislzma]=""
  size[nsiszlib]=""
fi

ratio() { [ -n "$1" ] && awk -v a="$1" -v b="${size[zpx9]}" 'BEGIN {printf "%.3f", a / b}' || echo "-"; }
echo "#### Compressed size of the runtime DLL folder ($files files, $input bytes)"
echo
echo "| | bytes | vs zpx -9 | compression time (s, one core) |"
echo "|---|---:|---:|---:|"
echo "| zpx build -9 | ${size[zpx9]} | 1 | $(echo "${rows[0]}" | awk -F'|' '{print $5}' | tr -d ' ') |"
echo "| zpx build -7 | ${size[zpx7]} | $(ratio "${size[zpx7]}") | $(echo "${rows[2]}" | awk -F'|' '{print $5}' | tr -d ' ') |"
echo "| xz -9, x86 filter, 512 KiB dictionary | ${size[xz]} | $(ratio "${size[xz]}") | $time_xz |"
echo "| zstd -19, 512 KiB window | ${size[zstd]} | $(ratio "${size[zstd]}") | $time_zstd |"
echo "| zstd -19 --long (128 MiB window) | ${size[zstdlong]} | $(ratio "${size[zstdlong]}") | $time_zstdlong |"
if [ -n "${size[nsislzma]}" ]; then
  echo "| NSIS installer, /SOLID lzma (8 MiB dictionary) | ${size[nsislzma]} | $(ratio "${size[nsislzma]}") | ${time_nsislzma} |"
  echo "| NSIS installer, zlib | ${size[nsiszlib]} | $(ratio "${size[nsiszlib]}") | ${time_nsiszlib} |"
fi
echo
echo "#### Packing the runtime DLL folder: threads, time, memory"
echo
echo "| level | threads | bytes | user s | wall s | peak RSS MB |"
echo "|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
echo "Load while measuring: $(cut -d' ' -f1-3 /proc/loadavg) ($cores cores)."

if [ "$stream" = 1 ]; then
  # 1 GiB and more: the stripped DLLs as 160 folders of hard links (no disk space), each
  # folder with a small text of its own, packed at level 1 with every core.
  payload="$work/payload"
  copies=0
  while [ "$(du -sbl "$payload" 2>/dev/null | cut -f1 || echo 0)" -lt 1073741824 ]; do
    mkdir -p "$payload/copy$copies"
    cp -l bench/corpus/executables/*.dll "$payload/copy$copies/"
    printf 'copy %d of the runtime\n' "$copies" >"$payload/copy$copies/readme.txt"
    copies=$((copies + 1))
  done
  total=$(du -sbl "$payload" | cut -f1)
  for level in 1 9; do
    [ "$level" = 9 ] && [ "${ZARPEX_BENCH_STREAM_9:-0}" != 1 ] && continue
    timed "$zpx" build "-$level" -T "$cores" -o "$work/big.zpx" "$payload"
    echo
    echo "Streaming: $total bytes in $((copies * 11)) files packed at -$level with $cores threads" \
      "into $(size_of "$work/big.zpx") bytes in $wall s; peak RSS $rss MB."
    rm -f "$work/big.zpx"
  done
fi

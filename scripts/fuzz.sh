#!/usr/bin/env bash
# Builds and runs the fuzz targets: fuzz_archive_reader and fuzz_extract, each with 64-bit
# decoding words (preset fuzz) and 32-bit ones as the i686 stub uses (preset fuzz-narrow).
#
#   bash scripts/fuzz.sh [-j N] [SECONDS]
#
# SECONDS per run (default 60); N runs at a time (default 2). Each run works on a copy of
# its seed corpus under build/fuzz-runs/<run>/, so the seeds in the repository stay as
# they are; crash, timeout and leak inputs land there too. Prints the executions and the
# coverage of every run at the end, and exits 1 when any run found something.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
if [[ "${1:-}" == "-j" ]]; then
  jobs="$2"
  shift 2
fi
seconds="${1:-60}"
# The largest seeds are about 115 KB; inputs may grow to twice that.
max_len=262144

for preset in fuzz fuzz-narrow; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 >/dev/null
done

runs_dir=build/fuzz-runs
rm -rf "$runs_dir"
mkdir -p "$runs_dir"

declare -a names=()
declare -a commands=()
for preset in fuzz fuzz-narrow; do
  for target in fuzz_archive_reader fuzz_extract; do
    name="${target}-64"
    [[ "$preset" == fuzz-narrow ]] && name="${target}-32"
    corpus=fuzz/corpus
    [[ "$target" == fuzz_extract ]] && corpus=fuzz/corpus-extract
    mkdir -p "$runs_dir/$name/corpus"
    cp "$corpus"/* "$runs_dir/$name/corpus/"
    names+=("$name")
    commands+=("build/$preset/fuzz/$target $runs_dir/$name/corpus -max_total_time=$seconds \
-max_len=$max_len -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
-artifact_prefix=$runs_dir/$name/")
  done
done

pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap stop INT TERM

echo "4 runs of $seconds s, $jobs at a time, -max_len=$max_len; logs in $runs_dir/<run>/log"
failed=0
for i in "${!names[@]}"; do
  name="${names[$i]}"
  # shellcheck disable=SC2086
  ${commands[$i]} >"$runs_dir/$name/log" 2>&1 &
  pids+=($!)
  if ((${#pids[@]} >= jobs)); then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
trap - INT TERM

printf '\n%-24s %12s %8s %8s %10s  %s\n' run executions cov ft corpus found
for name in "${names[@]}"; do
  log="$runs_dir/$name/log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(find "$runs_dir/$name/corpus" -type f | wc -l)
  found=$(find "$runs_dir/$name" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' \
    -o -name 'leak-*' -o -name 'oom-*' \) | wc -l)
  printf '%-24s %12s %8s %8s %10s  %s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$units" \
    "$([[ $found -eq 0 ]] && echo nothing || echo "$found input(s), see $runs_dir/$name")"
  [[ $found -eq 0 ]] || failed=1
done
exit "$failed"

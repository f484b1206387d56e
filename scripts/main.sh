#!/usr/bin/env bash
# The main job: set up, build, pack the demo payload of samples/demo into a POSIX
# installer and run it. On a terminal the installer is interactive (its commands are in the
# README, "The installer on a terminal"); otherwise a scripted "install" goes into a
# temporary ZARPEX_ROOT and the result is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
installer="$work/zarpex-setup-demo"

echo "== building the demo installer from samples/demo"
build/host/zpx build --stub build/host/zarpex-setup -o "$installer" samples/demo
ls -l "$installer"
build/host/zpx list "$installer"
build/host/zpx test "$installer"

if [ -t 0 ] && [ -t 1 ]; then
  echo "== running the demo installer (type 'install' to install, 'cancel' to leave)"
  "$installer"
  exit 0
fi

export ZARPEX_ROOT="$work/root"
echo "== running the demo installer with a scripted 'install' (ZARPEX_ROOT=$ZARPEX_ROOT)"
printf 'install\n' | "$installer"

echo "== installed files"
(cd "$ZARPEX_ROOT/drive_c" && find . -print | sort)
echo "== registry (key, value name, data)"
for store in "$ZARPEX_ROOT"/registry/*/store; do
  [ -f "$store" ] || continue
  python3 -c '
import sys
for line in open(sys.argv[1]):
    f = line.rstrip("\n").split("\t")
    if len(f) == 5:
        print(f[0], "|", f[1] or "(default)", "|", bytes.fromhex(f[4]).rstrip(b"\0").decode("latin-1"))
' "$store"
done
echo "== the started program's marker"
marker=$(find "$ZARPEX_ROOT/drive_c" -name zarpex-started.txt -print -quit)
for _ in $(seq 50); do
  [ -n "$marker" ] && [ -s "$marker" ] && break
  sleep 0.1
  marker=$(find "$ZARPEX_ROOT/drive_c" -name zarpex-started.txt -print -quit)
done
if [ -n "$marker" ]; then cat "$marker"; else echo "(the program did not leave its marker)"; fi

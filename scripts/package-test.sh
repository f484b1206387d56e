#!/usr/bin/env bash
# The Debian package, as CI uses it: made by cpack from the host build (with the Win32
# stubs of both mingw presets, which must be built first), checked by lintian, installed
# with dpkg into a scratch root, and used: the installed zpx builds an installer with
# --stub windows that zpx test passes, byte for byte the one the build tree's zpx makes.
set -euo pipefail
cd "$(dirname "$0")/.."

for stub in build/mingw-i686/zarpex-setup.exe build/mingw-x86_64/zarpex-setup.exe; do
  [ -f "$stub" ] || { echo "package-test: $stub is missing: build the mingw presets first" >&2; exit 1; }
done
rm -rf build/package
cpack --config build/host/CPackConfig.cmake -G DEB -B build/package >/dev/null
deb=$(echo build/package/zarpex_*.deb)
echo "package: $deb"
dpkg-deb -c "$deb"

# Errors and warnings fail; info tags are listed.
lintian --fail-on error,warning --info "$deb"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The scratch root has no libc of its own: the dependencies are the machine's.
if ! dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless -i "$deb" \
     >"$scratch/dpkg.log" 2>&1; then
  cat "$scratch/dpkg.log" >&2
  exit 1
fi
zpx="$root/usr/bin/zpx"
"$zpx" --version
# Whole outputs go to files first: a reader that stops early (grep -q, head) would end the
# writer by SIGPIPE, which pipefail reports as a failure.
MANWIDTH=80 man -l "$root/usr/share/man/man1/zpx.1.gz" >"$scratch/zpx.1.txt"
grep -q "SOURCE_DATE_EPOCH" "$scratch/zpx.1.txt"

payload="$scratch/payload"
mkdir -p "$payload/docs"
cp -r samples/demo/. "$payload/"
printf 'Installed from the package\r\n' > "$payload/docs/Überblick – Café.txt"
export SOURCE_DATE_EPOCH=1700000000
"$zpx" build -q --stub windows -o "$scratch/setup.exe" "$payload"
"$zpx" test "$scratch/setup.exe"
"$zpx" list "$scratch/setup.exe" >"$scratch/listing"
head -3 "$scratch/listing"
build/host/zpx build -q --stub build/mingw-i686/zarpex-setup.exe -o "$scratch/setup-tree.exe" "$payload"
cmp "$scratch/setup.exe" "$scratch/setup-tree.exe"
"$zpx" build -q --stub posix -o "$scratch/setup" "$payload"
"$zpx" test "$scratch/setup"
echo "package: installed, built an installer with --stub windows, tested"

#!/usr/bin/env bash
# The main job: set up, build, and show what exists so far.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
ls -l build/host

#!/usr/bin/env bash
# Configures and builds both halves: the simulator (host) and the Windows
# program with its tests (mingw-w64).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QV_JOBS:-2}
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
cmake --preset win >/dev/null
cmake --build --preset win -j"$jobs"

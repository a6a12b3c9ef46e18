#!/usr/bin/env bash
# Configures and builds both halves: the simulator with the native tests
# (host) and the Windows program with its tests (mingw-w64); then the serial
# link and engine natively for ThreadSanitizer (tsan) and libFuzzer (fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QV_JOBS:-2}
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
cmake --preset win >/dev/null
cmake --build --preset win -j"$jobs"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"

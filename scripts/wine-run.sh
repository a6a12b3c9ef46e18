#!/usr/bin/env bash
# Runs a Windows program in the project's prefix (ctest's emulator).
# QV_BUILD_DIR is set by the test; otherwise build/win of this checkout.
source "$(dirname "$0")/wine-env.sh"
exec wine "$@"

#!/usr/bin/env bash
# Builds what users get: the installer and the portable zip, in build/win/dist/.
#   scripts/package.sh [CMAKE-OPTIONS...]
# Options go to the configure step, for example the maker's payload files:
#   scripts/package.sh -DQV_FIRMWARE_IMAGE=/path/to/firmware.bin -DQV_WRITE_CONTROL_PROGRAM=/path/to/program.bin
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win "$@" >/dev/null
cmake --build --preset win --target qv_dist -j"${QV_JOBS:-2}"

dist=build/win/dist
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win/CMakeCache.txt)
setup=$dist/QV6100_UPDATE-$version-setup.exe
zip=$dist/QV6100_UPDATE-$version-portable.zip
for f in "$setup" "$zip"; do
  [ -f "$f" ] || { echo "package.sh: error: the build did not produce $f" >&2; exit 1; }
done

echo
echo "QV-6100 Update $version:"
for f in "$setup" "$zip"; do
  printf '  %-50s %9s bytes  sha256 %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done
if grep -q '^QV_FIRMWARE_IMAGE:FILEPATH=$' build/win/CMakeCache.txt ||
  grep -q '^QV_WRITE_CONTROL_PROGRAM:FILEPATH=$' build/win/CMakeCache.txt; then
  echo
  echo "WARNING: built with placeholder payloads: these packages write no real firmware."
  echo "Give the maker's files with -DQV_FIRMWARE_IMAGE=... -DQV_WRITE_CONTROL_PROGRAM=... (see README.md)."
fi

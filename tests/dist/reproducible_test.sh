#!/usr/bin/env bash
# Reproducible packages: the same sources, copied into another folder and
# built again from nothing by scripts/package.sh (no ccache, no tests), give
# the program, the help file, the installer and the zip byte for byte.
# Environment: QV_DIST_TEST_DIR QV_SOURCE_DIR QV_EXE QV_CHM QV_SETUP QV_PORTABLE_ZIP
#              QV_SOURCE_DATE_EPOCH QV_FIRMWARE_IMAGE QV_WRITE_CONTROL_PROGRAM
set -euo pipefail
source "$(dirname "$0")/env.sh"
need_vars QV_SOURCE_DIR QV_EXE QV_CHM QV_SETUP QV_PORTABLE_ZIP QV_SOURCE_DATE_EPOCH
need_files "$QV_EXE" "$QV_CHM" "$QV_SETUP" "$QV_PORTABLE_ZIP"

work=$QV_DIST_TEST_DIR/reproducible
rm -rf "$work"
mkdir -p "$work/src"
# The sources as they stand in the working tree (tracked and new files), or
# all but build/ without git.
if git -C "$QV_SOURCE_DIR" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$QV_SOURCE_DIR" && git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf -) 2>/dev/null | tar -xf - -C "$work/src"
else
  tar -C "$QV_SOURCE_DIR" --exclude=./build -cf - . | tar -xf - -C "$work/src"
fi

args=(--placeholder)
[ -n "${QV_FIRMWARE_IMAGE:-}" ] && args+=("-DQV_FIRMWARE_IMAGE=$QV_FIRMWARE_IMAGE")
[ -n "${QV_WRITE_CONTROL_PROGRAM:-}" ] && args+=("-DQV_WRITE_CONTROL_PROGRAM=$QV_WRITE_CONTROL_PROGRAM")
start=$(date +%s)
env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
  SOURCE_DATE_EPOCH="$QV_SOURCE_DATE_EPOCH" "$work/src/scripts/package.sh" "${args[@]}" >"$work/build.log" 2>&1 ||
  fail "the second build failed: $(tail -n 20 "$work/build.log")"
echo "second build: $(($(date +%s) - start)) s in $work/src"

out=$work/src/build/package
status=0
for pair in "$QV_EXE|$out/QV6100_UPDATE.exe" "$QV_CHM|$out/QV6100_UPDATE.chm" \
  "$QV_SETUP|$out/dist/$(basename "$QV_SETUP")" "$QV_PORTABLE_ZIP|$out/dist/$(basename "$QV_PORTABLE_ZIP")"; do
  a=${pair%%|*} b=${pair#*|}
  if [ ! -f "$b" ]; then
    echo "FAIL: the second build has no $(basename "$b")" >&2
    status=1
  elif ! cmp -s "$a" "$b"; then
    echo "FAIL: $(basename "$a") differs between the two builds ($(cmp -l "$a" "$b" 2>/dev/null | wc -l) bytes): $a $b" >&2
    status=1
  else
    echo "same: $(basename "$a"), $(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -d' ' -f1)"
  fi
done
(cd "$out/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS of the second build does not check"
[ "$status" -eq 0 ] || exit 1
rm -rf "$work"
echo "PASS"

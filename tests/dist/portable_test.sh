#!/usr/bin/env bash
# The portable zip: one folder with the program and the help file as built,
# the text on use naming this version, and the Linux script, executable; what
# Windows reads from the program (under Wine).
# Environment: QV_DIST_TEST_DIR QV_PORTABLE_ZIP QV_SETUP QV_EXE QV_CHM QV_VERSION QV_VI_VERSION QV_SOURCE_DIR
#              QV_PLACEHOLDER QV_PROBE
set -euo pipefail
source "$(dirname "$0")/env.sh"
need_vars QV_PORTABLE_ZIP QV_EXE QV_CHM QV_VERSION QV_VI_VERSION QV_SOURCE_DIR QV_PROBE
need_files "$QV_PORTABLE_ZIP" "$QV_PROBE"

# A placeholder build says so in the names of the packages and the folder.
folder=QV6100_UPDATE-$QV_VERSION
[ "${QV_PLACEHOLDER:-}" = ON ] && folder=$folder-placeholder
[ "$(basename "$QV_PORTABLE_ZIP")" = "$folder-portable.zip" ] || fail "the zip is not named $folder-portable.zip"
[ "$(basename "$QV_SETUP")" = "$folder-setup.exe" ] || fail "the installer is not named $folder-setup.exe"
expected="$folder/
$folder/QV6100_UPDATE.chm
$folder/QV6100_UPDATE.exe
$folder/README.txt
$folder/run-on-linux.sh"
listing=$(python3 - "$QV_PORTABLE_ZIP" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad:
        sys.exit("corrupt member: " + bad)
    print("\n".join(sorted(z.namelist())))
EOF
) || fail "$QV_PORTABLE_ZIP is not a readable zip"
[ "$listing" = "$expected" ] || fail "the zip holds
$listing
instead of
$expected"

out=$QV_DIST_TEST_DIR/portable
rm -rf "$out"
mkdir -p "$out"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$QV_PORTABLE_ZIP" "$out"
cmp "$QV_EXE" "$out/$folder/QV6100_UPDATE.exe" || fail "the zip's program differs from the build"
cmp "$QV_CHM" "$out/$folder/QV6100_UPDATE.chm" || fail "the zip's help file differs from the build"
cmp "$QV_SOURCE_DIR/scripts/run-on-linux.sh" "$out/$folder/run-on-linux.sh" || fail "the zip's run-on-linux.sh differs"
check_program "$out/$folder/QV6100_UPDATE.exe"

# The script keeps its execute permission, so ./run-on-linux.sh works as is.
mode=$(python3 -c '
import sys, zipfile
info = zipfile.ZipFile(sys.argv[1]).getinfo(sys.argv[2])
print("%o" % ((info.external_attr >> 16) & 0o777))' "$QV_PORTABLE_ZIP" "$folder/run-on-linux.sh")
[ $((8#$mode & 8#100)) -ne 0 ] || fail "run-on-linux.sh is not executable in the zip (mode $mode)"

# README.txt: plain text with Windows line ends, naming the version and the
# steps a user needs.
readme=$out/$folder/README.txt
file_lines=$(wc -l <"$readme")
crlf_lines=$(grep -c $'\r$' "$readme" || true)
[ "$file_lines" -gt 0 ] && [ "$crlf_lines" -eq "$file_lines" ] || fail "README.txt does not end every line with CRLF"
! LC_ALL=C grep -q $'[^\t\r -~]' "$readme" || fail "README.txt holds characters other than plain ASCII"
text=$(tr -d '\r' <"$readme")
for needle in "QV-6100 Update $QV_VERSION" "QV6100_UPDATE.exe" "QV6100_UPDATE.chm" \
  'reg add "HKLM\SOFTWARE\CORVANE\QV-6100 Update" /f' "administrator" "run-on-linux.sh /dev/ttyUSB0" "dialout"; do
  grep -qF "$needle" <<<"$text" || fail "README.txt does not mention: $needle"
done
grep -q '@' <<<"$text" && fail "README.txt holds an unreplaced @VARIABLE@"
warning="PLACEHOLDER BUILD: this package contains no real firmware."
if [ "${QV_PLACEHOLDER:-}" = ON ]; then
  grep -qF "$warning" <<<"$text" || fail "the placeholder build's README.txt does not say so"
else
  ! grep -qi placeholder <<<"$text" || fail "README.txt of a build with real payloads mentions a placeholder"
fi

echo "PASS: $(basename "$QV_PORTABLE_ZIP"), $(stat -c %s "$QV_PORTABLE_ZIP") bytes"

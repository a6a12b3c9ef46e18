#!/usr/bin/env bash
# The installer, silently under Wine: what it installs (files, what Windows
# reads from the program, shortcut, uninstall entry, the program's registry
# key, version metadata), then what the
# uninstaller leaves. Twice: into Program Files, and into a folder of the
# user's choice that also holds a file of the user's own.
# Environment: QV_DIST_TEST_DIR QV_SETUP QV_EXE QV_CHM QV_PROBE QV_VERSION QV_VI_VERSION QV_PLACEHOLDER
set -euo pipefail
source "$(dirname "$0")/env.sh"
need_vars QV_SETUP QV_EXE QV_CHM QV_PROBE QV_VERSION QV_VI_VERSION
need_files "$QV_SETUP" "$QV_EXE" "$QV_CHM" "$QV_PROBE"

c=$WINEPREFIX/drive_c
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QV-6100 Update'
product_key='HKLM\SOFTWARE\CORVANE\QV-6100 Update'
shortcut="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/QV-6100 Update.lnk"

# The value of NAME under KEY, or nothing (reg prints CRLF lines).
reg_value() {
  wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n -E "s/^ +$2 +REG_[A-Z_]+ +(.*)$/\1/p"
}
key_exists() { wine reg query "$1" </dev/null >/dev/null 2>&1; }
expect_value() {
  local got
  got=$(reg_value "$uninst_key" "$1")
  [ "$got" = "$2" ] || fail "uninstall entry $1 is '$got', expected '$2'"
}

# Starts from a prefix without the product, whatever an earlier run left.
clean() {
  rm -rf "$c/Program Files/QV-6100 Update" "$c/Tools" "$shortcut"
  wine reg delete "$uninst_key" /f </dev/null >/dev/null 2>&1 || true
  wine reg delete 'HKLM\SOFTWARE\CORVANE' /f </dev/null >/dev/null 2>&1 || true
}

# The installer's own version resource.
meta=$(probe version "$(winepath -w "$QV_SETUP" 2>/dev/null)")
echo "$meta"
grep -qx "ProductVersion=$QV_VERSION" <<<"$meta" || fail "installer ProductVersion is not $QV_VERSION"
grep -qx "FileVersion=$QV_VERSION" <<<"$meta" || fail "installer FileVersion is not $QV_VERSION"
grep -qx "FixedProductVersion=$QV_VI_VERSION" <<<"$meta" || fail "installer product version is not $QV_VI_VERSION"
grep -qx "CompanyName=Corvane" <<<"$meta" || fail "installer CompanyName is not Corvane"
grep -q "^ProductName=.*QV-6100 Update" <<<"$meta" || fail "installer ProductName does not name QV-6100 Update"

# A placeholder build says so in the program's and the installer's
# FileDescription; a real one does not.
exe_meta=$(probe version "$(winepath -w "$QV_EXE" 2>/dev/null)")
if [ "${QV_PLACEHOLDER:-}" = ON ]; then
  grep -qx "FileDescription=QV-6100 Update (placeholder build: no real firmware)" <<<"$exe_meta" ||
    fail "the placeholder program's FileDescription does not say so: $exe_meta"
  grep -q "^FileDescription=.*placeholder build" <<<"$meta" || fail "the placeholder installer's FileDescription does not say so"
else
  grep -qx "FileDescription=QV-6100 Update" <<<"$exe_meta" || fail "the program's FileDescription is not QV-6100 Update"
  ! grep -qi placeholder <<<"$meta$exe_meta" || fail "a build with real payloads calls itself a placeholder"
fi

# install DIR-UNIX DIR-WINDOWS [INSTALLER-ARGS...]
install_and_check() {
  local dir=$1 windir=$2
  shift 2
  wine "$QV_SETUP" /S "$@" </dev/null >/dev/null 2>&1 || fail "the installer exited with status $?"

  cmp "$QV_EXE" "$dir/QV6100_UPDATE.exe" || fail "QV6100_UPDATE.exe in $dir differs from the build"
  cmp "$QV_CHM" "$dir/QV6100_UPDATE.chm" || fail "QV6100_UPDATE.chm in $dir differs from the build"
  check_program "$dir/QV6100_UPDATE.exe" >/dev/null
  [ -f "$dir/Uninstall.exe" ] || fail "no Uninstall.exe in $dir"

  [ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut"
  local link
  link=$(probe shortcut "$(winepath -w "$shortcut" 2>/dev/null)")
  grep -qxF "Target=$windir\\QV6100_UPDATE.exe" <<<"$link" || fail "the shortcut points elsewhere: $link"

  expect_value DisplayName "QV-6100 Update"
  expect_value DisplayVersion "$QV_VERSION"
  expect_value Publisher "Corvane"
  expect_value InstallLocation "$windir"
  expect_value UninstallString "\"$windir\\Uninstall.exe\""
  expect_value QuietUninstallString "\"$windir\\Uninstall.exe\" /S"
  expect_value DisplayIcon "$windir\\QV6100_UPDATE.exe,0"
  expect_value NoModify 0x1
  local size
  size=$(reg_value "$uninst_key" EstimatedSize)
  [ -n "$size" ] && [ $((size)) -ge $(($(stat -c %s "$QV_EXE") / 1024)) ] ||
    fail "EstimatedSize '$size' is smaller than the program"

  key_exists "$product_key" || fail "the installer did not create $product_key"
  echo "installed into $windir: files, what Windows reads from the program, shortcut, uninstall entry and registry key as expected"
}

# Runs the uninstall command line from the uninstall entry, as Windows'
# list of programs does, and waits for its result: the uninstaller copies
# itself away and returns at once.
uninstall_and_wait() {
  local dir=$1 cmd exe
  cmd=$(reg_value "$uninst_key" QuietUninstallString)
  exe=$(sed -E 's/^"([^"]+)".*/\1/' <<<"$cmd")
  wine "$exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller exited with status $?"
  for _ in $(seq 1 300); do
    if [ ! -e "$dir/QV6100_UPDATE.exe" ] && [ ! -e "$dir/Uninstall.exe" ] && ! key_exists "$uninst_key"; then
      return 0
    fi
    sleep 0.1
  done
  fail "after 30 s the uninstaller had not finished: $(ls "$dir" 2>&1 | tr '\n' ' ')"
}

clean

# 1. The default place, removed completely.
pf="$c/Program Files/QV-6100 Update"
install_and_check "$pf" 'C:\Program Files\QV-6100 Update'
wine reg add "$product_key" /v Data /t REG_DWORD /d 3120 /f </dev/null >/dev/null 2>&1
uninstall_and_wait "$pf"
[ ! -e "$pf" ] || fail "the uninstaller left $pf: $(ls "$pf")"
[ ! -e "$shortcut" ] || fail "the uninstaller left the shortcut"
! key_exists "$uninst_key" || fail "the uninstaller left the uninstall entry"
! key_exists "$product_key" || fail "the uninstaller left $product_key"
! key_exists 'HKLM\SOFTWARE\CORVANE' || fail "the uninstaller left HKLM\\SOFTWARE\\CORVANE"
echo "uninstalled from Program Files: nothing left"

# 2. A folder of the user's choice (/D= must come last); a file the user put
# there survives the uninstall, and so does the folder holding it.
custom="$c/Tools/QV6100"
install_and_check "$custom" 'C:\Tools\QV6100' '/D=C:\Tools\QV6100'
echo "my notes" >"$custom/notes.txt"
uninstall_and_wait "$custom"
[ -f "$custom/notes.txt" ] || fail "the uninstaller removed a file of the user's"
[ "$(ls "$custom")" = notes.txt ] || fail "the uninstaller left more than the user's file: $(ls "$custom")"
[ ! -e "$shortcut" ] || fail "the uninstaller left the shortcut"
! key_exists "$uninst_key" || fail "the uninstaller left the uninstall entry"
echo "uninstalled from C:\\Tools\\QV6100: only the user's file is left"

clean
echo "PASS"

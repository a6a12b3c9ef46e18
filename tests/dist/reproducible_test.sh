#!/usr/bin/env bash
# Reproducible packages: the same sources, copied into another folder and
# built again from nothing by scripts/package.sh (no ccache, no tests), give
# the program, the help file, the installer and the zip byte for byte; signed,
# the same packages differ only by their signatures.
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
package() {
  env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
    SOURCE_DATE_EPOCH="$QV_SOURCE_DATE_EPOCH" "$work/src/scripts/package.sh" "${args[@]}" "$@"
}
start=$(date +%s)
package >"$work/build.log" 2>&1 || fail "the second build failed: $(tail -n 20 "$work/build.log")"
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

# The same build signed, with a certificate made here (only the packaging
# runs again). Each signature verifies. Without its signature the program is
# the unsigned build's, byte for byte. The uninstaller and the installer are
# what makensis wrote (the installer from the signed program and uninstaller,
# so it cannot be the unsigned installer) but for the PE checksum, which
# removing a signature recomputes, and the zeros that align a signature to 8
# bytes.
keys=$work/keys
mkdir -p "$keys"
export QV_SIGN_PASSWORD="test password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/key.pem" -out "$keys/ca.pem" -days 2 \
  -subj "/CN=QV-6100 Update test signer" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/ca.pem" -out "$keys/test.pfx" \
    -passout env:QV_SIGN_PASSWORD || fail "openssl could not make a test certificate"
QV_SIGN_PASSWORD=wrong package --sign "$keys/test.pfx" >"$work/sign.log" 2>&1 &&
  fail "package.sh signed with a wrong password"
grep -q "cannot open .*test.pfx with the password in QV_SIGN_PASSWORD" "$work/sign.log" ||
  fail "package.sh did not say that the password is wrong: $(tail -n 5 "$work/sign.log")"
start=$(date +%s)
package --sign "$keys/test.pfx" >"$work/sign.log" 2>&1 || fail "the signed build failed: $(tail -n 20 "$work/sign.log")"
echo "signed packages: $(($(date +%s) - start)) s"
(cd "$out/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS of the signed build does not check"

signed=$out/signed
setup=$out/dist/$(basename "$QV_SETUP")
for f in "$signed/QV6100_UPDATE.exe" "$signed/Uninstall.exe" "$setup"; do
  osslsigncode verify -CAfile "$keys/ca.pem" -in "$f" >"$work/verify.log" 2>&1 ||
    fail "the signature of $(basename "$f") does not verify: $(tail -n 5 "$work/verify.log")"
done
unsign() { osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1 || fail "cannot remove the signature of $1"; }
unsign "$signed/QV6100_UPDATE.exe" "$work/program.exe"
cmp "$work/program.exe" "$QV_EXE" || fail "the signed program without its signature differs from the unsigned build's"
echo "signed: the program verifies and is, without its signature, the unsigned build's"
python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
sys.stdout.buffer.write(z.read([n for n in z.namelist() if n.endswith("/QV6100_UPDATE.exe")][0]))' \
  "$out/dist/$(basename "$QV_PORTABLE_ZIP")" >"$work/zipped.exe"
cmp "$work/zipped.exe" "$signed/QV6100_UPDATE.exe" || fail "the signed zip does not hold the signed program"
for pair in "Uninstall.exe|$signed/Uninstall.exe" "setup.exe|$setup"; do
  name=${pair%%|*}
  written=$signed/unsigned/$name
  [ -f "$written" ] || fail "no $written: the signing step did not keep what makensis wrote"
  unsign "${pair#*|}" "$work/$name"
  n=$(stat -c %s "$written") m=$(stat -c %s "$work/$name")
  [ "$m" -ge "$n" ] && [ "$m" -lt $((n + 8)) ] && [ -z "$(tail -c +$((n + 1)) "$work/$name" | tr -d '\0')" ] ||
    fail "$name is $m bytes without its signature, $n as makensis wrote it: more than zeros to a multiple of 8 follow"
  # Bytes that differ, but for the checksum field (PE header offset, read at 60, + 88).
  checksum=$(($(od -An -tu4 -j60 -N4 "$written") + 88))
  other=$({ cmp -l -n "$n" "$written" "$work/$name" || true; } |
    awk -v lo=$((checksum + 1)) -v hi=$((checksum + 4)) '$1 < lo || $1 > hi { print $1 }' | head -n 5)
  [ -z "$other" ] || fail "$name without its signature differs from what makensis wrote at bytes" $other
  echo "signed: $name verifies and is, without its signature, what makensis wrote"
done
# What the installer packs (one LZMA stream after NSIS's first header) holds
# the signed program and the signed uninstaller whole.
python3 - "$work/setup.exe" "$signed/QV6100_UPDATE.exe" "$signed/Uninstall.exe" <<'EOF' ||
import lzma, struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(b"\xef\xbe\xad\xdeNullsoftInst") + 24
p = data[at]
lzma1 = {"id": lzma.FILTER_LZMA1, "lc": p % 9, "lp": p // 9 % 5, "pb": p // 45,
         "dict_size": struct.unpack_from("<I", data, at + 1)[0]}
packed = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(data[at + 5:])
missing = [f for f in sys.argv[2:] if open(f, "rb").read() not in packed]
sys.exit("the installer does not pack " + ", ".join(missing) if missing else 0)
EOF
  fail "the signed installer does not pack the signed program and uninstaller"
echo "signed: the installer packs the signed program and the signed uninstaller"
rm -rf "$work"
echo "PASS"

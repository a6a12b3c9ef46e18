#!/usr/bin/env bash
# Reproducible packages: the same sources, copied into another folder and
# built again from nothing by scripts/package.sh (no ccache, no tests), give
# the program, the help file, the installer and the zip byte for byte. Signed
# (only from payload files given, made here: never placeholders), the
# packages differ from the unsigned ones of the same payloads only by their
# signatures; a certificate without a password signs too.
# Environment: QV_DIST_TEST_DIR QV_SOURCE_DIR QV_EXE QV_CHM QV_SETUP QV_PORTABLE_ZIP QV_VERSION
#              QV_SOURCE_DATE_EPOCH QV_FIRMWARE_IMAGE QV_WRITE_CONTROL_PROGRAM
#              QV_FIRMWARE_IMAGE_BYTES QV_WRITE_CONTROL_PROGRAM_BYTES
set -euo pipefail
source "$(dirname "$0")/env.sh"
need_vars QV_SOURCE_DIR QV_EXE QV_CHM QV_SETUP QV_PORTABLE_ZIP QV_VERSION QV_SOURCE_DATE_EPOCH \
  QV_FIRMWARE_IMAGE_BYTES QV_WRITE_CONTROL_PROGRAM_BYTES
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

# At a low priority: the runs of the program under Wine beside it keep the
# times they wait for the unit.
package() {
  env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
    SOURCE_DATE_EPOCH="$QV_SOURCE_DATE_EPOCH" nice -n 15 "$work/src/scripts/package.sh" "$@"
}

# Certificates made here: one with a password, one without.
keys=$work/keys
mkdir -p "$keys"
export QV_SIGN_PASSWORD="test password"
for name in test nopass; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/$name.key" -out "$keys/$name.pem" -days 2 \
    -subj "/CN=QV-6100 Update test signer $name" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1 ||
    fail "openssl could not make a test certificate"
done
openssl pkcs12 -export -inkey "$keys/test.key" -in "$keys/test.pem" -out "$keys/test.pfx" \
  -passout env:QV_SIGN_PASSWORD || fail "openssl could not write test.pfx"
openssl pkcs12 -export -inkey "$keys/nopass.key" -in "$keys/nopass.pem" -out "$keys/nopass.pfx" \
  -passout pass: || fail "openssl could not write nopass.pfx"

# Payload files of the right sizes, with a length field, unlike the placeholders.
paid=$work/payload
mkdir -p "$paid"
python3 - "$paid" "$QV_FIRMWARE_IMAGE_BYTES" "$QV_WRITE_CONTROL_PROGRAM_BYTES" <<'EOF' ||
import random, sys
out, image, program = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
r = random.Random("test payloads")
open(out + "/image.bin", "wb").write(r.randbytes(image))
open(out + "/program.bin", "wb").write((program - 2).to_bytes(2, "big") + r.randbytes(program - 2))
EOF
  fail "cannot write the test payloads"
payloads=("-DQV_FIRMWARE_IMAGE=$paid/image.bin" "-DQV_WRITE_CONTROL_PROGRAM=$paid/program.bin")

# Signing is refused with placeholder payloads, before anything is built.
refused() {
  local rc=0
  package "$@" >"$work/refused.log" 2>&1 || rc=$?
  [ "$rc" -eq 2 ] && grep -q "packages with placeholder payloads are never signed" "$work/refused.log" ||
    fail "package.sh $* exited $rc without refusing placeholder payloads: $(tail -n 5 "$work/refused.log")"
  [ ! -e "$work/src/build" ] || fail "package.sh $* built before it refused"
  echo "refused: package.sh $*"
}
refused --placeholder --sign "$keys/test.pfx"
refused --sign "$keys/test.pfx" "${payloads[0]}"
refused "${payloads[1]}" --sign "$keys/test.pfx"
refused --placeholder "${payloads[@]}" --sign "$keys/test.pfx"

args=(--placeholder)
[ -n "${QV_FIRMWARE_IMAGE:-}" ] && args+=("-DQV_FIRMWARE_IMAGE=$QV_FIRMWARE_IMAGE")
[ -n "${QV_WRITE_CONTROL_PROGRAM:-}" ] && args+=("-DQV_WRITE_CONTROL_PROGRAM=$QV_WRITE_CONTROL_PROGRAM")
start=$(date +%s)
package "${args[@]}" >"$work/build.log" 2>&1 || fail "the second build failed: $(tail -n 20 "$work/build.log")"
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

# The payloads made here, unsigned and then signed (only the packaging runs
# again). Each signature verifies. Without its signature the program is the
# unsigned build's, byte for byte. The uninstaller and the installer are what
# makensis wrote (the installer from the signed program and uninstaller, so
# it cannot be the unsigned installer) but for the PE checksum, which
# removing a signature recomputes, and the zeros that align a signature to 8
# bytes.
start=$(date +%s)
package "${payloads[@]}" >"$work/paid.log" 2>&1 || fail "the build with payload files failed: $(tail -n 20 "$work/paid.log")"
setup=$out/dist/QV6100_UPDATE-$QV_VERSION-setup.exe
zip=$out/dist/QV6100_UPDATE-$QV_VERSION-portable.zip
[ -f "$setup" ] && [ -f "$zip" ] || fail "the build with payload files has no $(basename "$setup") and $(basename "$zip")"
cp "$out/QV6100_UPDATE.exe" "$work/unsigned.exe"
! cmp -s "$work/unsigned.exe" "$QV_EXE" || fail "the build with payload files made the placeholder build's program"
echo "payload files: $(($(date +%s) - start)) s"
QV_SIGN_PASSWORD=wrong package "${payloads[@]}" --sign "$keys/test.pfx" >"$work/sign.log" 2>&1 &&
  fail "package.sh signed with a wrong password"
grep -q "cannot open .*test.pfx with the password in QV_SIGN_PASSWORD" "$work/sign.log" ||
  fail "package.sh did not say that the password is wrong: $(tail -n 5 "$work/sign.log")"
start=$(date +%s)
package "${payloads[@]}" --sign "$keys/test.pfx" >"$work/sign.log" 2>&1 ||
  fail "the signed build failed: $(tail -n 20 "$work/sign.log")"
echo "signed packages: $(($(date +%s) - start)) s"
(cd "$out/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS of the signed build does not check"

signed=$out/signed
# verify CERT: the three signatures verify against that certificate.
verify() {
  local f
  for f in "$signed/QV6100_UPDATE.exe" "$signed/Uninstall.exe" "$setup"; do
    osslsigncode verify -CAfile "$1" -in "$f" >"$work/verify.log" 2>&1 ||
      fail "the signature of $(basename "$f") does not verify with $(basename "$1"): $(tail -n 5 "$work/verify.log")"
  done
}
verify "$keys/test.pem"
unsign() { osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1 || fail "cannot remove the signature of $1"; }
unsign "$signed/QV6100_UPDATE.exe" "$work/program.exe"
cmp "$work/program.exe" "$work/unsigned.exe" || fail "the signed program without its signature differs from the unsigned build's"
echo "signed: the program verifies and is, without its signature, the unsigned build's"
python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
sys.stdout.buffer.write(z.read([n for n in z.namelist() if n.endswith("/QV6100_UPDATE.exe")][0]))' \
  "$zip" >"$work/zipped.exe"
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

# A certificate without a password: QV_SIGN_PASSWORD set, and empty.
start=$(date +%s)
QV_SIGN_PASSWORD="" package "${payloads[@]}" --sign "$keys/nopass.pfx" >"$work/sign.log" 2>&1 ||
  fail "the build signed with a certificate without a password failed: $(tail -n 20 "$work/sign.log")"
verify "$keys/nopass.pem"
echo "signed without a password: $(($(date +%s) - start)) s, the three signatures verify"
rm -rf "$work"
echo "PASS"

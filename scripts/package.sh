#!/usr/bin/env bash
# Builds what users get: the installer and the portable zip, with their
# SHA256SUMS, in build/package/dist/ (a build folder of its own, without tests).
#   scripts/package.sh -DQV_FIRMWARE_IMAGE=/path/to/firmware.bin -DQV_WRITE_CONTROL_PROGRAM=/path/to/program.bin
#   scripts/package.sh --placeholder      packages with placeholder payloads, for trying out only
#   --sign CERT.pfx [--timestamp URL]     signs the program, the uninstaller and the installer
#                                         (Authenticode); the password in QV_SIGN_PASSWORD (empty
#                                         for a file without one); never with placeholder payloads
# Further options go to the configure step. The same commit gives the same
# bytes (SOURCE_DATE_EPOCH: the environment's, else the commit's time); a
# signed package differs from the unsigned one only by its signatures.
set -euo pipefail
die() { echo "package.sh: error: $*" >&2; exit 2; }

# Payload paths are taken from where the command was given.
absolute() { [ -z "$1" ] || realpath -m -- "$1"; }
placeholder=0
image=""
program=""
pfx=""
timestamp=""
args=()
while [ $# -gt 0 ]; do
  a=$1
  shift
  case $a in
    --placeholder) placeholder=1 ;;
    --sign)
      [ $# -gt 0 ] || die "--sign needs the certificate file: --sign CERT.pfx"
      pfx=$(absolute "$1")
      shift
      ;;
    --timestamp)
      [ $# -gt 0 ] || die "--timestamp needs the time-stamp server's URL"
      timestamp=$1
      shift
      ;;
    -DQV_FIRMWARE_IMAGE=* | -DQV_FIRMWARE_IMAGE:*=*)
      image=$(absolute "${a#*=}")
      args+=("-DQV_FIRMWARE_IMAGE=$image")
      ;;
    -DQV_WRITE_CONTROL_PROGRAM=* | -DQV_WRITE_CONTROL_PROGRAM:*=*)
      program=$(absolute "${a#*=}")
      args+=("-DQV_WRITE_CONTROL_PROGRAM=$program")
      ;;
    *) args+=("$a") ;;
  esac
done
[ -z "$timestamp" ] || [ -n "$pfx" ] || die "--timestamp goes with --sign CERT.pfx"
# A signature tells users that a package is real: placeholder payloads are
# never signed. Refused here, before anything is installed or built.
if [ -n "$pfx" ] && { [ "$placeholder" -eq 1 ] || [ -z "$image" ] || [ -z "$program" ]; }; then
  cat >&2 <<'END'
package.sh: error: packages with placeholder payloads are never signed: a signature
tells users that a package is real. --sign needs the maker's two payload files,
  -DQV_FIRMWARE_IMAGE=/path/to/firmware.bin -DQV_WRITE_CONTROL_PROGRAM=/path/to/program.bin
and no --placeholder.
END
  exit 2
fi
cd "$(dirname "$0")/.."
if [ "$placeholder" -eq 0 ] && { [ -z "$image" ] || [ -z "$program" ]; }; then
  cat >&2 <<'END'
package.sh: error: the packages need the maker's two payload files:
  the firmware image (262,144 bytes)          -DQV_FIRMWARE_IMAGE=/path/to/firmware.bin
  the write control program (1,436 bytes)     -DQV_WRITE_CONTROL_PROGRAM=/path/to/program.bin
Packages with placeholder payloads, which write no real firmware and are named
...-placeholder-..., are built only when asked: scripts/package.sh --placeholder
END
  exit 2
fi

scripts/setup.sh
# Signing is checked before the build, which otherwise fails only at its end.
if [ -n "$pfx" ]; then
  [ -f "$pfx" ] && [ -r "$pfx" ] || die "cannot read the certificate $pfx"
  [ -n "${QV_SIGN_PASSWORD+set}" ] ||
    die "set the environment variable QV_SIGN_PASSWORD to the password of $pfx (empty if it has none)"
  if ! openssl pkcs12 -in "$pfx" -passin env:QV_SIGN_PASSWORD -noout 2>/dev/null &&
    ! openssl pkcs12 -legacy -in "$pfx" -passin env:QV_SIGN_PASSWORD -noout 2>/dev/null; then
    die "cannot open $pfx with the password in QV_SIGN_PASSWORD (wrong password, or not a .pfx file)"
  fi
fi
build=build/package
dist=$build/dist
# Empty payloads and signing first, so that a value from an earlier run never stays.
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64.cmake --no-warn-unused-cli \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DQV_FIRMWARE_IMAGE= -DQV_WRITE_CONTROL_PROGRAM= \
  "-DQV_SIGN_PFX=$pfx" "-DQV_SIGN_TIMESTAMP=$timestamp" ${args[@]+"${args[@]}"} >/dev/null
rm -rf "$dist" "$build/signed"
cmake --build "$build" --target qv_dist -j"${QV_JOBS:-2}"

shopt -s nullglob
setup=("$dist"/QV6100_UPDATE-*-setup.exe)
zip=("$dist"/QV6100_UPDATE-*-portable.zip)
if [ ${#setup[@]} -ne 1 ] || [ ${#zip[@]} -ne 1 ]; then
  echo "package.sh: error: the build did not produce one installer and one zip in $dist" >&2
  exit 1
fi
(cd "$dist" && sha256sum -- "$(basename "${setup[0]}")" "$(basename "${zip[0]}")" >SHA256SUMS)

echo
echo "Packages in $dist:"
for f in "${setup[0]}" "${zip[0]}"; do
  printf '  %-50s %9s bytes  sha256 %s\n' "$(basename "$f")" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done
echo "  SHA256SUMS"
[ -z "$pfx" ] || echo "Signed with $pfx${timestamp:+, time-stamped by $timestamp}."
if [ -z "$image" ] || [ -z "$program" ]; then
  echo
  echo "WARNING: built with placeholder payloads: these packages write no real firmware."
fi

#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (osslsigncode), for the build
# of signed packages (scripts/package.sh --sign). The certificate's password
# comes from the environment, never from a command line, where other users of
# the machine could read it.
#   installer/sign.sh --pfx CERT.pfx [--timestamp URL] [--keep COPY] DESCRIPTION FILE [OUT]
# Signs FILE into OUT (default: FILE itself); OUT appears only once signed.
# DESCRIPTION is the program name Windows shows in its prompts. --timestamp
# has a time-stamp server (RFC 3161) countersign, so that the signature stays
# valid after the certificate expires. --keep COPY leaves a copy of the signed
# file at COPY and of FILE as it was before signing in unsigned/ beside COPY:
# makensis signs the uninstaller under a temporary name and packs it into the
# installer, and the installer replaces what makensis wrote.
# Environment: QV_SIGN_PASSWORD, the password of CERT.pfx (empty for a file
# without one).
set -euo pipefail
die() { echo "sign.sh: error: $*" >&2; exit 1; }
pfx=""
timestamp=""
keep=""
while [ $# -gt 0 ]; do
  case $1 in
    --pfx) [ $# -ge 2 ] || die "--pfx needs a file"; pfx=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || die "--timestamp needs a URL"; timestamp=$2; shift 2 ;;
    --keep) [ $# -ge 2 ] || die "--keep needs a file name"; keep=$2; shift 2 ;;
    -*) die "unknown option $1" ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] && [ $# -le 3 ] || die "usage: sign.sh --pfx CERT.pfx [--timestamp URL] [--keep COPY] DESCRIPTION FILE [OUT]"
description=$1 file=$2 out=${3:-$2}
[ -n "$pfx" ] || die "no certificate (--pfx CERT.pfx)"
[ -r "$pfx" ] || die "cannot read the certificate $pfx"
[ -f "$file" ] || die "no file $file to sign"
[ -n "${QV_SIGN_PASSWORD+set}" ] || die "set QV_SIGN_PASSWORD to the password of $pfx"
command -v osslsigncode >/dev/null || die "osslsigncode is missing (scripts/setup.sh installs it)"

if [ -n "$keep" ]; then
  mkdir -p "$(dirname "$keep")/unsigned"
  cp -- "$file" "$(dirname "$keep")/unsigned/$(basename "$keep")"
fi
args=(sign -pkcs12 "$pfx" -h sha256 -n "$description")
# The password goes to osslsigncode on its standard input. An empty one it
# cannot read there: a file without a password is opened with none given.
[ -z "$QV_SIGN_PASSWORD" ] || args+=(-readpass /dev/stdin)
[ -z "$timestamp" ] || args+=(-ts "$timestamp")
tmp=$out.signing
mkdir -p "$(dirname "$out")"
rm -f -- "$tmp"
if ! log=$(printf '%s' "$QV_SIGN_PASSWORD" | osslsigncode "${args[@]}" -in "$file" -out "$tmp" 2>&1); then
  rm -f -- "$tmp"
  die "osslsigncode could not sign $file: $(grep -v '^Succeeded$' <<<"$log" | head -n 5)"
fi
mv -f -- "$tmp" "$out"
[ -z "$keep" ] || cp -- "$out" "$keep"
echo "signed $out ($description)"

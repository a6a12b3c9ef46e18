#!/usr/bin/env bash
# Installs what building, running and testing need (Debian packages).
set -euo pipefail
packages=(
  cmake ninja-build g++ python3          # host build and the simulator
  mingw-w64 g++-mingw-w64-x86-64-posix   # the Windows program (posix thread model)
  googletest libgtest-dev                # tests, native and cross-built from source
  wine wine64                            # running the Windows program
  xvfb x11-utils imagemagick             # a display for windows, screenshots
  fp-utils                               # chmcmd: the help file
  clang                                  # ThreadSanitizer and libFuzzer builds of the serial link
  nsis zip                               # the installer and the portable archive
  osslsigncode openssl                   # signed packages (package.sh --sign) and their tests
)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
updated=0
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing: ${missing[*]}"
  if [ $updated -eq 0 ]; then
    $SUDO apt-get update -qq
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
}
install_missing "${packages[@]}"
# The sanitizer and fuzzer runtimes of the clang that the clang package chose
# (clang 14 on Debian 12).
install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"

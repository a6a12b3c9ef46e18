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
  clang libclang-rt-14-dev               # ThreadSanitizer and libFuzzer builds of the serial link
  nsis zip                               # the installer and the portable archive
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

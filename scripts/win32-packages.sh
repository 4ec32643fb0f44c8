#!/bin/bash
# Installs what the Windows build and its Wine tests need, on Debian 12.
# Safe to run again: it only installs what is missing.
#
# Both MinGW-w64 toolchains and the 64-bit Wine always; the 32-bit Wine only
# where this machine runs 32-bit code and its i386 packages can be had. Where
# it cannot be had, the Wine tests run the x86-64 build under wine64.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/packages.sh"
source "$here/scripts/wine-host.sh"

packages=(
  cmake ninja-build dpkg-dev tcl sqlite3 file locales
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool imagemagick fonts-wine fonts-wqy-microhei
)
packages32=(
  wine32:i386
  libxrender1:i386 libxcomposite1:i386 libxrandr2:i386 libxi6:i386
  libxcursor1:i386 libxinerama1:i386 libxfixes3:i386
)

if [[ $(id -u) -ne 0 ]]; then
  packages_installed "${packages[@]}" || {
    echo "win32-packages: packages are missing; run this script as root" >&2
    exit 1
  }
  exit 0
fi

install_packages "${packages[@]}"

if packages_installed "${packages32[@]}"; then
  exit 0
fi
if ! host_runs_i386; then
  echo "win32-packages: this machine runs no 32-bit code: no 32-bit Wine (the Wine tests use wine64)"
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
if ! install_packages "${packages32[@]}"; then
  echo "win32-packages: the 32-bit Wine could not be installed (see above); the Wine tests use wine64" >&2
fi
exit 0

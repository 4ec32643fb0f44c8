#!/bin/bash
# Installs what the Windows build and its Wine tests need, on Debian 12.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  cmake ninja-build dpkg-dev tcl sqlite3 file locales
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 xvfb xdotool imagemagick fonts-wine fonts-wqy-microhei
  libxrender1:i386 libxcomposite1:i386 libxrandr2:i386 libxi6:i386
  libxcursor1:i386 libxinerama1:i386 libxfixes3:i386
)

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "$@"
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "win32-packages: missing ${missing[*]}; run this script as root" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get -o DPkg::Lock::Timeout=600 update
apt_install "${missing[@]}"

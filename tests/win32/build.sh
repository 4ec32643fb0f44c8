#!/bin/bash
# What the Wine tests start from: the 32-bit program we ship, in BUILD_DIR,
# and where this machine's Wine cannot run it (see scripts/wine-host.sh) the
# x86-64 build of the same sources too, in BUILD64_DIR.
#   tests/win32/build.sh BUILD_DIR BUILD64_DIR
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1
build64=$2

bash "$root/scripts/win32-packages.sh"
if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    echo "SKIPPED: the MinGW-w64 toolchain could not be installed here (see above)"
    exit 77
fi
bash "$root/scripts/build-win32.sh" "$build"

source "$root/scripts/wine-host.sh"
wine_for_host "$build"
if [[ $NW_WINE_ARCH == win64 ]]; then
    echo "Wine: the x86-64 build is made too, for wine64: $NW_WINE_WHY"
    NAMEWHEEL_SQLITE_DIR=$build/sqlite bash "$root/scripts/build-win32.sh" --x64 "$build64"
else
    echo "Wine: $NW_WINE_WHY"
fi

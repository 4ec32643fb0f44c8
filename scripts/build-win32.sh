#!/bin/bash
# Builds the Windows program from scratch on Debian 12:
#   scripts/build-win32.sh [BUILD_DIR]            the 32-bit program we ship → BUILD_DIR/namewheel.exe
#                                                 (default build-win32)
#   scripts/build-win32.sh --x64 [BUILD_DIR]      the same sources for 64-bit Windows (default build-win64)
# Installs the packages it needs when run as root, makes the SQLite
# amalgamation from Debian's source package (cached in BUILD_DIR/sqlite, or
# in NAMEWHEEL_SQLITE_DIR), then configures with the MinGW-w64 toolchain and
# builds with ninja.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=i686
default=build-win32
if [[ ${1:-} == --x64 ]]; then
  arch=x86_64
  default=build-win64
  shift
fi
build=$(mkdir -p "${1:-$here/$default}" && cd "${1:-$here/$default}" && pwd)
sqlite=${NAMEWHEEL_SQLITE_DIR:-$build/sqlite}

bash "$here/scripts/win32-packages.sh"
bash "$here/scripts/sqlite-amalgamation.sh" "$sqlite"

if [[ ! -f $build/build.ninja ]]; then
  cmake -S "$here" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DNAMEWHEEL_QT=OFF -DNAMEWHEEL_TESTS=OFF \
    -DNAMEWHEEL_SQLITE_DIR="$sqlite"
fi
cmake --build "$build" -j "${NAMEWHEEL_BUILD_JOBS:-2}"
echo "build-win32: $build/namewheel.exe ($arch)"

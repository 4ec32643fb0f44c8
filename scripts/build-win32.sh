#!/bin/bash
# Builds the 32-bit Windows program from scratch on Debian 12:
#   scripts/build-win32.sh [BUILD_DIR]     → BUILD_DIR/namewheel.exe (default build-win32)
# Installs the packages it needs when run as root, makes the SQLite
# amalgamation from Debian's source package (cached in BUILD_DIR/sqlite),
# then configures with the MinGW-w64 toolchain and builds with ninja.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(mkdir -p "${1:-$here/build-win32}" && cd "${1:-$here/build-win32}" && pwd)

bash "$here/scripts/win32-packages.sh"
bash "$here/scripts/sqlite-amalgamation.sh" "$build/sqlite"

if [[ ! -f $build/build.ninja ]]; then
  cmake -S "$here" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DNAMEWHEEL_QT=OFF -DNAMEWHEEL_TESTS=OFF \
    -DNAMEWHEEL_SQLITE_DIR="$build/sqlite"
fi
cmake --build "$build" -j 2
echo "build-win32: $build/namewheel.exe"

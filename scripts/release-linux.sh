#!/usr/bin/env bash
# Builds the Linux release archive: dist/namewheel-<version>-linux-x86_64.tar.gz
# with the program, the README, a launcher file and the icon.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
install_packages $NAMEWHEEL_BUILD_PACKAGES
build=$top/build-release
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNAMEWHEEL_TESTS=OFF
cmake --build "$build" --target namewheel
(cd "$build" && cpack -G TGZ >/dev/null)
mkdir -p "$top/dist"
cp "$build"/dist/namewheel-*-linux-x86_64.tar.gz "$top/dist/"
ls "$top"/dist/namewheel-*-linux-x86_64.tar.gz

#!/usr/bin/env bash
# Builds namewheel from scratch and runs every test: unit, widget (offscreen)
# and end-to-end (Xvfb with a window manager and a tray).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NAMEWHEEL_TEST_BUILD:-$top/build-test}
. "$top/scripts/packages.sh"
install_packages $NAMEWHEEL_TEST_PACKAGES
rm -rf "$build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
cd "$build"
ctest --output-on-failure --timeout 300

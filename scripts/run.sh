#!/usr/bin/env bash
# Builds namewheel and starts it. Its roster store cs.db lives beside the
# executable, in build/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
install_packages $NAMEWHEEL_BUILD_PACKAGES
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNAMEWHEEL_TESTS=OFF
cmake --build "$top/build" --target namewheel
exec "$top/build/namewheel"

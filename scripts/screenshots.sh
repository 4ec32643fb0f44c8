#!/usr/bin/env bash
# Regenerates the pictures in docs/ from the end-to-end tests: the draw window
# mid-spin, the tray menu, the folded badge. Needs a built tree (scripts/test.sh
# or cmake + ninja in build-test/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NAMEWHEEL_TEST_BUILD:-$top/build-test}
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
for test in startup tray badge; do
  E2E_SHOTS="$shots" bash "$top/tests/e2e/$test.sh" "$build/namewheel" >/dev/null
done
mkdir -p "$top/docs"
cp "$shots/startup-spin-crop.png" "$top/docs/spin.png"
cp "$shots/tray-menu-crop.png" "$top/docs/tray-menu.png"
cp "$shots/badge-folded-crop.png" "$top/docs/badge.png"
echo "docs/spin.png docs/tray-menu.png docs/badge.png"

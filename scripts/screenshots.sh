#!/usr/bin/env bash
# Regenerates the pictures in docs/ from the end-to-end tests: the draw window
# mid-spin, the tray menu, the folded badge; and from the Wine tests, the
# Windows program's draw window and badge at 100, 150 and 200 %. Needs a built
# tree (scripts/test.sh or cmake + ninja in build-test/, with its win32/).
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
WINE_SHOTS="$shots/wine" bash "$top/tests/win32/scaled.sh" "$build/win32" "$build/win64" >/dev/null
for percent in 100 150 200; do
  cp "$shots/wine/draw-$percent.png" "$top/docs/windows-$percent.png"
  cp "$shots/wine/badge-$percent.png" "$top/docs/windows-badge-$percent.png"
done
echo "docs/spin.png docs/tray-menu.png docs/badge.png docs/windows-{100,150,200}.png docs/windows-badge-{100,150,200}.png"

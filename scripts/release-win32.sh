#!/usr/bin/env bash
# Builds the Windows release archive: dist/namewheel-<version>-win32.zip with
# namewheel.exe and the README, in one folder.
#   scripts/release-win32.sh [BUILD_DIR] [OUT_DIR]
#   scripts/release-win32.sh --x64 [BUILD_DIR] [OUT_DIR]   the x86-64 build, as …-win64.zip
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
x64=()
kind=win32
if [[ ${1:-} == --x64 ]]; then
  x64=(--x64)
  kind=win64
  shift
fi
build=${1:-$top/build-$kind}
out=${2:-$top/dist}
bash "$top/scripts/build-win32.sh" "${x64[@]}" "$build" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt" >&2; exit 1; }
name=namewheel-$version-$kind
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "$build/namewheel.exe" "$top/README.md" "$stage/$name/"
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/$name.zip"
(cd "$stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
echo "$out/$name.zip"

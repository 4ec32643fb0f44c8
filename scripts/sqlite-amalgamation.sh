#!/bin/bash
# Makes sqlite3.c and sqlite3.h from Debian's own sqlite3 source package, in
# OUT (default build-win32/sqlite). Nothing is made again when OUT has them.
#   scripts/sqlite-amalgamation.sh [OUT]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/packages.sh"
out=$(mkdir -p "${1:-$here/build-win32/sqlite}" && cd "${1:-$here/build-win32/sqlite}" && pwd)

if [[ -s $out/sqlite3.c && -s $out/sqlite3.h ]]; then
  exit 0
fi

for tool in dpkg-source tclsh make gcc; do
  command -v "$tool" >/dev/null || { echo "sqlite-amalgamation: $tool is missing (scripts/win32-packages.sh installs it)" >&2; exit 1; }
done

# apt-get source needs deb-src entries: a twin of the binary sources list.
sources=/etc/apt/sources.list.d/debian.sources
twin=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "sqlite-amalgamation: no deb-src entries; run once as root to add $twin" >&2
    exit 1
  fi
  sed 's/^Types: *deb$/Types: deb-src/' "$sources" > "$twin"
  apt_update
fi

work=$out/src
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source sqlite3)
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
[[ -n $tree && -x $tree/configure ]] || { echo "sqlite-amalgamation: no unpacked sqlite3 source in $work" >&2; exit 1; }

mkdir -p "$work/build"
(cd "$work/build" && "$tree/configure" --disable-tcl >configure.log 2>&1 && make sqlite3.c >make.log 2>&1) || {
  echo "sqlite-amalgamation: configure/make failed; see $work/build/*.log" >&2
  exit 1
}
cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$out/"
# Keep the version in a note and drop the sources (14 MB unpacked, more built).
grep -m1 '#define SQLITE_VERSION ' "$out/sqlite3.h" > "$out/VERSION"
rm -rf "$work"
echo "sqlite-amalgamation: $(cat "$out/VERSION") in $out"

#!/usr/bin/env bash
# The Linux release archive as scripts/release-linux.sh makes it: its name,
# what the folder holds, and that nothing in it needs more than glibc 2.31 or
# comes from Qt 6. It is left in OUT/dist and unpacked in OUT/unpacked for the
# tests that run it (on Debian 11, 12 and 13, and the end-to-end tests).
#   portable_archive.sh OUT VERSION
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/../e2e/lib.sh"
. "$top/scripts/chroot.sh"
E2E_NAME=portable-archive
out=$1
version=$2
name=namewheel-$version-linux-x86_64

rm -rf "$out/dist" "$out/unpacked"
mkdir -p "$out/unpacked"
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the release archive is built in a Debian 11 system, which needs root"
    exit 77
fi
if ! chroot_suite_reachable bullseye; then
    echo "SKIP: Debian 11 (bullseye) cannot be fetched from this machine's mirror ($(chroot_mirrors | cut -d' ' -f1))"
    exit 77
fi
for tool in objdump readelf; do
    command -v "$tool" >/dev/null || die "not installed: $tool"
done

bash "$top/scripts/release-linux.sh" "$out/dist" >"$out/release.log" 2>&1 ||
    die "scripts/release-linux.sh failed: $(tail -n 20 "$out/release.log")"
archive=$(tail -n 1 "$out/release.log")
expect_eq "the archive is named after the version" "$out/dist/$name.tar.gz" "$archive"
tar -xzf "$archive" -C "$out/unpacked" || die "the archive does not unpack"
app=$out/unpacked/$name
expect_eq "it holds one folder, $name" "$name" "$(ls "$out/unpacked")"
expect_eq "the folder holds the program, its libraries and plugins, the README, the launcher and the icon" \
    "README.md add-launcher.sh lib licenses namewheel namewheel.desktop namewheel.png plugins qt.conf" \
    "$(ls "$app" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
check "the program is executable" test -x "$app/namewheel"
expect_eq "the program finds its libraries in lib/ beside it" '[$ORIGIN/lib]' \
    "$(readelf -d "$app/namewheel" | sed -n 's/.*Library runpath: //p')"
check "Qt's X11 platform plugin comes along" test -f "$app/plugins/platforms/libqxcb.so"
expect_eq "qt.conf sends Qt to the plugins beside the program" "Plugins = plugins" "$(grep '^Plugins' "$app/qt.conf")"
check "it brings Qt 5.15 Widgets" test -f "$app/lib/libQt5Widgets.so.5"
check "and SQLite" test -f "$app/lib/libsqlite3.so.0"
expect_eq "no Qt 6 library" "" "$(ls "$app/lib" | grep '^libQt6' | tr '\n' ' ')"
expect_eq "none of what it takes from the system" "" \
    "$(ls "$app/lib" | grep -E '^(libc|libm|libstdc\+\+|libgcc_s|libX11|libxcb|libfontconfig|libfreetype)\.so' | tr '\n' ' ')"
check "Qt's copyright and licence text comes along" grep -q 'GPL' "$app/licenses/libqt5core5a.txt"

# glibc 2.31 is Debian 11's and Ubuntu 20.04's.
newest=$(objdump -T "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so 2>/dev/null |
    grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -u -V | tail -n 1)
check "nothing needs a C library newer than 2.31 (the newest asked for is $newest)" \
    test "$(printf '%s\n' "$newest" 2.31 | sort -V | tail -n 1)" = 2.31
newest=$(objdump -T "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so 2>/dev/null |
    grep -o 'GLIBCXX_[0-9.]*' | sed 's/GLIBCXX_//' | sort -u -V | tail -n 1)
check "nothing needs a C++ library newer than GCC 10's, 3.4.28 (the newest asked for is $newest)" \
    test "$(printf '%s\n' "$newest" 3.4.28 | sort -V | tail -n 1)" = 3.4.28

e2e_finish

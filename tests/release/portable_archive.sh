#!/usr/bin/env bash
# The Linux release archives as scripts/release-linux.sh makes them, for
# 64-bit PCs and for 64-bit ARM: their names, what each folder holds, that it
# is built for its processor, and that nothing in it needs more than glibc
# 2.31 or comes from Qt 6. They are left in OUT/dist and unpacked in
# OUT/unpacked for the tests that run them (on Debian 11, 12 and 13, the
# end-to-end tests, and the ARM program under qemu-user); the unit tests built
# for ARM are left in OUT/unit-tests/aarch64.
#   portable_archive.sh OUT VERSION
. "$(dirname "$0")/lib.sh"
TEST_NAME=portable-archive
out=$1
version=$2

rm -rf "$out/dist" "$out/unpacked" "$out/unit-tests"
mkdir -p "$out/unpacked"
needs_root "the release archives are built in a Debian 11 system"
needs_private_mounts
needs_suite bullseye "11 (bullseye)"
command -v readelf >/dev/null || die "not installed: readelf"

bash "$top/scripts/release-linux.sh" --unit-tests "$out/unit-tests" "$out/dist" >"$out/release.out" 2>"$out/release.log" ||
    die "scripts/release-linux.sh failed: $(tail -n 20 "$out/release.log")"
cat "$out/release.log"
expect_eq "it prints the two archives' paths last" \
    "$out/dist/namewheel-$version-linux-x86_64.tar.gz $out/dist/namewheel-$version-linux-aarch64.tar.gz" \
    "$(tail -n 2 "$out/release.out" | tr '\n' ' ' | sed 's/ $//')"
expect_eq "dist/ holds the two archives" \
    "namewheel-$version-linux-aarch64.tar.gz namewheel-$version-linux-x86_64.tar.gz" \
    "$(ls "$out/dist" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
check "the unit tests built for ARM are left beside them" test -x "$out/unit-tests/aarch64/unit_tests"

# The newest version of a symbol set (GLIBC, GLIBCXX) that FILEs ask for.
newest_version() {
    local set=$1
    shift
    readelf -V "$@" 2>/dev/null | grep -o "${set}_[0-9.]*" | sed "s/^${set}_//" | sort -u -V | tail -n 1
}

# check_archive ARCH MACHINE: MACHINE as readelf names the processor.
check_archive() {
    local arch=$1 machine=$2 name app newest
    name=namewheel-$version-linux-$arch
    note "$name"
    mkdir -p "$out/unpacked/$arch"
    tar -xzf "$out/dist/$name.tar.gz" -C "$out/unpacked/$arch" || { fail "$name.tar.gz does not unpack"; return; }
    expect_eq "it holds one folder, $name" "$name" "$(ls "$out/unpacked/$arch")"
    mv "$out/unpacked/$arch/$name" "$out/unpacked/" && rmdir "$out/unpacked/$arch"
    app=$out/unpacked/$name
    expect_eq "the folder holds the program, its libraries, plugins and translations, the README, the launcher and the icon" \
        "README.md add-launcher.sh lib licenses namewheel namewheel.desktop namewheel.png plugins qt.conf translations" \
        "$(ls "$app" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
    check "the program is executable" test -x "$app/namewheel"
    expect_eq "the program, its libraries and plugins are built for $machine" "$machine" \
        "$(for f in "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so; do
            readelf -h "$f" | sed -n 's/^ *Machine: *//p'
        done | sort -u | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "the program finds its libraries in lib/ beside it" '[$ORIGIN/lib]' \
        "$(readelf -d "$app/namewheel" | sed -n 's/.*Library runpath: //p')"
    expect_eq "the platform plugin finds them too" '[$ORIGIN/../../lib]' \
        "$(readelf -d "$app/plugins/platforms/libqxcb.so" | sed -n 's/.*Library runpath: //p')"
    check "Qt's X11 platform plugin comes along" test -f "$app/plugins/platforms/libqxcb.so"
    expect_eq "the input methods: compose keys, IBus, Fcitx 4 (first by name) and Fcitx 5" \
        "libcomposeplatforminputcontextplugin.so libfcitx4platforminputcontextplugin.so libfcitx5platforminputcontextplugin.so libibusplatforminputcontextplugin.so" \
        "$(ls "$app/plugins/platforminputcontexts" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "qt.conf sends Qt to the plugins beside the program" "Plugins = plugins" "$(grep '^Plugins' "$app/qt.conf")"
    expect_eq "and to the translations" "Translations = translations" "$(grep '^Translations' "$app/qt.conf")"
    expect_eq "Qt's simplified and traditional Chinese translations come along" "qtbase_zh_CN.qm qtbase_zh_TW.qm" \
        "$(ls "$app/translations" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
    check "they are Qt 5.15's, with the translation of the standard buttons" \
        grep -q QPlatformTheme "$app/translations/qtbase_zh_CN.qm"
    check "it brings Qt 5.15 Widgets" test -f "$app/lib/libQt5Widgets.so.5"
    check "and SQLite" test -f "$app/lib/libsqlite3.so.0"
    expect_eq "no Qt 6 library" "" "$(ls "$app/lib" | grep '^libQt6' | tr '\n' ' ')"
    expect_eq "none of what it takes from the system" "" \
        "$(ls "$app/lib" | grep -E '^(ld-linux|libc|libm|libstdc\+\+|libgcc_s|libX11|libxcb|libfontconfig|libfreetype)\.so' | tr '\n' ' ')"
    check "Qt's copyright and licence text comes along" grep -q 'GPL' "$app/licenses/libqt5core5a.txt"
    local package
    for package in qttranslations5-l10n fcitx-frontend-qt5 fcitx5-frontend-qt5; do
        check "and that of $package" grep -qi 'license' "$app/licenses/$package.txt"
    done

    # glibc 2.31 is Debian 11's and Ubuntu 20.04's; GCC 10's C++ library theirs.
    newest=$(newest_version GLIBC "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so)
    check "nothing needs a C library newer than 2.31 (the newest asked for is $newest)" \
        test "$(printf '%s\n' "$newest" 2.31 | sort -V | tail -n 1)" = 2.31
    newest=$(newest_version GLIBCXX "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so)
    check "nothing needs a C++ library newer than GCC 10's, 3.4.28 (the newest asked for is $newest)" \
        test "$(printf '%s\n' "$newest" 3.4.28 | sort -V | tail -n 1)" = 3.4.28
}
check_archive x86_64 "Advanced Micro Devices X86-64"
check_archive aarch64 AArch64

finish

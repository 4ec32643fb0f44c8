#!/usr/bin/env bash
# Builds namewheel and makes the portable folder and its archive: the program,
# the libraries it needs that a desktop does not bring, Qt's X11 platform and
# input-method plugins, Qt's Chinese translations, and the copyright files of
# what is bundled.
# NAMEWHEEL_QT_TRANSLATIONS names the folder Debian's package of Qt 5's
# translations is unpacked in (scripts/release-linux.sh). Run by
# scripts/release-linux.sh inside a Debian 11 system (Qt 5.15, glibc 2.31),
# so that the folder starts on that system and every later one.
#   bundle-linux.sh SOURCE BUILD OUT JOBS [ARCH]
# ARCH x86_64 (the default) builds with the system's own compiler and Qt;
# aarch64 cross-builds against the Debian 11 arm64 packages unpacked in
# NAMEWHEEL_SYSROOT (scripts/sysroot.sh). NAMEWHEEL_UNIT_TESTS=DIR also
# builds the unit tests and leaves them in DIR.
set -euo pipefail
src=$1 build=$2 out=$3 jobs=${4:-2} arch=${5:-x86_64}
case "$arch" in
    x86_64) loader='ld-linux-x86-64\.so\.2' sysroot="" readelf=readelf ;;
    aarch64)
        loader='ld-linux-aarch64\.so\.1' sysroot=${NAMEWHEEL_SYSROOT:?the arm64 packages folder}
        readelf=aarch64-linux-gnu-readelf
        ;;
    *) echo "bundle-linux.sh: no such processor: $arch" >&2; exit 1 ;;
esac

# What the program takes from the system: the C and C++ runtimes, the X11
# client libraries and fontconfig with what they need themselves. Everything
# else it links against comes along. (Sonames, as extended regular expressions.)
SYSTEM_LIBRARIES=(
    "$loader" 'libc\.so\.6' 'libm\.so\.6' 'libdl\.so\.2' 'libpthread\.so\.0' 'librt\.so\.1'
    'libresolv\.so\.2' 'libutil\.so\.1'
    'libstdc\+\+\.so\.6' 'libgcc_s\.so\.1'
    'libX11\.so\.6' 'libX11-xcb\.so\.1' 'libxcb\.so\.1' 'libXau\.so\.6' 'libXdmcp\.so\.6' 'libbsd\.so\.0' 'libmd\.so\.0'
    'libfontconfig\.so\.1' 'libfreetype\.so\.6' 'libexpat\.so\.1' 'libz\.so\.1' 'libpng16\.so\.16'
    'libbrotlidec\.so\.1' 'libbrotlicommon\.so\.1' 'libuuid\.so\.1'
)
# Qt's plugins the program uses: the X11 platform, and the input methods:
# compose keys, IBus, and Fcitx 4 and 5 (Kylin, UOS and Deepin type Chinese
# with Fcitx).
QT_PLUGINS=(
    platforms/libqxcb.so
    platforminputcontexts/libcomposeplatforminputcontextplugin.so
    platforminputcontexts/libibusplatforminputcontextplugin.so
    platforminputcontexts/libfcitxplatforminputcontextplugin.so
    platforminputcontexts/libfcitx5platforminputcontextplugin.so
)
# Both Fcitx plugins answer to "fcitx", the input method Kylin, UOS and Deepin
# name in QT_IM_MODULE, and Qt 5 gives a name to the first plugin of a folder
# by file name; Fcitx 5's also answers to "fcitx5". Fcitx 4's plugin speaks
# to Fcitx 5 as well (through its portal interface), Fcitx 5's only to Fcitx
# 5: Fcitx 4's takes "fcitx", under a file name that comes first.
FCITX4_PLUGIN=platforminputcontexts/libfcitx4platforminputcontextplugin.so
# Qt's own texts (the file dialog, the standard buttons) in Chinese as written
# in mainland China and in Taiwan (Hong Kong and Macau read the second), from
# the unpacked package of Qt's translations in NAMEWHEEL_QT_TRANSLATIONS.
QT_TRANSLATIONS=(qtbase_zh_CN.qm qtbase_zh_TW.qm)

system_regex=$(
    IFS='|'
    echo "^(${SYSTEM_LIBRARIES[*]})$"
)

configure=(-DNAMEWHEEL_TESTS=OFF)
targets=(namewheel)
if [ -n "${NAMEWHEEL_UNIT_TESTS:-}" ]; then
    configure=(-DNAMEWHEEL_TESTS=ON -DNAMEWHEEL_WIN32_TESTS=OFF)
    targets+=(unit_tests)
fi
[ "$arch" = x86_64 ] || configure+=(-DCMAKE_TOOLCHAIN_FILE="$src/cmake/$arch-linux-gnu.cmake" -DNAMEWHEEL_SYSROOT="$sysroot")
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DNAMEWHEEL_PORTABLE=ON "${configure[@]}" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --parallel "$jobs" --target "${targets[@]}"
if [ -n "${NAMEWHEEL_UNIT_TESTS:-}" ]; then
    mkdir -p "$NAMEWHEEL_UNIT_TESTS"
    cp "$build/tests/unit_tests" "$NAMEWHEEL_UNIT_TESTS/"
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=namewheel-$version-linux-$arch
app=$out/$name
rm -rf "$app"
cmake --install "$build" --prefix "$app" --strip >/dev/null

if [ "$arch" = x86_64 ]; then
    plugins=$(qmake -query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
else
    plugins=$sysroot/usr/lib/$arch-linux-gnu/qt5/plugins
fi
translations=${NAMEWHEEL_QT_TRANSLATIONS:?the folder of the unpacked Qt translations package}
mkdir -p "$app/lib" "$app/licenses" "$app/translations"
for plugin in "${QT_PLUGINS[@]}"; do
    mkdir -p "$app/plugins/$(dirname "$plugin")"
    cp "$plugins/$plugin" "$app/plugins/$plugin"
done
mv "$app/plugins/platforminputcontexts/libfcitxplatforminputcontextplugin.so" "$app/plugins/$FCITX4_PLUGIN"
for translation in "${QT_TRANSLATIONS[@]}"; do
    cp "$translations/usr/share/qt5/translations/$translation" "$app/translations/"
done
cp "$translations/usr/share/doc/qttranslations5-l10n/copyright" "$app/licenses/qttranslations5-l10n.txt"
cat >"$app/qt.conf" <<'EOF'
[Paths]
Prefix = .
Plugins = plugins
Translations = translations
EOF

# The libraries everything needs, as the loader finds them here, less the
# system's own: "SONAME PATH", or "SONAME not found".
needed() {
    ldd "$@" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 } $2 == "=>" && $3 == "not" { print $1, "not found" }' | sort -u
}
# ldd cannot run another processor's loader: the folder of its packages is
# searched for what each file names (DT_NEEDED), and so on down.
needed_in_sysroot() {
    local -A seen=()
    local todo=("$@") file soname dir found
    while [ ${#todo[@]} -gt 0 ]; do
        file=${todo[0]}
        todo=("${todo[@]:1}")
        for soname in $("$readelf" -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [ -n "${seen[$soname]:-}" ] && continue
            seen[$soname]=1
            found=""
            for dir in lib/$arch-linux-gnu usr/lib/$arch-linux-gnu lib usr/lib; do
                [ -e "$sysroot/$dir/$soname" ] && { found=$sysroot/$dir/$soname; break; }
            done
            if [ -n "$found" ]; then
                echo "$soname $found"
                todo+=("$found")
            else
                echo "$soname not found"
            fi
        done
    done | sort -u
}
# Which package a file comes from, as dpkg -S tells.
package_of() {
    if [ -z "$sysroot" ]; then
        # dpkg knows a file by the path its package gave, with or without /usr.
        dpkg -S "$1" "${1#/usr}" 2>/dev/null | head -n 1 | cut -d: -f1
    else
        awk -v f="${1#"$sysroot"}" -v g="${1#"$sysroot"/usr}" '$2 == f || $2 == g { print $1; exit }' "$sysroot/.namewheel/files"
    fi
}
binaries=("$app/namewheel" $(find "$app/plugins" -name '*.so'))
if [ -z "$sysroot" ]; then needs=$(needed "${binaries[@]}"); else needs=$(needed_in_sysroot "${binaries[@]}"); fi
missing=$(grep ' not found$' <<<"$needs" || true)
[ -z "$missing" ] || { echo "unresolved libraries: $missing" >&2; exit 1; }
bundled=()
while read -r soname path; do
    [[ $soname =~ $system_regex ]] && continue
    cp -L "$path" "$app/lib/$soname"
    bundled+=("$path")
done <<<"$needs"

# Each finds its neighbours in lib/ first; the plugins look two folders up.
chmod 644 "$app"/lib/*.so* "$app"/plugins/*/*.so
for lib in "$app"/lib/*.so*; do patchelf --set-rpath '$ORIGIN' "$lib"; done
for plugin in "$app"/plugins/*/*.so; do patchelf --set-rpath '$ORIGIN/../../lib' "$plugin"; done

# Their copyright and licence texts, one file a package.
for path in "${bundled[@]}" "${QT_PLUGINS[@]/#/$plugins/}"; do
    real=$(readlink -f "$path")
    package=$(package_of "$real") || true
    [ -n "$package" ] && [ -f "$sysroot/usr/share/doc/$package/copyright" ] &&
        cp "$sysroot/usr/share/doc/$package/copyright" "$app/licenses/$package.txt"
done
ls "$app/licenses" | grep -q . || { echo "no copyright files were found" >&2; exit 1; }

# Nothing bundled may need a newer C library than this system's.
newest=$("$readelf" -V "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so |
    grep -o 'GLIBC_[0-9.]*' | sort -u -V | tail -n 1)
echo "newest C library version needed: $newest"

tar --sort=name --owner=0 --group=0 --numeric-owner -C "$out" -czf "$out/$name.tar.gz" "$name"
echo "$out/$name.tar.gz"

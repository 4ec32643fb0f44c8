#!/usr/bin/env bash
# Builds namewheel and makes the portable folder and its archive: the program,
# the libraries it needs that a desktop does not bring, Qt's X11 platform
# plugin, and the copyright files of what is bundled. Run by
# scripts/release-linux.sh inside a Debian 11 system (Qt 5.15, glibc 2.31),
# so that the folder starts on that system and every later one.
#   bundle-linux.sh SOURCE BUILD OUT JOBS
set -euo pipefail
src=$1 build=$2 out=$3 jobs=${4:-2}

# What the program takes from the system: the C and C++ runtimes, the X11
# client libraries and fontconfig with what they need themselves. Everything
# else it links against comes along. (Sonames, as extended regular expressions.)
SYSTEM_LIBRARIES=(
    'ld-linux-x86-64\.so\.2' 'libc\.so\.6' 'libm\.so\.6' 'libdl\.so\.2' 'libpthread\.so\.0' 'librt\.so\.1'
    'libresolv\.so\.2' 'libutil\.so\.1'
    'libstdc\+\+\.so\.6' 'libgcc_s\.so\.1'
    'libX11\.so\.6' 'libX11-xcb\.so\.1' 'libxcb\.so\.1' 'libXau\.so\.6' 'libXdmcp\.so\.6' 'libbsd\.so\.0' 'libmd\.so\.0'
    'libfontconfig\.so\.1' 'libfreetype\.so\.6' 'libexpat\.so\.1' 'libz\.so\.1' 'libpng16\.so\.16'
    'libbrotlidec\.so\.1' 'libbrotlicommon\.so\.1' 'libuuid\.so\.1'
)
# Qt's plugins the program uses: the X11 platform, and the input methods that
# need no more than Qt (compose keys, IBus over D-Bus).
QT_PLUGINS=(
    platforms/libqxcb.so
    platforminputcontexts/libcomposeplatforminputcontextplugin.so
    platforminputcontexts/libibusplatforminputcontextplugin.so
)

system_regex=$(
    IFS='|'
    echo "^(${SYSTEM_LIBRARIES[*]})$"
)

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DNAMEWHEEL_TESTS=OFF -DNAMEWHEEL_PORTABLE=ON >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --parallel "$jobs" --target namewheel
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=namewheel-$version-linux-x86_64
app=$out/$name
rm -rf "$app"
cmake --install "$build" --prefix "$app" --strip >/dev/null

plugins=$(qmake -query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
mkdir -p "$app/lib" "$app/licenses"
for plugin in "${QT_PLUGINS[@]}"; do
    mkdir -p "$app/plugins/$(dirname "$plugin")"
    cp "$plugins/$plugin" "$app/plugins/$plugin"
done
cat >"$app/qt.conf" <<'EOF'
[Paths]
Prefix = .
Plugins = plugins
EOF

# The libraries everything needs, as the loader finds them here, less the
# system's own.
needed() {
    ldd "$@" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }' | sort -u
}
bundled=()
while read -r soname path; do
    [[ $soname =~ $system_regex ]] && continue
    cp -L "$path" "$app/lib/$soname"
    bundled+=("$path")
done < <(needed "$app/namewheel" $(find "$app/plugins" -name '*.so'))
missing=$(ldd "$app/namewheel" $(find "$app/plugins" -name '*.so') | grep 'not found' || true)
[ -z "$missing" ] || { echo "unresolved libraries: $missing" >&2; exit 1; }

# Each finds its neighbours in lib/ first; the plugins look two folders up.
chmod 644 "$app"/lib/*.so* "$app"/plugins/*/*.so
for lib in "$app"/lib/*.so*; do patchelf --set-rpath '$ORIGIN' "$lib"; done
for plugin in "$app"/plugins/*/*.so; do patchelf --set-rpath '$ORIGIN/../../lib' "$plugin"; done

# Their copyright and licence texts, one file a package.
for path in "${bundled[@]}" "${QT_PLUGINS[@]/#/$plugins/}"; do
    # dpkg knows a file by the path its package gave, with or without /usr.
    real=$(readlink -f "$path")
    package=$(dpkg -S "$real" "${real#/usr}" 2>/dev/null | head -n 1 | cut -d: -f1) || true
    [ -n "$package" ] && [ -f "/usr/share/doc/$package/copyright" ] &&
        cp "/usr/share/doc/$package/copyright" "$app/licenses/$package.txt"
done
ls "$app/licenses" | grep -q . || { echo "no copyright files were found" >&2; exit 1; }

# Nothing bundled may need a newer C library than this system's.
newest=$(objdump -T "$app/namewheel" "$app"/lib/*.so* "$app"/plugins/*/*.so |
    grep -o 'GLIBC_[0-9.]*' | sort -u -V | tail -n 1)
echo "newest C library version needed: $newest"

tar --sort=name --owner=0 --group=0 --numeric-owner -C "$out" -czf "$out/$name.tar.gz" "$name"
echo "$out/$name.tar.gz"

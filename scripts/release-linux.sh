#!/usr/bin/env bash
# Builds the Linux release archives, namewheel-<version>-linux-x86_64.tar.gz
# for 64-bit PCs and namewheel-<version>-linux-aarch64.tar.gz for 64-bit ARM
# machines: each one folder that runs on glibc 2.31 or later (Debian 11 and
# later, Ubuntu 20.04 and later, and the systems built on them). The program
# is compiled in a Debian 11 system made with debootstrap (kept in
# /var/cache/namewheel/chroots), against its Qt 5.15, and the libraries it
# needs come along in the folder (scripts/bundle-linux.sh). The ARM program
# is built there by Debian 11's cross compiler against Debian 11's arm64
# packages, unpacked in a folder of their own (scripts/sysroot.sh, kept in
# /var/cache/namewheel/sysroots). Qt's Chinese translations come from Debian
# 12's package of Qt 5.15's, unpacked the same way.
#   release-linux.sh [--arch x86_64|aarch64]... [--unit-tests DIR] [OUT_DIR]
# OUT_DIR is dist/ by default; both processors unless --arch says which. It
# prints each archive's path, one a line, last. --unit-tests also leaves the
# unit tests built for ARM in DIR/aarch64 (they run under qemu-user).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
archs=() unit_tests="" out_arg=""
args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) archs+=("$2"); shift 2 ;;
        --unit-tests) unit_tests=$2; shift 2 ;;
        -*) echo "release-linux.sh: unknown option $1" >&2; exit 1 ;;
        *) out_arg=$1; shift ;;
    esac
done
[ ${#archs[@]} -gt 0 ] || archs=(x86_64 aarch64)
for arch in "${archs[@]}"; do
    case "$arch" in x86_64 | aarch64) ;; *) echo "release-linux.sh: no such processor: $arch" >&2; exit 1 ;; esac
done
out=$(mkdir -p "${out_arg:-$top/dist}" && cd "${out_arg:-$top/dist}" && pwd)
if [ -n "$unit_tests" ]; then
    unit_tests=$(mkdir -p "$unit_tests" && cd "$unit_tests" && pwd)
fi
if [ "$(id -u)" != 0 ]; then
    echo "release-linux.sh makes and enters a Debian 11 system: run it as root" >&2
    exit 1
fi
. "$top/scripts/packages.sh"
. "$top/scripts/chroot.sh"
. "$top/scripts/sysroot.sh"
install_packages $NAMEWHEEL_RELEASE_PACKAGES
chroot_private "${args[@]}"

work=$(mktemp -d /var/tmp/namewheel-release.XXXXXX)
roots=()
leave() {
    local root
    for root in "${roots[@]}"; do
        chroot_umount_system "$root"
        umount -R "$root" 2>/dev/null
    done
    rm -rf "$work"
}
trap leave EXIT

# Qt's translations, the same for both processors, unpacked from Debian 12's
# package (see packages.sh), which a Debian 12 system fetches.
translations=$(sysroot_ensure "$(chroot_ensure bookworm desktop $NAMEWHEEL_DESKTOP_BASELINE)" amd64 translations \
    $NAMEWHEEL_QT_TRANSLATIONS_PACKAGES)

# bind_ro FOLDER DIR: FOLDER shows at DIR, read-only.
bind_ro() {
    mkdir -p "$2" && mount --bind "$1" "$2" && mount -o remount,bind,ro "$2"
}

# build ARCH: builds and packs in a copy of the Debian 11 system; adds the
# archive's path to archives.
archives=()
build() {
    local arch=$1 base root env=() sysroot log archive
    root=$work/$arch/root
    log=$work/$arch.log
    mkdir -p "$work/$arch"
    if [ "$arch" = x86_64 ]; then
        base=$(chroot_ensure bullseye build $NAMEWHEEL_PORTABLE_BUILD_PACKAGES)
    else
        base=$(chroot_ensure bullseye cross $NAMEWHEEL_CROSS_BUILD_PACKAGES)
        sysroot=$(sysroot_ensure "$base" arm64 build $NAMEWHEEL_ARM64_BUILD_PACKAGES)
    fi
    roots+=("$root")
    chroot_overlay "$base" "$root"
    chroot_mount_system "$root"
    mkdir -p "$root/out"
    bind_ro "$top" "$root/src"
    bind_ro "$translations" "$root/translations"
    env+=(NAMEWHEEL_QT_TRANSLATIONS=/translations)
    if [ "$arch" != x86_64 ]; then
        bind_ro "$sysroot" "$root/sysroot"
        env+=(NAMEWHEEL_SYSROOT=/sysroot)
        [ -z "$unit_tests" ] || env+=(NAMEWHEEL_UNIT_TESTS=/out/unit-tests)
    fi
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "${env[@]}" \
        bash /src/scripts/bundle-linux.sh /src /build /out "${NAMEWHEEL_BUILD_JOBS:-2}" "$arch" >"$log" 2>&1 ||
        { tail -n 40 "$log" >&2; echo "the portable build for $arch failed" >&2; return 1; }
    grep '^newest C library' "$log" | sed "s/^/$arch: /" >&2 || true
    archive=$(tail -n 1 "$log")
    cp "$root$archive" "$out/"
    if [ -d "$root/out/unit-tests" ]; then
        rm -rf "${unit_tests:?}/$arch"
        cp -r "$root/out/unit-tests" "$unit_tests/$arch"
    fi
    archives+=("$out/$(basename "$archive")")
}

for arch in "${archs[@]}"; do
    build "$arch"
done
printf '%s\n' "${archives[@]}"

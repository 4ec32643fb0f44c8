#!/usr/bin/env bash
# Builds the Linux release archive, namewheel-<version>-linux-x86_64.tar.gz:
# one folder that runs on glibc 2.31 or later (Debian 11 and later, Ubuntu
# 20.04 and later). The program is compiled in a Debian 11 system made with
# debootstrap (kept in /var/cache/namewheel/chroots), against its Qt 5.15,
# and the libraries it needs come along in the folder (scripts/bundle-linux.sh).
#   release-linux.sh [OUT_DIR]   (dist/ by default); prints the archive's path last
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$top/dist}" && cd "${1:-$top/dist}" && pwd)
if [ "$(id -u)" != 0 ]; then
    echo "release-linux.sh makes and enters a Debian 11 system: run it as root" >&2
    exit 1
fi
. "$top/scripts/packages.sh"
. "$top/scripts/chroot.sh"
install_packages $NAMEWHEEL_RELEASE_PACKAGES
chroot_private "$@"

base=$(chroot_ensure bullseye build $NAMEWHEEL_PORTABLE_BUILD_PACKAGES)
work=$(mktemp -d /var/tmp/namewheel-release.XXXXXX)
root=$work/root
trap 'chroot_umount_system "$root"; umount -R "$root" 2>/dev/null; rm -rf "$work"' EXIT
chroot_overlay "$base" "$root"
chroot_mount_system "$root"
mkdir -p "$root/src" "$root/out"
mount --bind "$top" "$root/src"
mount -o remount,bind,ro "$root/src"

chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    bash /src/scripts/bundle-linux.sh /src /build /out "${NAMEWHEEL_BUILD_JOBS:-2}" >"$work/bundle.log" 2>&1 ||
    { tail -n 40 "$work/bundle.log" >&2; echo "the portable build failed" >&2; exit 1; }
grep '^newest C library' "$work/bundle.log" >&2 || true
archive=$(tail -n 1 "$work/bundle.log")
cp "$root$archive" "$out/"
echo "$out/$(basename "$archive")"

#!/usr/bin/env bash
# The release tests where no private mounts can be made: inside a chroot of a
# fresh Debian 12 whose / is no mount point of its own (as in many
# containers), each says it is skipped, and why, instead of failing.
#   private_mounts.sh
. "$(dirname "$0")/lib.sh"
needs_root "making and entering a Debian system"
needs_private_mounts
chroot_private "$@"
TEST_NAME=private-mounts
NAMEWHEEL_EXE=$(type -P true) e2e_init
if [ -z "$(ls -d "$NAMEWHEEL_CHROOT_CACHE"/bookworm-desktop-*/.namewheel-complete 2>/dev/null)" ]; then
    needs_suite bookworm "12 (bookworm)"
fi
base=$(chroot_ensure bookworm desktop $NAMEWHEEL_DESKTOP_BASELINE) || die "could not make a Debian 12 system"

# The system, seen through an overlay of the whole cache: its own folder in
# there is a folder, no mount point. It stays as it was; the mounts go with
# this script's mount namespace.
work=$(mktemp -d /var/tmp/namewheel-private-mounts.XXXXXX)
trap 'umount -R "$work/cache" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/cache" "$work/upper" "$work/work"
mount -t overlay overlay -o "lowerdir=$(dirname "$base"),upperdir=$work/upper,workdir=$work/work" "$work/cache" ||
    die "cannot mount an overlay of $(dirname "$base")"
root=$work/cache/$(basename "$base")
mount -t proc proc "$root/proc" || die "cannot mount /proc in the system"
mkdir -p "$root/src"
mount --bind "$top" "$root/src" && mount -o remount,bind,ro "$root/src" || die "cannot show the sources in the system"
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
expect_eq "inside, / is no mount point" no "$(inside sh -c 'mountpoint -q / && echo yes || echo no')"

for script in "portable_archive.sh /tmp/out 2.0.0.0" "portable_chroot.sh bookworm /tmp/none.tar.gz" \
    "portable_arm64.sh /tmp/none" "arm64_unit.sh /tmp/none"; do
    set -- $script
    output=$(inside bash "/src/tests/release/$1" "${@:2}" 2>&1)
    rc=$?
    if [ $rc = 77 ] && [[ $output == *"cannot make the private mounts"* ]]; then
        pass "$1 is skipped: $(tail -n 1 <<<"$output")"
    else
        fail "$1 ended with $rc: $(tail -n 3 <<<"$output" | tr '\n' ' ')"
    fi
done
finish

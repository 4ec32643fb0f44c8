#!/usr/bin/env bash
# The unit tests built for 64-bit ARM with the ARM archive
# (scripts/release-linux.sh --unit-tests), run by qemu-user against the
# Debian 11 arm64 packages they were built with (scripts/sysroot.sh).
#   arm64_unit.sh PATH/TO/unit_tests
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the arm64 packages are fetched in a Debian 11 system, which needs root"
    exit 77
fi
. "$top/scripts/chroot.sh"
. "$top/scripts/sysroot.sh"
chroot_private "$@"
. "$here/../e2e/lib.sh"
. "$top/scripts/packages.sh"
E2E_NAME=arm64-unit
tests=$1
if ! command -v qemu-aarch64 >/dev/null; then
    echo "SKIP: qemu-aarch64 is not installed (package qemu-user): ARM programs cannot run here"
    exit 77
fi
if [ ! -x "$tests" ]; then
    echo "SKIP: no unit tests built for ARM at $tests (see release.portable.archive)"
    exit 77
fi
base=$(chroot_ensure bullseye cross $NAMEWHEEL_CROSS_BUILD_PACKAGES) || die "could not make the Debian 11 system"
sysroot=$(sysroot_ensure "$base" arm64 build $NAMEWHEEL_ARM64_BUILD_PACKAGES) ||
    die "could not unpack Debian 11's arm64 packages"

expect_eq "the unit tests are built for 64-bit ARM" AArch64 "$(readelf -h "$tests" | sed -n 's/^ *Machine: *//p')"
work=$(mktemp -d "${TMPDIR:-/tmp}/namewheel-arm64-unit.XXXXXX") || die "mktemp failed"
trap 'rm -rf "$work"' EXIT
listed=$(cd "$work" && qemu-aarch64 -L "$sysroot" "$tests" --gtest_list_tests | grep -c '^  ')
(cd "$work" && qemu-aarch64 -L "$sysroot" "$tests") >"$work/output.txt" 2>&1
rc=$?
tail -n 3 "$work/output.txt"
if [ $rc -eq 0 ]; then
    pass "all unit tests pass on ARM"
else
    fail "the unit tests fail on ARM (exit code $rc): $(grep -E '^\[  FAILED  \]' "$work/output.txt" | sort -u | head -20)"
fi
expect_eq "every listed test ran ($listed)" "[  PASSED  ] $listed tests." "$(grep -E '^\[  PASSED  \]' "$work/output.txt")"
e2e_finish

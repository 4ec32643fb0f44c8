#!/usr/bin/env bash
# The unit tests built for 64-bit ARM with the ARM archive
# (scripts/release-linux.sh --unit-tests), run by qemu-user against the
# Debian 11 arm64 packages they were built with (scripts/sysroot.sh).
#   arm64_unit.sh PATH/TO/unit_tests
. "$(dirname "$0")/lib.sh"
needs_root "the arm64 packages are fetched in a Debian 11 system"
needs_private_mounts
chroot_private "$@"
TEST_NAME=arm64-unit
tests=$1
needs_qemu
[ -x "$tests" ] || skip "no unit tests built for ARM at $tests (see release.portable.archive)"
base=$(chroot_ensure bullseye cross $NAMEWHEEL_CROSS_BUILD_PACKAGES) || die "could not make the Debian 11 system"
sysroot=$(sysroot_ensure "$base" arm64 build $NAMEWHEEL_ARM64_BUILD_PACKAGES) ||
    die "could not unpack Debian 11's arm64 packages"

expect_eq "the unit tests are built for 64-bit ARM" AArch64 "$(readelf -h "$tests" | sed -n 's/^ *Machine: *//p')"
desktop_init
work=$TEST_TMP
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
finish

#!/usr/bin/env bash
# Builds namewheel from scratch and runs every test: unit, widget (offscreen),
# end-to-end (Xvfb with a window manager and a tray), the short fuzz runs and
# the short crash runs, and the Linux release archive on fresh Debian 11, 12
# and 13 systems (made once with debootstrap, then kept in
# /var/cache/namewheel/chroots). Then builds it again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the suite once more, but for the runs
# that only measure the program from outside.
#   NAMEWHEEL_TEST_BUILD=DIR      the build folder (DIR-sanitize for the second)
#   NAMEWHEEL_TEST_SANITIZE=0     leave out the sanitizer build
#   NAMEWHEEL_BUILD_JOBS=N        compile jobs (2)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NAMEWHEEL_TEST_BUILD:-$top/build-test}
jobs=${NAMEWHEEL_BUILD_JOBS:-2}
. "$top/scripts/packages.sh"
install_packages $NAMEWHEEL_TEST_PACKAGES

status=0
rm -rf "$build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$jobs"
(cd "$build" && ctest --output-on-failure --timeout 900) || status=1
# Which Windows build the Wine tests ran, and why: their own output is kept
# in ctest's log.
grep -h -E '^(Wine: |win32 tests: |win32 archive: )' "$build/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u || true

if [ "${NAMEWHEEL_TEST_SANITIZE:-1}" != 0 ]; then
    rm -rf "$build-sanitize"
    cmake -S "$top" -B "$build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAMEWHEEL_SANITIZE=ON -DNAMEWHEEL_WIN32_TESTS=OFF
    cmake --build "$build-sanitize" --parallel "$jobs"
    (cd "$build-sanitize" && ctest --output-on-failure --timeout 900 -LE 'crash|valgrind') || status=1
fi
exit $status

#!/usr/bin/env bash
# The Windows release archive, unpacked into a fresh folder and started there
# under Wine: the program makes its cs.db beside itself and nowhere else.
# Where this machine's Wine cannot run the 32-bit program, the archive made
# the same way from the x86-64 build is the one started.
#   win32_archive.sh WIN32_BUILD_DIR [WIN64_BUILD_DIR]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
build64=${2:-$(dirname "$build")/win64}
source "$root/tests/win32/lib.sh"

nw_setup "$build" "$build64"
work=$TEST_TMP

zip=$(bash "$root/scripts/release-win32.sh" "$build" "$work/dist" | tail -n 1)
if [[ $(basename "$zip") == namewheel-2.0.0.0-win32.zip && -f $zip ]]; then
    pass "the archive is $(basename "$zip")"
else
    die "no archive namewheel-2.0.0.0-win32.zip (got '$zip')"
fi
unpack() {
    local zip=$1 folder=$2
    mkdir -p "$folder"
    (cd "$folder" && cmake -E tar xf "$zip") || fail "$(basename "$zip") does not unpack"
}
unpack "$zip" "$work/unpacked"
app=$work/unpacked/namewheel-2.0.0.0-win32
contents=$(ls "$app" 2>/dev/null | LC_ALL=C sort | tr '\n' ' ')
if [[ $contents == "README.md namewheel.exe " ]]; then
    pass "it holds namewheel.exe and the README"
else
    fail "it holds: $contents"
fi
description=$(file -b "$app/namewheel.exe")
if [[ $description == "PE32 executable (GUI) Intel 80386"* ]]; then
    pass "its program is the 32-bit one: $description"
else
    fail "its program is: $description"
fi

if [[ $NW_WINE_ARCH == win64 ]]; then
    zip=$(bash "$root/scripts/release-win32.sh" --x64 "$NW_RUN_DIR" "$work/dist" | tail -n 1)
    unpack "$zip" "$work/unpacked64"
    app=$work/unpacked64/namewheel-2.0.0.0-win64
    note "started below: $(basename "$zip"), as $NW_RUNS"
fi

mkdir "$work/elsewhere"
before=$(find "$WINEPREFIX" -name 'cs.db*' 2>/dev/null | wc -l)
nw_start "$work/elsewhere" "$app/namewheel.exe"
if wait_until 60 test -s "$app/cs.db"; then
    pass "cs.db appears beside namewheel.exe"
else
    fail "no cs.db beside namewheel.exe ($(tail -3 "$APP_LOG"))"
fi
sleep 1
elsewhere=$(find "$work" -name 'cs.db*' ! -path "$app/cs.db" | tr '\n' ' ')
after=$(find "$WINEPREFIX" -name 'cs.db*' 2>/dev/null | wc -l)
if [[ -z $elsewhere && $before == "$after" ]]; then
    pass "and nowhere else"
else
    fail "cs.db also at: $elsewhere (in the prefix: $before before, $after after)"
fi
if sqlite3 "$app/cs.db" .schema | grep -q 'CREATE TABLE cs(xm char(20),c int)'; then
    pass "the store holds the table cs"
else
    fail "the store has no table cs"
fi

echo "win32 archive: $( ((FAILS)) && echo FAILED || echo ok) ($NW_RUNS)"
finish

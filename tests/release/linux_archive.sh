#!/usr/bin/env bash
# The Linux release archive, unpacked into a fresh folder and started from
# there: it holds what it should, and the program makes its cs.db beside
# itself and nowhere else.
#   linux_archive.sh PATH/TO/namewheel BUILD_DIR
. "$(dirname "$0")/../e2e/lib.sh"
e2e_require tar ldd
e2e_init "$1"
build=$2
[ -f "$build/CPackConfig.cmake" ] || die "no CPack configuration in $build"

packages=$E2E_TMP/packages
(cd "$build" && cpack -G TGZ -B "$packages" >"$E2E_TMP/cpack.log" 2>&1) || die "cpack failed: $(tail -5 "$E2E_TMP/cpack.log")"
archive=$(ls "$packages"/namewheel-*-linux-x86_64.tar.gz 2>/dev/null | head -n 1)
[ -n "$archive" ] || die "no archive was made"
expect_eq "the archive is named after the version" "namewheel-2.0.0.0-linux-x86_64.tar.gz" "$(basename "$archive")"

unpacked=$E2E_TMP/unpacked
mkdir -p "$unpacked"
tar -xzf "$archive" -C "$unpacked" || die "the archive does not unpack"
app=$unpacked/namewheel-2.0.0.0-linux-x86_64
expect_eq "the archive holds one folder with the program, the README, the launcher and the icon" \
    "README.md add-launcher.sh namewheel namewheel.desktop namewheel.png" \
    "$(ls "$app" | sort | tr '\n' ' ' | sed 's/ $//')"
check "the program is executable" test -x "$app/namewheel"
check "it uses the system's Qt Widgets" eval "ldd '$app/namewheel' | grep -q 'libQt6Widgets.so.6 => /'"
check "it uses the system's SQLite" eval "ldd '$app/namewheel' | grep -q 'libsqlite3.so.0 => /'"
check "nothing it needs is missing" eval "! ldd '$app/namewheel' | grep -q 'not found'"
check "the launcher is a valid desktop entry" grep -q '^Exec=' "$app/namewheel.desktop"

# Started from another folder, as a launcher would.
elsewhere=$E2E_TMP/elsewhere
mkdir -p "$elsewhere"
printf '张三\n李四\n' >"$app/名单.txt"
e2e_start_desktop
APP_LOG=$E2E_TMP/program.log
(cd "$elsewhere" && exec "$app/namewheel") >>"$APP_LOG" 2>&1 &
APP_PID=$!
wait_until 15 find_window "$APP_PID" '^青枫大转盘' >/dev/null || die "no draw window appeared ($(cat "$APP_LOG"))"
wait_until 10 test -s "$app/cs.db" || die "no cs.db beside the program"
expect_eq "cs.db beside the program holds the default roster" "张三 李四" \
    "$(sqlite3 "$app/cs.db" 'select xm from cs order by rowid' | tr '\n' ' ' | sed 's/ $//')"
expect_eq "no cs.db anywhere else" "$app/cs.db" "$(find "$E2E_TMP" -name 'cs.db*' | tr '\n' ' ' | sed 's/ $//')"

WIN=$(find_window "$APP_PID" '^青枫大转盘')
xdotool windowactivate --sync "$WIN" >/dev/null 2>&1
xdotool key --clearmodifiers alt+F4
if e2e_wait_app_exit 10; then
    expect_eq "the program ends with exit code 0" 0 "$APP_RC"
else
    fail "the program did not end when its window was closed"
    e2e_kill_app
fi

"$app/add-launcher.sh" >/dev/null || fail "add-launcher.sh failed"
launcher=$XDG_DATA_HOME/applications/namewheel.desktop
check "the launcher goes into the application menu" test -f "$launcher"
expect_eq "it starts the unpacked program" "Exec=\"$app/namewheel\"" "$(grep '^Exec=' "$launcher")"
check "with its icon" test -f "$XDG_DATA_HOME/icons/hicolor/48x48/apps/namewheel.png"

e2e_finish

#!/usr/bin/env bash
# The ARM program of the portable Linux archive, run on this machine by
# qemu-user with no more than an ARM desktop brings: Debian 11's arm64 C and
# C++ runtimes, X11 client libraries, fontconfig and a CJK font, unpacked in a
# folder of their own (scripts/sysroot.sh). It talks to this machine's X
# server, window manager and tray (the X protocol is the same): it shows at
# the corner, seeds cs.db from a GBK 名单.txt, records a spin, imports a roster
# from the tray menu and ends with exit code 0.
#   portable_arm64.sh PATH/TO/unpacked/namewheel-VERSION-linux-aarch64
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
E2E_NAME=portable-arm64
unpacked=$1
e2e_require trayer iconv unshare debootstrap
if ! command -v qemu-aarch64 >/dev/null; then
    echo "SKIP: qemu-aarch64 is not installed (package qemu-user): ARM programs cannot run here"
    exit 77
fi
if [ ! -x "$unpacked/namewheel" ]; then
    echo "SKIP: no unpacked ARM archive at $unpacked (see release.portable.archive)"
    exit 77
fi
if ! chroot_suite_reachable bullseye; then
    echo "SKIP: Debian 11 (bullseye) cannot be fetched from this machine's mirror ($(chroot_mirrors | cut -d' ' -f1))"
    exit 77
fi
# e2e_init wants a program; the one that runs is the copy in the home folder.
NAMEWHEEL_EXE=$(type -P true) e2e_init
base=$(chroot_ensure bullseye cross $NAMEWHEEL_CROSS_BUILD_PACKAGES) || die "could not make the Debian 11 system"
desktop=$(sysroot_ensure "$base" arm64 desktop $NAMEWHEEL_ARM64_DESKTOP_PACKAGES) ||
    die "could not unpack Debian 11's arm64 desktop packages"
note "arm64 desktop: $desktop"

# The teacher copies the folder into the home folder.
name=$(basename "$unpacked")
app=$HOME/$name
cp -r "$unpacked" "$app" || die "cannot copy the program's folder"
expect_eq "the program is built for 64-bit ARM" AArch64 "$(readelf -h "$app/namewheel" | sed -n 's/^ *Machine: *//p')"

# (arm COMMAND ARG...) runs an arm64 program with the desktop's files, from the
# home folder; it takes the subshell's place, so that its process id is the
# one the X server is told.
arm() {
    cd "$HOME" && exec qemu-aarch64 -L "$desktop" "$@"
}
# The ARM loader lists what each file needs, as ldd does.
missing=$(for f in "$app/namewheel" "$app"/plugins/*/*.so; do
    (arm "$desktop/lib/ld-linux-aarch64.so.1" --list "$f") 2>&1
done | grep 'not found' | sort -u | tr -s '\t ' ' ')
expect_eq "every library the program and its plugins need is in the folder or on the desktop" "" "$missing"

# A roster in the code page Chinese Windows writes text files in.
names=(张伟 王芳 李娜 刘洋)
printf '%s\r\n' "${names[@]}" | iconv -f UTF-8 -t GBK >"$app/名单.txt" || die "iconv cannot write GBK"

e2e_start_desktop tray
APP_LOG=$E2E_TMP/program.log
# Started from the home folder, as a launcher would; emulated, it takes a
# while to come up.
(arm "$app/namewheel") >>"$APP_LOG" 2>&1 &
APP_PID=$!
wait_until 90 find_window "$APP_PID" '^青枫大转盘' >/dev/null || die "no draw window appeared ($(tail -5 "$APP_LOG"))"
WIN=$(find_window "$APP_PID" '^青枫大转盘')
wait_until 30 is_mapped "$WIN" || die "the draw window was never mapped"
FRAME=$(frame_of "$WIN") || die "no frame window above the draw window"
frame_at_corner() {
    local g
    g=($(geometry "$FRAME"))
    [ ${#g[@]} -eq 4 ] && [ $((g[0] + g[2])) -eq 1920 ] && [ $((g[1] + g[3])) -eq 1030 ]
}
check "the draw window shows at the bottom right corner ($(geometry "$FRAME" | tr ' ' ,))" wait_until 20 frame_at_corner
wg=($(geometry "$WIN"))
expect_eq "its client area is 474 x 151" "474 151" "${wg[2]} ${wg[3]}"
shot window "$(geometry "$FRAME" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"

db=$app/cs.db
wait_until 20 test -s "$db" || die "no cs.db beside the program"
expect_eq "cs.db holds the 4 names of the GBK 名单.txt" "$(printf '%s\n' "${names[@]}" | sort)" \
    "$(sql "$db" 'select xm from cs' | sort)"
expect_eq "no cs.db anywhere else in the home folder" "$db" "$(find "$HOME" -name 'cs.db*' | tr '\n' ' ' | sed 's/ $//')"

# A spin: start, then stop; one draw is recorded.
click_in "$WIN" 240 127
sleep 1
click_in "$WIN" 240 127
one_draw() { [ "$(sql "$db" 'select sum(c) from cs')" = 1 ]; }
check "a spin records one draw" wait_until 20 one_draw
expect_eq "one name has c = 1" "1|4" "$(sql "$db" 'select count(*) filter (where c = 1), count(*) from cs')"

# 导入名单 from the tray menu.
roster=$E2E_TMP/new-class.txt
new_names=(赵明 钱华 孙芳 李明 周华 吴芳)
make_roster "$roster" "${new_names[@]}"
has_dialog() { [ -n "$(dialogs_of "$APP_PID")" ]; }
if open_tray_menu 30 15; then
    pass "the tray icon docks and a right-click opens its menu ($(geometry "$MENU" | tr ' ' ,))"
    shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 120, $4 + 120, $1 - 60, $2 - 60 }')"
    xdotool key m
    if wait_until 30 has_dialog; then
        DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
        pass "导入名单 opens a file dialog ('$(window_name "$DIALOG")')"
        type_into "$DIALOG" "$roster"
        key_into "$DIALOG" Return
        check "the dialog closes on Enter" wait_until 20 is_unmapped "$DIALOG"
        imported() { [ "$(sql "$db" 'select count(*) from cs')" = ${#new_names[@]} ]; }
        wait_until 20 imported
        expect_eq "cs.db holds exactly the ${#new_names[@]} names of the file, each at 0" \
            "$(printf '%s|0\n' "${new_names[@]}" | sort)" "$(sql "$db" 'select xm, c from cs' | sort)"
    else
        fail "导入名单 opened no file dialog"
    fi
else
    fail "no tray menu opened ($(tail -5 "$APP_LOG"))"
fi
check "the program is still running" app_running

xdotool windowactivate --sync "$WIN" >/dev/null 2>&1
xdotool key --clearmodifiers alt+F4
if e2e_wait_app_exit 30; then
    expect_eq "closing the draw window ends the program with exit code 0" 0 "$APP_RC"
else
    fail "the program did not end when its window was closed"
    e2e_kill_app
fi
expect_eq "the imported roster is kept" ${#new_names[@]} "$(sql "$db" 'select count(*) from cs')"
check "the program printed no warning about a missing library or plugin" \
    eval "! grep -Ei 'could not (load|find)|cannot open shared|not found' '$APP_LOG'"

e2e_finish

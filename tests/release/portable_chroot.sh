#!/usr/bin/env bash
# The portable Linux archive on a fresh minimal Debian SUITE that has only
# what a desktop brings (X11 client libraries, fontconfig, a CJK font): an
# ordinary user unpacks it in the home folder and starts the program, which
# talks to this machine's X server (with a window manager and a tray). The
# Debian system is made once and kept (scripts/chroot.sh); each run works on a
# throw-away copy of it.
#   portable_chroot.sh SUITE ARCHIVE
. "$(dirname "$0")/lib.sh"
needs_root "making and entering a Debian system"
needs_private_mounts
chroot_private "$@"
TEST_NAME=portable-$1
suite=$1
archive=$2
e2e_require trayer iconv unshare debootstrap
[ -f "$archive" ] || skip "no archive at $archive (see release.portable.archive)"
needs_suite "$suite"
# e2e_init wants a program; the one that runs is the one unpacked in the system.
NAMEWHEEL_EXE=$(type -P true) e2e_init
base=$(chroot_ensure "$suite" desktop $NAMEWHEEL_DESKTOP_BASELINE) || die "could not make a Debian $suite system"

# The system's copy lives outside TEST_TMP: it holds mounts, and nothing may
# delete through them.
root=$(mktemp -d /var/tmp/namewheel-$suite.XXXXXX)/root
leave_system() {
    chroot_umount_system "$root"
    umount "$root" 2>/dev/null
    if grep -q " ${root%/root}/" /proc/self/mountinfo; then
        echo "still mounted under ${root%/root}: left in place"
    else
        rm -rf --one-file-system "${root%/root}"
    fi
}
# The program goes first: its system's copy cannot be unmounted while it runs.
trap 'rc=$?; stop_pid "$APP_PID"; leave_system; (exit $rc); desktop_cleanup' EXIT
chroot_overlay "$base" "$root" || die "cannot mount a copy of $base"
chroot_bind_system "$root"
note "the system has C library $(chroot "$root" ldd --version | head -n 1 | awk '{ print $NF }')"

user_home=/home/teacher
mkdir -m 0700 "$root/tmp/runtime-teacher"
chroot "$root" chown teacher:teacher /tmp/runtime-teacher
# (teacher COMMAND ARG...): runs it in the system as the user, in the home
# folder. It takes the place of the subshell it is called in, so that a
# program started so has the process id the X server is told.
teacher() {
    exec chroot --userspec=1000:1000 "$root" env -i HOME=$user_home USER=teacher LOGNAME=teacher \
        PATH=/usr/bin:/bin DISPLAY="${DISPLAY:-}" XDG_RUNTIME_DIR=/tmp/runtime-teacher \
        LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 sh -c 'cd && exec "$@"' sh "$@"
}

cp "$archive" "$root$user_home/" && chroot "$root" chown teacher:teacher "$user_home/$(basename "$archive")" ||
    die "cannot copy the archive into the system"
(teacher tar -xzf "$(basename "$archive")") || die "the archive does not unpack with the system's tar"
name=$(basename "$archive" .tar.gz)
app=$user_home/$name
check "it unpacks into one folder, $name" test -x "$root$app/namewheel"
missing=$( (teacher sh -c "ldd $app/namewheel $app/plugins/*/*.so") 2>&1 | grep 'not found' | sort -u | tr -s '\t ' ' ')
expect_eq "every library the program and its plugins need is found" "" "$missing"

# A roster in the code page Chinese Windows writes text files in.
names=(张伟 王芳 李娜 刘洋)
printf '%s\r\n' "${names[@]}" | iconv -f UTF-8 -t GBK >"$root$app/名单.txt" || die "iconv cannot write GBK"
chroot "$root" chown teacher:teacher "$app/名单.txt"

start_desktop tray
APP_LOG=$TEST_TMP/program.log
# Started from the home folder, as a launcher would.
(teacher "$app/namewheel") >>"$APP_LOG" 2>&1 &
APP_PID=$!
wait_draw_window 20
expect_placed 5

db=$root$app/cs.db
wait_until 10 test -s "$db" || die "no cs.db beside the program"
expect_eq "cs.db holds the 4 names of the GBK 名单.txt" "$(printf '%s\n' "${names[@]}" | sort)" \
    "$(sql "$db" 'select xm from cs' | sort)"
expect_eq "no cs.db anywhere else in the system" "$app/cs.db" \
    "$(cd "$root" && find home tmp -name 'cs.db*' | sed 's|^|/|' | tr '\n' ' ' | sed 's/ $//')"

# A spin: start, then stop; one draw is recorded.
click_in "$WIN" 240 127
sleep 0.5
click_in "$WIN" 240 127
one_draw() { [ "$(sql "$db" 'select sum(c) from cs')" = 1 ]; }
check "a spin records one draw" wait_until 5 one_draw
expect_eq "one name has c = 1" "1|4" "$(sql "$db" 'select count(*) filter (where c = 1), count(*) from cs')"

if open_tray_menu 15 5; then
    pass "the tray icon docks and a right-click opens its menu ($(geometry "$MENU" | tr ' ' ,))"
    shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 120, $4 + 120, $1 - 60, $2 - 60 }')"
    xdotool key Escape
    check "Escape closes the menu" wait_until 5 is_unmapped "$MENU"
else
    fail "no tray menu opened ($(tail -5 "$APP_LOG"))"
fi

close_draw_window 10
expect_eq "the draw is kept" 1 "$(sql "$db" 'select sum(c) from cs')"
check "the program printed no warning about a missing library or plugin" \
    eval "! grep -Ei 'could not (load|find)|cannot open shared|not found' '$APP_LOG'"

(teacher "$app/add-launcher.sh") >/dev/null || fail "add-launcher.sh failed"
expect_eq "add-launcher.sh puts it in the application menu" "Exec=\"$app/namewheel\"" \
    "$(grep '^Exec=' "$root$user_home/.local/share/applications/namewheel.desktop" 2>/dev/null)"

finish

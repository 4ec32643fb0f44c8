#!/usr/bin/env bash
# The portable Linux archive on a fresh minimal Debian SUITE that has only
# what a desktop brings (X11 client libraries, fontconfig, a CJK font): an
# ordinary user unpacks it in the home folder and starts the program, which
# talks to this machine's X server (with a window manager and a tray); then in
# English and Chinese sessions (the import dialog's language, the Fcitx plugin
# Qt loads), and add-launcher.sh with and without the autostart entry. The
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
e2e_require trayer iconv unshare debootstrap desktop-file-validate
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
# folder, with session_env's variables (the language, the input method). It
# takes the place of the subshell it is called in, so that a program started
# so has the process id the X server is told.
session_env=(LC_ALL=C.UTF-8)
teacher() {
    exec chroot --userspec=1000:1000 "$root" env -i HOME=$user_home USER=teacher LOGNAME=teacher \
        PATH=/usr/bin:/bin DISPLAY="${DISPLAY:-}" XDG_RUNTIME_DIR=/tmp/runtime-teacher \
        "${session_env[@]}" QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 sh -c 'cd && exec "$@"' sh "$@"
}

cp "$archive" "$root$user_home/" && chroot "$root" chown teacher:teacher "$user_home/$(basename "$archive")" ||
    die "cannot copy the archive into the system"
(teacher tar -xzf "$(basename "$archive")") || die "the archive does not unpack with the system's tar"
name=$(basename "$archive" .tar.gz)
app=$user_home/$name
check "it unpacks into one folder, $name" test -x "$root$app/namewheel"
missing=$( (teacher sh -c "ldd $app/namewheel $app/plugins/*/*.so") 2>&1 | grep 'not found' | sort -u | tr -s '\t ' ' ')
expect_eq "every library the program and its plugins need is found" "" "$missing"
if [ "$suite" = bullseye ]; then
    # The packages of what the loader finds outside the folder, for the
    # program, its plugins and its libraries (Debian 11's names).
    taken=$( (teacher sh -c "ldd $app/namewheel $app/plugins/*/*.so $app/lib/*.so*") 2>/dev/null |
        awk -v app="$app/" '$2 == "=>" && $3 ~ /^\// && index($3, app) != 1 { print $3 }' | sort -u)
    expect_eq "it takes from the system just the packages the README names" "$(readme_system_packages)" \
        "$(for f in $taken; do chroot "$root" dpkg -S "*/${f##*/}"; done | cut -d: -f1 | sort -u | tr '\n' ' ' | sed 's/ $//')"
fi

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

# The program again, in the sessions below: start_in_session NAME VARIABLE...
# starts it with these in its environment and Qt's plugin loading told in its
# log (APP_LOG); import_dialog_title prints the title of the file dialog that
# 导入名单 opens from the tray menu (its screenshot: dialog-NAME), and
# Escape closes it; quit_from_tray ends the program by 关闭.
start_in_session() {
    local name=$1
    shift
    APP_LOG=$TEST_TMP/program-$name.log
    SESSION=$name
    (session_env=("$@" QT_DEBUG_PLUGINS=1); teacher "$app/namewheel") >>"$APP_LOG" 2>&1 &
    APP_PID=$!
    wait_draw_window 20
}
import_dialog_title() {
    local dialog
    menu_command m 15 5 || { echo "(no tray menu)"; return; }
    wait_until 15 has_dialog || { echo "(no dialog)"; return; }
    dialog=$(dialogs_of "$APP_PID" | head -n 1)
    window_name "$dialog"
    shot "dialog-$SESSION" >&2
    key_into "$dialog" Escape
    wait_until 5 is_unmapped "$dialog" || echo "(Escape did not close it)"
}
quit_from_tray() {
    menu_command c 15 5 || fail "$SESSION: no tray menu to close the program from"
    expect_exit "$SESSION: 关闭" 10
}
# The input-method plugins Qt loaded, by file name.
input_methods_loaded() {
    sed -n 's|.*loaded library ".*/platforminputcontexts/\([^"]*\)".*|\1|p' "$APP_LOG" | sort -u | tr '\n' ' ' | sed 's/ $//'
}
# A desktop system has a machine id (made at its first boot); the D-Bus
# library the Fcitx plugins use stops the program without one. A Chinese one
# has its Chinese locales compiled: the system's own localedef makes them from
# this machine's locale sources.
tr -d '-' </proc/sys/kernel/random/uuid >"$root/etc/machine-id"
[ -f /usr/share/i18n/locales/zh_CN ] || die "no locale sources on this machine (package locales)"
mkdir -p "$root/usr/share/i18n" && cp -r /usr/share/i18n/locales /usr/share/i18n/charmaps "$root/usr/share/i18n/" ||
    die "cannot copy the locale sources into the system"
for locale in zh_CN zh_HK; do
    chroot "$root" localedef -i $locale -f UTF-8 $locale.UTF-8 || die "the system's localedef cannot make $locale.UTF-8"
done

start_in_session C LC_ALL=C.UTF-8
expect_eq "under C.UTF-8 the import dialog is Qt's English one" Open "$(import_dialog_title)"
quit_from_tray
# A Chinese desktop as Kylin, UOS and Deepin set it up: the language in LANG
# and Fcitx named "fcitx" (Fcitx 4 and 5 alike).
start_in_session zh_CN LANG=zh_CN.UTF-8 QT_IM_MODULE=fcitx
expect_eq "under LANG=zh_CN.UTF-8 the import dialog is titled in Chinese" 打开 "$(import_dialog_title)"
expect_eq "QT_IM_MODULE=fcitx loads the Fcitx plugin that speaks to Fcitx 4 and 5" \
    libfcitx4platforminputcontextplugin.so "$(input_methods_loaded)"
quit_from_tray
# Traditional Chinese, and Fcitx 5 named by its own name.
start_in_session zh_HK LANG=zh_HK.UTF-8 QT_IM_MODULE=fcitx5
expect_eq "under LANG=zh_HK.UTF-8 it is titled in traditional Chinese" 開啟 "$(import_dialog_title)"
expect_eq "QT_IM_MODULE=fcitx5 loads Fcitx 5's plugin" libfcitx5platforminputcontextplugin.so "$(input_methods_loaded)"
quit_from_tray

(teacher "$app/add-launcher.sh") >/dev/null || fail "add-launcher.sh failed"
launcher=$root$user_home/.local/share/applications/namewheel.desktop
expect_eq "add-launcher.sh puts it in the application menu" "Exec=\"$app/namewheel\"" \
    "$(grep '^Exec=' "$launcher" 2>/dev/null)"
autostart=$root$user_home/.config/autostart/namewheel.desktop
check "and does not start it with the session" test ! -e "$autostart"
(teacher "$app/add-launcher.sh" --autostart) >/dev/null || fail "add-launcher.sh --autostart failed"
expect_eq "add-launcher.sh --autostart writes an autostart entry that starts the program" "Exec=\"$app/namewheel\"" \
    "$(grep '^Exec=' "$autostart" 2>/dev/null)"
check "the autostart entry is a valid desktop entry" desktop-file-validate "$autostart"
(teacher "$app/add-launcher.sh" --no-autostart) >/dev/null || fail "add-launcher.sh --no-autostart failed"
check "add-launcher.sh --no-autostart removes it" test ! -e "$autostart"
check "and leaves the application menu's" test -f "$launcher"

finish

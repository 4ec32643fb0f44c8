#!/usr/bin/env bash
# The ARM program of the portable Linux archive, run on this machine by
# qemu-user with no more than an ARM desktop brings: Debian 11's arm64 C and
# C++ runtimes, X11 client libraries, fontconfig and a CJK font, unpacked in a
# folder of their own (scripts/sysroot.sh). It talks to this machine's X
# server, window manager and tray (the X protocol is the same): it shows at
# the corner, seeds cs.db from a GBK 名单.txt, records a spin, imports a roster
# from the tray menu and ends with exit code 0.
#   portable_arm64.sh PATH/TO/unpacked/namewheel-VERSION-linux-aarch64
. "$(dirname "$0")/lib.sh"
needs_root "the arm64 packages are fetched in a Debian 11 system"
needs_private_mounts
chroot_private "$@"
TEST_NAME=portable-arm64
unpacked=$1
e2e_require trayer iconv unshare debootstrap
needs_qemu
[ -x "$unpacked/namewheel" ] || skip "no unpacked ARM archive at $unpacked (see release.portable.archive)"
needs_suite bullseye "11 (bullseye)"
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
# The packages of what the loader finds outside the folder, for the program,
# its plugins and its libraries (Debian 11's names).
taken=$(for f in "$app/namewheel" "$app"/plugins/*/*.so "$app"/lib/*.so*; do
    (arm "$desktop/lib/ld-linux-aarch64.so.1" --list "$f") 2>/dev/null
done | awk -v app="$app/" '$2 == "=>" && $3 ~ /^\// && index($3, app) != 1 { n = split($3, part, "/"); print part[n] }' | sort -u)
expect_eq "it takes from the system just the packages the README names" "$(readme_system_packages)" \
    "$(for lib in $taken; do
        awk -v end="/$lib" 'substr($2, length($2) - length(end) + 1) == end { print $1; exit }' "$desktop/.namewheel/files"
    done | sort -u | tr '\n' ' ' | sed 's/ $//')"

# A roster in the code page Chinese Windows writes text files in.
names=(张伟 王芳 李娜 刘洋)
printf '%s\r\n' "${names[@]}" | iconv -f UTF-8 -t GBK >"$app/名单.txt" || die "iconv cannot write GBK"

start_desktop tray
APP_LOG=$TEST_TMP/program.log
# Started from the home folder, as a launcher would; emulated, it takes a
# while to come up.
(arm "$app/namewheel") >>"$APP_LOG" 2>&1 &
APP_PID=$!
wait_draw_window 90
expect_placed 20

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
roster=$TEST_TMP/new-class.txt
new_names=(赵明 钱华 孙芳 李明 周华 吴芳)
make_roster "$roster" "${new_names[@]}"
if open_tray_menu 30 15; then
    pass "the tray icon docks and a right-click opens its menu ($(geometry "$MENU" | tr ' ' ,))"
    shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 120, $4 + 120, $1 - 60, $2 - 60 }')"
    xdotool key m
    if wait_until 30 has_dialog; then
        DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
        pass "导入名单 opens a file dialog ('$(window_name "$DIALOG")')"
        choose_file "$DIALOG" "$roster" 20
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

close_draw_window 30
expect_eq "the imported roster is kept" ${#new_names[@]} "$(sql "$db" 'select count(*) from cs')"
check "the program printed no warning about a missing library or plugin" \
    eval "! grep -Ei 'could not (load|find)|cannot open shared|not found' '$APP_LOG'"

finish

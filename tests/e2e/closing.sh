#!/usr/bin/env bash
# Ending the program at awkward moments, on a real X desktop with a tray:
# while the start-up error box waits, and during a spin.
#   closing.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require trayer
e2e_init "$@"
e2e_start_desktop tray

BUTTON_X=240 BUTTON_Y=127

# --- the start-up error box: the menu works, and 关闭 ends the program ------------
dir=$(e2e_app_dir refused)
make_roster "$dir/名单.txt" 张三 "$(printf '长%.0s' $(seq 21))"
e2e_start_app "$dir"
wait_until 15 has_dialog || die "no error box at start-up for a 名单.txt with a 21-character name"
BOX=$(dialogs_of "$APP_PID" | head -n 1)
pass "the start-up error box is up ('$(window_name "$BOX")')"

if open_tray_menu 10 5; then
    xdotool key s
    sleep 1
    check "显示大转盘 while the box waits: the program is still running" app_running
else
    fail "the tray menu did not open while the start-up box waits"
fi
if open_tray_menu 10 5; then
    xdotool key c
    if e2e_wait_app_exit 10; then
        expect_eq "关闭 while the start-up box waits ends the program with exit code 0" 0 "$APP_RC"
    else
        fail "the program is still running 10 s after 关闭 was chosen while the start-up box waited"
        e2e_kill_app
    fi
else
    fail "the tray menu did not open a second time while the start-up box waits"
    e2e_kill_app
fi

# --- 关闭 during a spin: the draw is recorded, then the program ends ---------------
dir=$(e2e_app_dir spin)
make_roster "$dir/名单.txt" 张伟 王芳 李娜
e2e_start_app "$dir"
wait_until 15 find_window "$APP_PID" '^青枫大转盘' >/dev/null || die "no draw window appeared"
WIN=$(find_window "$APP_PID" '^青枫大转盘')
wait_until 10 is_mapped "$WIN" || die "the draw window was never mapped"
sleep 0.5
click_in "$WIN" $BUTTON_X $BUTTON_Y
sleep 0.5
open_tray_menu 10 5 || die "the tray menu did not open during the spin"
xdotool key c
sleep 1.5
check "关闭 during a spin: the program goes on until the spin is stopped" app_running
expect_eq "nothing is recorded yet" 0 "$(sql "$dir/cs.db" 'select sum(c) from cs')"
click_in "$WIN" $BUTTON_X $BUTTON_Y
if e2e_wait_app_exit 10; then
    expect_eq "the stopping press ends the program with exit code 0" 0 "$APP_RC"
else
    fail "the program is still running 10 s after the spin was stopped"
    e2e_kill_app
fi
expect_eq "the draw was recorded before the end: one row with c = 1" "1|1" \
    "$(sql "$dir/cs.db" 'select count(*) filter (where c = 1), sum(c) from cs')"

e2e_finish

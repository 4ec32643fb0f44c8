#!/usr/bin/env bash
# Ending the program at awkward moments, on a real X desktop with a tray:
# while the start-up error box waits, and during a spin.
#   closing.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require trayer
e2e_init "$@"
start_desktop tray

BUTTON_X=240 BUTTON_Y=127

# --- the start-up error box: the menu works, and 关闭 ends the program ------------
dir=$(e2e_app_dir refused)
make_roster "$dir/名单.txt" 张三 "$(printf '长%.0s' $(seq 21))"
start_app "$dir"
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
    expect_exit "关闭 while the start-up box waits"
else
    fail "the tray menu did not open a second time while the start-up box waits"
    kill_app
fi

# --- 关闭 during a spin: the draw is recorded, then the program ends ---------------
dir=$(e2e_app_dir spin)
make_roster "$dir/名单.txt" 张伟 王芳 李娜
start_app "$dir"
wait_draw_window
show_draw_window || die "the draw window did not come to its corner"
click_in "$WIN" $BUTTON_X $BUTTON_Y
sleep 0.5
open_tray_menu 10 5 || die "the tray menu did not open during the spin"
xdotool key c
sleep 1.5
check "关闭 during a spin: the program goes on until the spin is stopped" app_running
expect_eq "nothing is recorded yet" 0 "$(sql "$dir/cs.db" 'select sum(c) from cs')"
# The window folds during a spin too, ten seconds after the press.
show_draw_window || fail "the draw window did not come up for the stopping press"
click_in "$WIN" $BUTTON_X $BUTTON_Y
expect_exit "the stopping press"
expect_eq "the draw was recorded before the end: one row with c = 1" "1|1" \
    "$(sql "$dir/cs.db" 'select count(*) filter (where c = 1), sum(c) from cs')"

finish

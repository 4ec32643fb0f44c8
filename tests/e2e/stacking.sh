#!/usr/bin/env bash
# Stacking and focus on a real X desktop: "always on top" comes back every
# fifth tick after something took it away, without moving or activating the
# window; the timer leaves the focus with another program, the menu and the
# badge take it. A minimised draw window comes back at each of these shows.
#   stacking.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require trayer wmctrl xmessage
e2e_init "$@"
start_desktop tray

dir=$(e2e_app_dir stacking)
make_roster "$dir/名单.txt" 张伟 王芳 李娜

# Another program, to hold the focus: OTHER.
background "$TEST_TMP/xmessage.log" xmessage -geometry +60+60 -name other-program 'another program'
OTHER_PID=$BG_PID
other_window() { xdotool search --all --onlyvisible --class '^Xmessage$' 2>/dev/null | head -n 1 | grep .; }
wait_until 10 other_window >/dev/null || die "xmessage showed no window"
OTHER=$(other_window)

active() { printf '%d\n' "$(xdotool getactivewindow 2>/dev/null)" 2>/dev/null; }
is_active() { [ "$(active)" = "$(($1))" ]; }
give_focus_to_other() { xdotool windowactivate --sync "$OTHER" >/dev/null 2>&1; wait_until 5 is_active "$OTHER"; }
lacks_above() { ! has_above "$1"; }

start_app "$dir"
started=$(now_ms)
wait_draw_window
FRAME=$(frame_of "$WIN") || die "no frame window above the draw window"
wait_until 5 has_above "$WIN" || die "the draw window was never on top"
# Shown by the program's start, it is active once the window manager is done.
wait_until 5 is_active "$WIN" || note "the draw window did not become active at the start"
sleep 0.5

# --- "always on top" taken away comes back at the next fifth tick ---------------
give_focus_to_other || die "xmessage could not be given the focus"
before=$(geometry "$FRAME")
wmctrl -i -r "$WIN" -b remove,above
check "wmctrl took _NET_WM_STATE_ABOVE away" wait_until 3 lacks_above "$WIN"
taken=$(now_ms)
# Ticks 5 and 10 both fall in the showing period; one of them comes within 6 s.
if wait_until 6 has_above "$WIN"; then
    pass "_NET_WM_STATE_ABOVE is back $(($(now_ms) - taken)) ms later ($(($(now_ms) - started)) ms after the start)"
else
    fail "_NET_WM_STATE_ABOVE did not come back within 6 s ($(wm_state "$WIN"))"
fi
expect_eq "the draw window has not moved or changed its size" "$before" "$(geometry "$FRAME")"
check "the other program still has the focus: the timer took none of it" is_active "$OTHER"

# --- the fold; a click on the badge brings the draw window back and activates it ---
wait_until 15 folded || die "no fold within 15 s"
check "the other program still has the focus after the fold" is_active "$OTHER"
give_focus_to_other || die "xmessage could not be given the focus again"
badge=($(geometry "$(frame_of "$BADGE")"))
click_at $((badge[0] + 24)) $((badge[1] + 24))
check "a click on the badge brings the draw window back" wait_until 5 unfolded
if wait_until 5 is_active "$WIN"; then
    pass "the draw window is the active window after the click on the badge"
else
    fail "after the click on the badge the active window is $(active), not the draw window $(($WIN))"
fi

# --- 显示大转盘(&S) from the menu activates the draw window ------------------------
give_focus_to_other || die "xmessage could not be given the focus a third time"
check "the draw window is still mapped" is_mapped "$WIN"
open_tray_menu 10 5 || die "the tray menu did not open"
xdotool key s
if wait_until 5 is_active "$WIN"; then
    pass "显示大转盘 makes the draw window the active window"
else
    fail "after 显示大转盘 the active window is $(active), not the draw window $(($WIN))"
fi

# And the timer once more: a tick later the focus given away stays away.
give_focus_to_other || die "xmessage could not be given the focus a fourth time"
sleep 2.2
check "two ticks later the other program still has the focus" is_active "$OTHER"

# --- minimised: the timer's shows bring it back, without the focus; minimised
# at the fold, 显示大转盘 brings it back ---------------------------------------------
minimise_until_folded 15 || die "no second fold within 15 s"
check "the timer's shows brought the minimised draw window back ($RESTORES times)" [ "$RESTORES" -ge 1 ]
check "those shows left the focus with the other program (taken $FOCUS_TAKEN times)" [ "$FOCUS_TAKEN" -eq 0 ]
expect_eq "the draw window was minimised when it folded again" yes "$MINIMISED_AT_FOLD"
open_tray_menu 10 5 || die "the tray menu did not open after the second fold"
xdotool key s
check "显示大转盘 brings the minimised draw window back" wait_until 5 unfolded
check "it is no longer minimised" not_iconic "$WIN"
check "and it is the active window" wait_until 5 is_active "$WIN"

# --- minimised at the fold, a click on the badge brings it back ----------------------
give_focus_to_other || die "xmessage could not be given the focus a fifth time"
minimise_until_folded 15 || die "no third fold within 15 s"
expect_eq "the draw window was minimised when it folded a third time" yes "$MINIMISED_AT_FOLD"
badge=($(geometry "$(frame_of "$BADGE")"))
frame=($before)
expect_eq "the badge is at the middle of the minimised draw window's height" $((frame[1] + frame[3] / 2)) "${badge[1]}"
click_at $((badge[0] + 24)) $((badge[1] + 24))
check "a click on the badge brings the minimised draw window back" wait_until 5 unfolded
check "it is no longer minimised" not_iconic "$WIN"
check "and it is the active window" wait_until 5 is_active "$WIN"

finish

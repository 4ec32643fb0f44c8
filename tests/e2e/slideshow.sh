#!/usr/bin/env bash
# In front of a class: another program's full-screen window (a slideshow)
# has the focus. The badge is seen from the fold on, the draw window after a
# click on the badge (which gives it the focus) and on the timer's shows
# (which leave the focus with the slideshow); a draw is recorded; the
# slideshow is never moved. When it ends, all is as before. What is seen is
# judged by the screen's pixels: a compositing window manager draws in an
# order the X server's stacking list does not show.
#   slideshow.sh PATH/TO/namewheel openbox|mutter|xfwm4|kwin
. "$(dirname "$0")/lib.sh"
WM=${2:-openbox}
case $WM in
openbox) wm_tools=() ;;
mutter) wm_tools=(mutter dbus-run-session) ;;
xfwm4) wm_tools=(xfwm4 dbus-run-session) ;;
kwin) wm_tools=(kwin_x11 dbus-run-session) ;;
*) die "usage: $0 PATH/TO/namewheel openbox|mutter|xfwm4|kwin" ;;
esac
e2e_require python3 stdbuf "${wm_tools[@]}"
python3 -c 'import tkinter' 2>/dev/null || die "python3 has no tkinter (package python3-tk)"
TEST_NAME=slideshow.$WM
e2e_init "$1"
start_x
start_wm "$WM"

# A colour none of the program's pixels is near.
SLIDE_COLOUR=#00A000
SLIDE_PID="" SLIDE=""

start_slideshow() {
    background "$TEST_TMP/slideshow.log" python3 -c "import tkinter as tk
root = tk.Tk()
root.title('slideshow')
root.configure(bg='$SLIDE_COLOUR')
root.attributes('-fullscreen', True)
root.mainloop()"
    SLIDE_PID=$BG_PID
    wait_until 20 slideshow_window >/dev/null || die "no slideshow window came up (see $TEST_TMP/slideshow.log)"
    SLIDE=$(slideshow_window)
    wait_until 10 slideshow_as_shown || die "the slideshow is not full-screen: $(geometry "$SLIDE"), $(wm_state "$SLIDE")"
}
slideshow_window() { xdotool search --all --onlyvisible --name '^slideshow$' 2>/dev/null | head -n 1 | grep .; }
# Mapped, full-screen, where it was put.
slideshow_as_shown() {
    is_mapped "$SLIDE" && [ "$(geometry "$SLIDE")" = "0 0 1920 1080" ] &&
        case "$(wm_state "$SLIDE")" in *_NET_WM_STATE_FULLSCREEN*) ;; *) false ;; esac
}
# A click into the slideshow gives it the focus. A loaded machine's window
# manager may not answer a click for seconds: one it has not answered at all
# is made once more; a focus given and taken back is not.
click_slideshow() {
    local since
    since=$(mark)
    click_at 300 300 && wait_until 10 is_active "$SLIDE" && return 0
    made_active_since "$since" "$SLIDE" && return 1
    note "the window manager has not answered the click into the slideshow; clicking once more"
    click_at 300 300 && wait_until 10 is_active "$SLIDE"
}

active() { printf '%d\n' "$(xdotool getactivewindow 2>/dev/null)" 2>/dev/null; }
is_active() { [ "$(active)" = "$(($1))" ]; }

# Every window the window manager made active, one a line, as it happened.
background "$TEST_TMP/active.log" stdbuf -oL xprop -root -spy _NET_ACTIVE_WINDOW
mark() { wc -l <"$TEST_TMP/active.log"; }
made_active_since() {
    tail -n +"$(($1 + 1))" "$TEST_TMP/active.log" | grep -o '# 0x[0-9a-f]*' | sed 's/^# //' |
        while read -r w; do [ "$((w))" = "$(($2))" ] && echo yes; done | grep -q yes
}
# The windows made active since the mark other than the slideshow (none
# counts: a window manager passes through it).
others_made_active() {
    tail -n +"$(($1 + 1))" "$TEST_TMP/active.log" | grep -o '# 0x[0-9a-f]*' | sed 's/^# //' |
        while read -r w; do [ "$((w))" = 0 ] || [ "$((w))" = "$((SLIDE))" ] || echo "$w"; done | sort -u | tr '\n' ' '
}
# expect_focus_kept MARK WHEN
expect_focus_kept() {
    local others
    others=$(others_made_active "$1")
    if [ -z "$others" ] && is_active "$SLIDE"; then
        pass "the slideshow kept the focus $2"
    else
        fail "the slideshow lost the focus $2: made active ${others:-none}, active now $(active)"
    fi
}

# seen AREA: the screen there (WxH+X+Y) shows the program, not the slideshow.
seen() {
    local share
    grab "$TEST_TMP/seen.png" "$1" || return 1
    share=$(colour_share "$TEST_TMP/seen.png" "$SLIDE_COLOUR")
    [ -n "$share" ] && awk -v share="$share" 'BEGIN { exit !(share < 0.02) }'
}
window_area() { local g; g=($(geometry "$WIN")); echo "$((g[2] - 40))x$((g[3] - 20))+$((g[0] + 20))+$((g[1] + 10))"; }
badge_area() { local g; g=($(geometry "$BADGE")); echo "20x20+$((g[0] + 14))+$((g[1] + 14))"; }

dir=$(e2e_app_dir "$WM")
make_roster "$dir/名单.txt" 张伟 王芳 李娜
start_app "$dir"
wait_draw_window 30
at_corner() { local g; g=($(outer_rect "$WIN")) && [ $((g[0] + g[2])) -eq 1920 ] && [ $((g[1] + g[3])) -eq 1030 ]; }
wait_until 20 at_corner || die "the draw window did not come to its corner: $(outer_rect "$WIN")"

start_slideshow
click_slideshow || die "a click did not give the slideshow the focus (active: $(active))"
pass "the slideshow is up and has the focus"

# --- the fold: the badge is seen, always; the focus stays ----------------------------
# expect_fold SECONDS WHEN: the draw window folds into the badge, which is
# seen over the slideshow.
expect_fold() {
    wait_until "$1" is_unmapped "$WIN" || die "the draw window did not fold within $1 s $2"
    BADGE=$(find_badge "$APP_PID")
    if wait_until 5 is_mapped "$BADGE" && wait_until 5 seen "$(badge_area)"; then
        pass "the badge is seen over the slideshow $2"
    else
        fail "the badge is not seen over the slideshow $2 (badge ${BADGE:-none}: $(map_state "$BADGE"))"
    fi
}

since=$(mark)
expect_fold 30 "after the first fold"
shot folded
click_slideshow || fail "a second click did not give the slideshow the focus (active: $(active))"
check "the badge is still seen after another click into the slideshow" wait_until 3 seen "$(badge_area)"
expect_focus_kept "$since" "through the fold"

# --- a click on the badge: the draw window is seen and has the focus; a draw ----------
b=($(geometry "$BADGE"))
click_at $((b[0] + 24)) $((b[1] + 24))
wait_until 10 unfolded || die "a click on the badge did not bring the draw window back"
check "after a click on the badge the draw window is seen over the slideshow" wait_until 5 seen "$(window_area)"
check "and has the focus" wait_until 5 is_active "$WIN"
# The spin's press starts ten more ticks of showing, for the timer's shows.
spin_once "$WIN"
shot drawn

# --- the timer's shows: seen on every look, the focus left with the slideshow ------
click_slideshow || fail "a click did not give the slideshow the focus back (active: $(active))"
since=$(mark)
looks=0 unseen=0
check "the draw window is seen at once after the click into the slideshow" wait_until 2 seen "$(window_area)"
while is_mapped "$WIN"; do
    area=$(window_area)
    is_mapped "$WIN" || break
    if seen "$area"; then
        looks=$((looks + 1))
    elif is_mapped "$WIN"; then
        unseen=$((unseen + 1))
        shot "unseen-$unseen"
    fi
    [ "$((looks + unseen))" -lt 60 ] || break
done
note "the draw window was looked at $((looks + unseen)) times until the fold"
seen_on_every_look() { [ "$unseen" -eq 0 ] && [ "$looks" -ge 2 ]; }
check "the timer's shows: the draw window was seen on each of $((looks + unseen)) looks, at least 2 ($unseen not)" \
    seen_on_every_look
expect_focus_kept "$since" "on the timer's shows"
check "the slideshow has not moved and is still full-screen" slideshow_as_shown
expect_fold 15 "after the timer's shows"
recorded() { [ "$(sql "$dir/cs.db" 'select sum(c) from cs')" = 1 ]; }
check "the draw made over the slideshow is recorded" wait_until 10 recorded
expect_focus_kept "$since" "through the second fold"

# --- the slideshow minimised: it stays put away, the draw window comes back -------------
# Shown over the slideshow, the draw window may belong to it; minimised with
# it, it comes back at the next tick, alone.
b=($(geometry "$BADGE"))
click_at $((b[0] + 24)) $((b[1] + 24))
wait_until 10 unfolded || die "a click on the badge did not bring the draw window back"
click_slideshow || fail "a click did not give the slideshow the focus back (active: $(active))"
xdotool windowminimize "$SLIDE"
check "the slideshow is minimised" wait_until 10 iconic "$SLIDE"
back() { not_iconic "$WIN" && is_mapped "$WIN"; }
check "the draw window is back at the next tick" wait_until 10 back
caption=$(window_name "$WIN")
next_tick() { [ "$(window_name "$WIN")" != "$caption" ]; }
wait_until 5 next_tick || fail "the caption did not tick on"
check "the slideshow stays minimised ($(icccm_state "$SLIDE"))" iconic "$SLIDE"
xdotool windowmap "$SLIDE" 2>/dev/null; xdotool windowactivate "$SLIDE" 2>/dev/null
wait_until 15 is_unmapped "$WIN" || die "the draw window did not fold again"

# --- the slideshow ends: all is as before ----------------------------------------------
stop_pid "$SLIDE_PID"
wait_until 10 is_unmapped "$SLIDE" || fail "the slideshow did not go away"
check "the badge is still up when the slideshow ends" is_mapped "$BADGE"
b=($(geometry "$BADGE"))
click_at $((b[0] + 24)) $((b[1] + 24))
check "a click on the badge brings the draw window back" wait_until 10 unfolded
check "the draw window has the focus" wait_until 5 is_active "$WIN"
# (mutter puts a window shown again a title bar higher, slideshow or not.)
at_right_edge() { local g; g=($(outer_rect "$WIN")) && [ $((g[0] + g[2])) -eq 1920 ] && [ "${g[1]}" -ge 0 ]; }
check "the draw window is back at the right edge of the screen ($(outer_rect "$WIN"))" wait_until 5 at_right_edge
check "the draw window is kept on top" has_above "$WIN"
no_owner() { ! xprop -id "$WIN" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id'; }
check "the draw window belongs to no other window" wait_until 3 no_owner
check "the program is still running" app_running

finish

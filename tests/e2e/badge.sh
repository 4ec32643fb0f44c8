#!/usr/bin/env bash
# The idle fold into the round badge and back, on a real X desktop.
#   badge.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require
e2e_init "$@"
start_desktop
DESKTOP=#3366AA
desktop_colour "$DESKTOP" || die "could not paint the desktop $DESKTOP"

dir=$(e2e_app_dir badge)
make_roster "$dir/名单.txt" 张伟 王芳 李娜

start_app "$dir"
wait_draw_window
shown_at=$(now_ms)
FRAME=$(frame_of "$WIN") || die "no frame window above the draw window"

# The frame as placed, before the fold.
at_corner() {
    local g
    g=($(geometry "$FRAME"))
    [ ${#g[@]} -eq 4 ] && [ $((g[0] + g[2])) -eq 1920 ]
}
wait_until 5 at_corner || note "the frame is not at the right edge: $(geometry "$FRAME")"
frame=($(geometry "$FRAME"))
note "draw window frame before the fold: x,y,w,h = ${frame[*]}"

# --- the fold ------------------------------------------------------------------------
if wait_until 15 folded; then
    elapsed=$(($(now_ms) - shown_at))
    pass "the draw window is unmapped and the badge mapped after $elapsed ms"
    check "the fold comes after about 11 s, not before 9 s (took $elapsed ms)" [ "$elapsed" -ge 9000 ]
else
    die "no fold within 15 s: draw window $(map_state "$WIN"), badge '${BADGE}' $( [ -n "$BADGE" ] && map_state "$BADGE")"
fi
# The badge is shown, then moved to the edge: the window manager may still be
# moving its frame.
BADGE_FRAME=$(frame_of "$BADGE")
at_edge() {
    local g
    g=($(geometry "$BADGE_FRAME"))
    [ ${#g[@]} -eq 4 ] && [ $((g[0] + g[2])) -eq 1920 ]
}
wait_until 5 at_edge
badge=($(geometry "$BADGE_FRAME"))
inner=($(geometry "$BADGE"))
expect_eq "the badge window is 48 x 48" "48 48" "${inner[2]} ${inner[3]}"
expect_eq "the badge's outer rectangle is 48 x 48" "48 48" "${badge[2]} ${badge[3]}"
expect_eq "the badge's right edge is the screen's right edge" 1920 $((badge[0] + badge[2]))
expect_eq "the badge's top is the frame's top + its height div 2 (${frame[1]} + ${frame[3]} / 2)" \
    $((frame[1] + frame[3] / 2)) "${badge[1]}"
check "the badge is above every window: no window manager stacks it (override-redirect)" override_redirect "$BADGE"
shot folded "200x200+1720+$((badge[1] - 76))"

# The badge is round: its corner pixel shows what is below, its centre the badge.
bx=${badge[0]} by=${badge[1]}
corner=$(pixel_at $((bx + 1)) $((by + 1)))
centre=$(pixel_at $((bx + 24)) $((by + 24)))
expect_eq "the badge's corner shows the desktop behind it" "$DESKTOP" "$corner"
painted() { [ -n "$centre" ] && [ "$centre" != "$DESKTOP" ]; }
check "the badge's centre is painted (colour $centre)" painted

# The window under the screen point, as a top-level (frame) window id, decimal.
window_at() {
    local WINDOW=""
    pointer_to "$1" "$2" >/dev/null 2>&1
    eval "$(xdotool getmouselocation --shell 2>/dev/null | grep -E '^WINDOW=')"
    echo "$WINDOW"
}

# --- a click on a transparent corner goes through ----------------------------------
under_corner=$(window_at $((bx + 1)) $((by + 1)))
under_centre=$(window_at $((bx + 24)) $((by + 24)))
badge_ids=" $((BADGE_FRAME)) $((BADGE)) "
case "$badge_ids" in
*" $under_corner "*) fail "the pointer at the badge's corner is over the badge (window $under_corner)" ;;
*) pass "the pointer at the badge's corner is not over the badge (window under it: ${under_corner:-none})" ;;
esac
case "$badge_ids" in
*" $under_centre "*) pass "the pointer at the badge's centre is over the badge" ;;
*) fail "the pointer at the badge's centre is not over the badge (window $under_centre, badge$badge_ids)" ;;
esac
click_at $((bx + 1)) $((by + 1))
sleep 1
check "a click on the corner leaves the draw window unmapped" is_unmapped "$WIN"
check "a click on the corner leaves the badge mapped" is_mapped "$BADGE"

# --- a click on the centre brings the draw window back ------------------------------
click_at $((bx + 24)) $((by + 24))
if wait_until 5 unfolded; then
    pass "a click on the badge's centre maps the draw window and unmaps the badge"
else
    fail "after a click on the centre: draw window $(map_state "$WIN"), badge $(map_state "$BADGE")"
fi
FRAME=$(frame_of "$WIN")
expect_eq "the draw window comes back where it was" "${frame[*]}" "$(geometry "$FRAME")"
shot unfolded "700x400+1220+680"
check "the program is still running" app_running

finish

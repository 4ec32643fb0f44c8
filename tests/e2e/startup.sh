#!/usr/bin/env bash
# Start-up, placement and the draw, on a real X desktop.
#   startup.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require
e2e_init "$@"
start_desktop

# The button and the label, in client coordinates.
BUTTON_X=240 BUTTON_Y=127
LABEL_GEOMETRY="442x97+24+8"

# Starts the program in DIR and waits for its draw window: WIN, FRAME.
start_and_find() {
    start_app "$1"
    wait_draw_window
    FRAME=$(frame_of "$WIN") || die "no frame window above the draw window"
}

# The five numbers of _MOTIF_WM_HINTS (flags functions decorations ...), decimal.
motif_hints() {
    local h
    h=$(xprop -id "$1" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/^_MOTIF_WM_HINTS([^)]*) = //p' | tr -d ,)
    [ -n "$h" ] || return 1
    for v in $h; do printf '%d ' "$v"; done
    echo
}

# Prints "same" or "different" for two images of one size.
compare_images() {
    local diff
    diff=$(compare -metric AE "$1" "$2" null: 2>&1)
    [ "${diff%% *}" = 0 ] && echo same || echo different
}

# A folder named after a class, with a ";" in its name.
dir=$(e2e_app_dir '班;级')
names=(张伟 王芳 李娜)
make_roster "$dir/名单.txt" "${names[@]}"

# (a) the store is seeded from the roster file.
start_and_find "$dir"
wait_until 5 test -s "$dir/cs.db" || die "cs.db was not created beside the executable"
check "no file 班 is made beside the folder 班;级" test ! -e "$TEST_TMP/班"
expect_eq "cs.db holds the 3 names of 名单.txt" "$(printf '%s\n' "${names[@]}" | sort)" \
    "$(sql "$dir/cs.db" 'select xm from cs' | sort)"
expect_eq "every count starts at 0" "3|3" "$(sql "$dir/cs.db" 'select count(*), count(*) filter (where c = 0) from cs')"

# (b) the outer rectangle ends at the right edge, 50 px above the bottom.
if wait_until 5 frame_at_corner; then
    pass "the frame $(geometry "$FRAME" | tr ' ' ,) ends at right 1920, bottom 1030"
else
    g=($(geometry "$FRAME"))
    fail "the frame (x,y,w,h = ${g[*]}) should end at right 1920, bottom 1030; it ends at $((g[0] + g[2])), $((g[1] + g[3]))"
fi

# (c) topmost.
state=$(wm_state "$WIN")
case "$state" in
*_NET_WM_STATE_ABOVE*) pass "_NET_WM_STATE_ABOVE is set ($state)" ;;
*) fail "_NET_WM_STATE_ABOVE is not set (_NET_WM_STATE: '${state}')" ;;
esac

# No minimize or maximize box: what the program asks the window manager for.
# (openbox draws its buttons whatever the hints say.)
hints=($(motif_hints "$WIN"))
if [ ${#hints[@]} -ge 3 ]; then
    functions=${hints[1]} decorations=${hints[2]}
    no_boxes() {
        # functions: ALL 1, MINIMIZE 8, MAXIMIZE 16; decorations: ALL 1, MINIMIZE 32, MAXIMIZE 64
        [ $((hints[0] & 3)) -eq 3 ] && [ $((functions & (1 | 8 | 16))) -eq 0 ] &&
            [ $((decorations & (1 | 32 | 64))) -eq 0 ] && [ $((functions & 32)) -ne 0 ]
    }
    check "_MOTIF_WM_HINTS ask for no minimize or maximize box, but a close box (${hints[*]})" no_boxes
else
    fail "the draw window has no _MOTIF_WM_HINTS"
fi

# (d) caption and label.
title=$(window_name "$WIN")
check "the caption '$title' starts with 青枫大转盘" [ "${title#青枫大转盘}" != "$title" ]
wg=($(geometry "$WIN"))
expect_eq "the client area is 474 x 151" "474 151" "${wg[2]} ${wg[3]}"
label_at="442x97+$((wg[0] + 24))+$((wg[1] + 8))"
grab "$TEST_TMP/label-idle.png" "$label_at"
share=$(colour_share "$TEST_TMP/label-idle.png" '#FF00FF')
check "the label shows fuchsia text (share of fuchsia pixels $share)" awk -v s="${share:-0}" 'BEGIN { exit !(s > 0.03) }'

# (e) one spin, one draw. The button is looked at with the pointer over it,
# as it is for each press. The checks above may have outlasted the ten seconds
# before the window folds.
show_draw_window || die "the draw window did not come up for the spin"
wg=($(geometry "$WIN"))
button_at="81x32+$((wg[0] + 200))+$((wg[1] + 111))"
pointer_to $((wg[0] + BUTTON_X)) $((wg[1] + BUTTON_Y))
sleep 0.5
grab "$TEST_TMP/button-idle.png" "$button_at"
click_in "$WIN" $BUTTON_X $BUTTON_Y
# button_changed [same]: the button is drawn differently from its idle look
# (or, given "same", as it was).
button_changed() {
    grab "$TEST_TMP/button-now.png" "$button_at"
    [ "$(compare_images "$TEST_TMP/button-idle.png" "$TEST_TMP/button-now.png")" = "${1:-different}" ]
}
wait_until 5 button_changed
grab "$TEST_TMP/label-spin.png" "$label_at"
grab "$TEST_TMP/button-spin.png" "$button_at"
expect_eq "the button's caption changes for the spin" different "$(compare_images "$TEST_TMP/button-idle.png" "$TEST_TMP/button-spin.png")"
shot spin "$(geometry "$FRAME" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"
expect_eq "the label changes once the spin runs" different "$(compare_images "$TEST_TMP/label-idle.png" "$TEST_TMP/label-spin.png")"
expect_eq "nothing is recorded while the spin runs" 0 "$(sql "$dir/cs.db" 'select sum(c) from cs')"
sleep 0.5
click_in "$WIN" $BUTTON_X $BUTTON_Y
one_draw() { [ "$(sql "$dir/cs.db" 'select sum(c) from cs')" = 1 ]; }
wait_until 5 one_draw
sleep 0.5  # a second record would show up by now
expect_eq "after start and stop one row has c = 1 and the total is 1" "1|1|3" \
    "$(sql "$dir/cs.db" 'select count(*) filter (where c = 1), sum(c), count(*) from cs')"
drawn=$(sql "$dir/cs.db" 'select xm from cs where c = 1')
wait_until 5 button_changed same
grab "$TEST_TMP/button-stopped.png" "$button_at"
expect_eq "the button looks as before the spin (开始转动)" same "$(compare_images "$TEST_TMP/button-idle.png" "$TEST_TMP/button-stopped.png")"
grab "$TEST_TMP/label-stopped.png" "$label_at"
sleep 0.3
grab "$TEST_TMP/label-stopped2.png" "$label_at"
expect_eq "the label stays still once stopped" same "$(compare_images "$TEST_TMP/label-stopped.png" "$TEST_TMP/label-stopped2.png")"
check "the program is still running" app_running
close_draw_window

# (f) the count survives a restart.
start_and_find "$dir"
sleep 1
expect_eq "after a restart '$drawn' still has c = 1, the total is 1" "$drawn|1|3" \
    "$(sql "$dir/cs.db" "select (select xm from cs where c = 1), sum(c), count(*) from cs")"
close_draw_window

# (g) with cs.db present, a changed roster file is not read.
make_roster "$dir/名单.txt" 赵一 钱二 孙三 李四 周五
start_and_find "$dir"
sleep 1
expect_eq "a changed 名单.txt is not read when cs.db is there" "$(printf '%s\n' "${names[@]}" | sort)" \
    "$(sql "$dir/cs.db" 'select xm from cs' | sort)"
expect_eq "the counts are kept" 1 "$(sql "$dir/cs.db" 'select sum(c) from cs')"
close_draw_window

# (h) neither file: an empty store, and a press asks for a roster.
dir=$(e2e_app_dir empty)
start_and_find "$dir"
wait_until 5 test -s "$dir/cs.db" || die "cs.db was not created in an empty folder"
# SQLite keeps the statement as it was given, the leading keywords in capitals.
expect_eq "the new store has just the table cs" "CREATE TABLE cs(xm char(20),c int);" "$(sql "$dir/cs.db" .schema)"
expect_eq "the new store is empty" 0 "$(sql "$dir/cs.db" 'select count(*) from cs')"
show_draw_window || die "the draw window did not come to its corner"
click_in "$WIN" $BUTTON_X $BUTTON_Y
if wait_until 5 find_visible_window "$APP_PID" '^提示$' >/dev/null; then
    box=$(find_visible_window "$APP_PID" '^提示$')
    pass "a press with no roster shows the box titled 提示"
    shot no-roster "$(geometry "$(frame_of "$box")" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"
    key_into "$box" Return
    check "Enter closes the box" wait_until 5 is_unmapped "$box"
else
    fail "no box titled 提示 appeared after a press with no roster"
fi
check "the program is still running after the box" app_running
expect_eq "cs.db still has no rows" 0 "$(sql "$dir/cs.db" 'select count(*) from cs')"
check "the draw window is still shown" is_mapped "$WIN"
close_draw_window

finish

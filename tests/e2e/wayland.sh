#!/usr/bin/env bash
# A Wayland session (headless mutter, the compositor of GNOME) with Qt's
# Wayland plugin installed: the program runs through Xwayland, where it can
# place its windows and keep them on top, as on X11. Without Xwayland it runs
# as a Wayland client.
#   wayland.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require mutter Xwayland wmctrl dbus-daemon
e2e_init "$@"
MUTTER_PID=""

# start_wayland [no-x11]: a headless Wayland session (mutter, one
# 1920 x 1080 monitor) on a private session bus, with its X server (Xwayland)
# unless told otherwise. Exports WAYLAND_DISPLAY, XDG_SESSION_TYPE and, with
# Xwayland, DISPLAY and XAUTHORITY, as a desktop's session does; the platform
# plugin is left for the program to choose.
start_wayland() {
    local name=wl-namewheel-$$ x11_flag="" log=$TEST_TMP/mutter.log
    [ "${1:-}" = no-x11 ] && x11_flag=--no-x11
    [ -n "$BUS_PID" ] || e2e_start_bus
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM
    background "$log" mutter --wayland --headless --virtual-monitor 1920x1080 --wayland-display "$name" $x11_flag
    MUTTER_PID=$BG_PID
    wait_until 30 test -S "$XDG_RUNTIME_DIR/$name" || die "mutter did not start (see $log)"
    export WAYLAND_DISPLAY=$name XDG_SESSION_TYPE=wayland
    if [ -z "$x11_flag" ]; then
        x_display() { sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$log" | head -n 1 | grep .; }
        wait_until 30 x_display >/dev/null || die "mutter started no Xwayland (see $log)"
        export DISPLAY=$(x_display)
        XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
        [ -n "$XAUTHORITY" ] && export XAUTHORITY
        wait_until 15 wm_running || die "mutter does not manage Xwayland's windows (see $log)"
        note "Wayland display $WAYLAND_DISPLAY, Xwayland on $DISPLAY"
    else
        note "Wayland display $WAYLAND_DISPLAY, no X server"
    fi
}

plugin_dir=$(ls -d /usr/lib/*/qt6/plugins/platforms 2>/dev/null | head -n 1)
ls "$plugin_dir"/libqwayland-*.so >/dev/null 2>&1 || die "Qt's Wayland plugin is not installed (package qt6-wayland)"
start_wayland

dir=$(e2e_app_dir wayland)
make_roster "$dir/名单.txt" 张伟 王芳 李娜
# The desktop's opener of links, standing in for the browser: it notes the
# platform plugin it was told to use, if any.
opener=$TEST_TMP/opener
mkdir -p "$opener"
printf '#!/bin/sh\necho "${QT_QPA_PLATFORM-none} $1" >"%s/opened"\n' "$TEST_TMP" >"$opener/xdg-open"
chmod +x "$opener/xdg-open"
PATH=$opener:$PATH start_app "$dir"

# --- through Xwayland: placed, on top ----------------------------------------------
if wait_until 15 find_window "$APP_PID" '^青枫大转盘' >/dev/null; then
    WIN=$(find_window "$APP_PID" '^青枫大转盘')
    pass "the draw window is a window of Xwayland (window $WIN on $DISPLAY)"
else
    die "the draw window did not appear on Xwayland ($(tail -n 5 "$APP_LOG"))"
fi
wait_until 10 is_mapped "$WIN" || die "the draw window was never mapped"
# The outer rectangle: mutter's frame window also holds invisible borders.
outer_at_corner() {
    local g
    g=($(outer_rect "$WIN"))
    [ ${#g[@]} -eq 4 ] && [ $((g[0] + g[2])) -eq 1920 ] && [ $((g[1] + g[3])) -eq 1030 ]
}
if wait_until 10 outer_at_corner; then
    pass "the outer rectangle $(outer_rect "$WIN" | tr ' ' ,) ends at right 1920, bottom 1030"
else
    g=($(outer_rect "$WIN"))
    fail "the outer rectangle (x,y,w,h = ${g[*]}) should end at right 1920, bottom 1030"
fi
if wait_until 5 has_above "$WIN"; then
    pass "the draw window is on top ($(wm_state "$WIN"))"
else
    fail "the draw window is not on top (_NET_WM_STATE: '$(wm_state "$WIN")')"
fi
frame=($(outer_rect "$WIN"))

# There is no tray here: the menu opens in the draw window. Its last item is
# a link; the browser it starts is not told which platform this program chose.
menu_up() { [ -n "$(popups_of "$APP_PID")" ]; }
click_at $((frame[0] + 100)) $((frame[1] + 60)) 3
if wait_until 5 menu_up; then
    xdotool key Up Return
    if wait_until 10 test -s "$TEST_TMP/opened"; then
        expect_eq "a link starts the browser without the program's platform choice" \
            "none https://namewheel.example/" "$(cat "$TEST_TMP/opened")"
    else
        fail "the last item of the menu opened no link"
    fi
else
    fail "a right-click in the draw window opened no menu"
fi

# --- the fold -----------------------------------------------------------------------
if wait_until 20 folded; then
    pass "the draw window folds into the badge"
else
    die "no fold within 20 s: draw window $(map_state "$WIN"), badge '${BADGE}'"
fi
at_edge() { b=($(outer_rect "$BADGE")) && [ $((b[0] + b[2])) -eq 1920 ]; }
wait_until 5 at_edge
b=($(outer_rect "$BADGE"))
expect_eq "the badge's outer rectangle is 48 x 48" "48 48" "${b[2]} ${b[3]}"
expect_eq "the badge's right edge is the screen's right edge" 1920 $((b[0] + b[2]))
expect_eq "the badge's top is the frame's top + its height div 2 (${frame[1]} + ${frame[3]} / 2)" \
    $((frame[1] + frame[3] / 2)) "${b[1]}"
check "the badge is above every window: no window manager stacks it (override-redirect)" override_redirect "$BADGE"

click_at $((b[0] + 24)) $((b[1] + 24))
check "a click on the badge brings the draw window back" wait_until 5 unfolded
# Closed the way the compositor closes a window.
wmctrl -i -c "$WIN"
expect_exit "closing the draw window"
stop_pid "$MUTTER_PID"
MUTTER_PID=""

# --- no Xwayland: a Wayland client ------------------------------------------------------
# The portable folder brings Qt's X11 platform plugin only: it needs X11 or
# Xwayland, as its README says.
plugins=$(dirname "$E2E_EXE")/plugins/platforms
if [ -d "$plugins" ] && ! ls "$plugins"/libqwayland* >/dev/null 2>&1; then
    echo "skipped: the session without Xwayland (this program brings no Wayland platform plugin)"
    finish
fi
start_wayland no-x11
dir=$(e2e_app_dir wayland-only)
start_app "$dir"
if wait_until 15 test -s "$dir/cs.db"; then
    pass "without Xwayland the program starts as a Wayland client (cs.db made)"
else
    fail "without Xwayland the program did not come up ($(tail -n 5 "$APP_LOG"))"
fi
sleep 1
check "it keeps running" app_running
expect_eq "it says nothing about the display" "" "$(grep -i -E 'could not connect|failed to start|xcb' "$APP_LOG")"
kill_app

finish

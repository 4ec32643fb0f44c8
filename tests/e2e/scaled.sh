#!/usr/bin/env bash
# Scaled screens (150 % and 200 %, set by Xft.dpi as desktops do, and by
# QT_SCALE_FACTOR), and a 1024 x 768 projector: the draw window flush with the
# right edge to the device pixel, its bottom 50 logical pixels above the
# screen's bottom; the badge flush right and round; the label drawn at the
# screen's resolution. Two screens: the corner and the badge are those of the
# primary one, wherever it starts, at whatever scale, also after a screen is
# plugged in or out.
#   scaled.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require xrdb xrandr
e2e_init "$@"
DESKTOP=#3366AA

# desktop SIZE: a fresh X server of that size with openbox.
desktop() {
    stop_pid "$WM_PID"
    stop_pid "$XVFB_PID"
    WM_PID="" XVFB_PID=""
    start_x "$1"
    start_wm
}

# start_scaled NAME DPI [QT_SCALE_FACTOR]: the program on the current screen,
# with Xft.dpi set; WIN is its draw window.
start_scaled() {
    local dir
    echo "Xft.dpi: $2" | xrdb -override
    dir=$(e2e_app_dir "$1")
    make_roster "$dir/名单.txt" 张伟 王芳 李娜
    if [ -n "${3:-}" ]; then
        QT_SCALE_FACTOR=$3 start_app "$dir"
    else
        start_app "$dir"
    fi
    wait_draw_window
}

# placed NAME RIGHT BOTTOM: the outer rectangle ends there (device pixels).
placed() {
    local g
    ends_at() { g=($(outer_rect "$WIN")) && [ $((g[0] + g[2])) -eq "$2" ] && [ $((g[1] + g[3])) -eq "$3" ]; }
    if wait_until 10 ends_at "$@"; then
        pass "$1: the outer rectangle ${g[*]} ends at right $2, bottom $3"
    else
        fail "$1: the outer rectangle (x,y,w,h = ${g[*]}) should end at right $2, bottom $3; it ends at $((g[0] + g[2])), $((g[1] + g[3]))"
    fi
}

# --- 200 % by Xft.dpi: placement, the label, the fold --------------------------------
desktop 1920x1080
desktop_colour "$DESKTOP" || die "could not paint the desktop $DESKTOP"
start_scaled dpi-192 192
placed "200 % (Xft.dpi 192)" 1920 980
frame=($(outer_rect "$WIN"))
check "200 %: the client area is 948 x 302 device pixels" eval '[ "$(geometry "$WIN" | cut -d" " -f3-)" = "948 302" ]'

# The label's own pixels: drawn for this screen they have detail finer than
# 2 x 2 blocks; a picture drawn for 100 % and doubled has none.
wg=($(geometry "$WIN"))
grab "$TEST_TMP/label.png" "884x194+$((wg[0] + 48))+$((wg[1] + 16))"
convert "$TEST_TMP/label.png" -sample 50% -sample 200% "$TEST_TMP/label-doubled.png"
detail=$(compare -metric AE "$TEST_TMP/label.png" "$TEST_TMP/label-doubled.png" null: 2>&1 | cut -d' ' -f1)
check "200 %: the label's text is drawn at the device resolution ($detail pixels differ from a doubled picture)" \
    awk -v n="${detail:-0}" 'BEGIN { exit !(n > 500) }'
share=$(colour_share "$TEST_TMP/label.png" '#FF00FF')
check "200 %: the label shows its fuchsia text (share $share)" awk -v s="${share:-0}" 'BEGIN { exit !(s > 0.03) }'
shot dpi-192 "$(echo "${frame[@]}" | awk '{ printf "%dx%d+%d+%d", $3, $4, $1, $2 }')"

wait_until 20 folded || die "200 %: no fold within 20 s"
sleep 0.3
b=($(outer_rect "$BADGE"))
expect_eq "200 %: the badge is 96 x 96 device pixels" "96 96" "${b[2]} ${b[3]}"
expect_eq "200 %: the badge's right edge is the screen's right edge" 1920 $((b[0] + b[2]))
middle=$((frame[1] + frame[3] / 2))
check "200 %: the badge's top ${b[1]} is at the middle of the draw window ($middle, to a logical pixel)" \
    eval "[ ${b[1]} -ge $((middle - 2)) ] && [ ${b[1]} -le $((middle + 2)) ]"
corner=$(pixel_at $((b[0] + 2)) $((b[1] + 2)))
centre=$(pixel_at $((b[0] + 48)) $((b[1] + 48)))
expect_eq "200 %: the badge's corner shows the desktop (round)" "$DESKTOP" "$corner"
check "200 %: the badge's centre is painted ($centre)" [ -n "$centre" ] && [ "$centre" != "$DESKTOP" ]
shot dpi-192-badge "200x200+1720+$((b[1] - 52))"
click_at $((b[0] + 48)) $((b[1] + 48))
check "200 %: a click on the badge brings the draw window back" wait_until 5 unfolded
placed "200 %, unfolded" 1920 980
kill_app

# --- 150 % by Xft.dpi ----------------------------------------------------------------
start_scaled dpi-144 144
placed "150 % (Xft.dpi 144)" 1920 1005
kill_app

# --- QT_SCALE_FACTOR ------------------------------------------------------------------
start_scaled factor-2 96 2
placed "200 % (QT_SCALE_FACTOR 2)" 1920 980
kill_app
start_scaled factor-1.5 96 1.5
placed "150 % (QT_SCALE_FACTOR 1.5)" 1920 1005
kill_app

# --- a 1024 x 768 projector ------------------------------------------------------------
desktop 1024x768
start_scaled projector 96
placed "1024 x 768" 1024 718
check "1024 x 768: the window is inside the screen" eval '[ "$(outer_rect "$WIN" | cut -d" " -f1)" -ge 0 ]'
kill_app
start_scaled projector-200 192
placed "1024 x 768 at 200 %" 1024 668
g=($(outer_rect "$WIN"))
check "1024 x 768 at 200 %: the whole window is on the screen (${g[*]})" eval "[ ${g[0]} -ge 0 ] && [ ${g[1]} -ge 0 ]"
shot projector-200
kill_app

# --- two screens, the primary one away from 0,0 -------------------------------------------
# RandR monitors on one X screen (xrandr --setmonitor), as a desktop with a
# laptop and a projector has them. Qt 5 reads only outputs, of which Xvfb has
# one.
if ldd "$E2E_EXE" 2>/dev/null | grep -q libQt5Core; then
    note "two screens: left out for Qt 5, which takes the X server's outputs, not its monitors"
    finish
fi

# screens LAPTOP [PROJECTOR]: the monitors made anew, each given as xrandr
# takes it (WIDTH/MMxHEIGHT/MM+X+Y). The laptop's holds the server's output and
# comes first: Xvfb marks no monitor primary, and then Qt takes the first.
screens() {
    local want name
    for name in laptop projector; do xrandr --delmonitor "$name" >/dev/null 2>&1; done
    want="laptop $1"
    xrandr --setmonitor laptop "$1" screen >/dev/null 2>&1
    if [ -n "${2:-}" ]; then
        xrandr --setmonitor projector "$2" none >/dev/null 2>&1
        want="$want projector $2"
    fi
    [ "$(xrandr --listmonitors | awk 'NR > 1 { printf "%s%s %s", (NR > 2 ? " " : ""), $2, $3 }')" = "$want" ] ||
        die "the X server's monitors are not '$want': $(xrandr --listmonitors | tr '\n' ' ')"
}

# One screen; then a projector plugged in to the left, and out again.
desktop 2944x1080
screens 1920/508x1080/286+0+0
start_scaled two-screens 96
placed "the laptop alone" 1920 1030
screens 1920/508x1080/286+1024+0 1024/271x768/203+0+0
placed "a projector plugged in to the left: the laptop's corner" 2944 1030
frame=($(outer_rect "$WIN"))
wait_until 20 folded || die "two screens: no fold within 20 s"
sleep 0.3
b=($(outer_rect "$BADGE"))
expect_eq "two screens: the badge's right edge is the laptop's" 2944 $((b[0] + b[2]))
expect_eq "two screens: the badge's top is at the middle of the draw window" $((frame[1] + frame[3] / 2)) "${b[1]}"
screens 1920/508x1080/286+0+0
badge_right_at() { b=($(outer_rect "$BADGE")) && [ $((b[0] + b[2])) -eq "$1" ]; }
if wait_until 5 badge_right_at 1920; then
    pass "the projector unplugged while folded: the badge comes to the laptop's right edge (${b[*]})"
else
    fail "the projector unplugged while folded: the badge should end at the laptop's right edge, 1920; it is at ${b[*]}"
fi
click_at $((b[0] + 24)) $((b[1] + 24))
check "two screens: a click on the badge brings the draw window back" wait_until 5 unfolded
placed "the projector unplugged: the laptop's corner" 1920 1030
kill_app

# The laptop at 200 % to the right of a projector at 100 %.
desktop 4864x2160
screens 3840/1016x2160/572+1024+0 1024/271x768/203+0+0
QT_SCREEN_SCALE_FACTORS="laptop=2;projector=1" start_scaled two-scales 96
placed "the laptop at 200 % beside a projector at 100 %" 4864 2060
check "on the laptop at 200 %: the client area is 948 x 302 device pixels" \
    eval '[ "$(geometry "$WIN" | cut -d" " -f3-)" = "948 302" ]'
shot two-scales
kill_app

finish

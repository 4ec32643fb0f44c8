#!/bin/bash
# The Windows program on scaled screens, and beside another program's topmost
# window, under Wine.
#   tests/win32/scaled.sh [BUILD_DIR [BUILD64_DIR]]     (see run-tests.sh)
# At 96, 120, 144 and 192 DPI (Wine's LogPixels; Wine tells a DPI-aware
# program the screen's DPI and stretches no window, so what shows is what the
# program drew): the client area, the controls and the label's text at the
# scale; the window at the corner in device pixels; a draw recorded; at 144
# and 192 DPI (a fold takes ten ticks), the badge at the scale, flush with the
# screen's right edge. At 96 DPI, the messages of a move to a monitor of
# another scale lay the window out anew. At 144 DPI, another program's
# topmost window over the corner, holding the keyboard: the draw window, then
# the badge, comes back above it, and the keyboard stays with it.
# The windows are read the way Windows sees them, by probe.exe (built here
# from probe.cpp); what shows, from the screen's pixels. WINE_SHOTS=folder
# keeps pictures of the draw window and of the badge at each scale there (the
# badge then folds at every scale).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/win32/lib.sh
source "$here/lib.sh"
nw_dirs "$@"

nw_setup "$build" "$build64"
# Before Wine is ended: the prefix goes back to 96 DPI for the other tests.
dpi_back() { nw_dpi 96; }
EXIT_HOOKS=(dpi_back "${EXIT_HOOKS[@]}")
exe=$NW_RUN_DIR/namewheel.exe
[[ -f $exe ]] || { echo "FAIL: no $exe (the win32.build test makes it)"; exit 1; }
work=$TEST_TMP
shots=${WINE_SHOTS:-}
if [[ -n $shots ]]; then
    mkdir -p "$shots"
    # A desktop colour, so that the badge's round edge shows.
    xsetroot -solid '#3a6ea5' 2>/dev/null || true
fi
nw_helper probe gdi32 user32
probe() { (cd "$work" && nw_wine probe.exe "$@" >/dev/null 2>&1); }
screen_w=1280
screen_h=1024

# The layout's pixels at DPI, to the nearest (halves up, as the program does).
at_dpi() { echo $((($1 * DPI * 2 + 96) / 192)); }
# near A B: within one pixel.
near() { (($1 - $2 <= 1 && $2 - $1 <= 1)); }

# read_windows: the program's windows from the probe: DRAW=(kind L T W H
# client-L client-T client-W client-H) on the screen, LABEL=(L T W H) and
# BUTTON=(L T W H) in client coordinates, BUTTON_TEXT, BADGE=(L T W H) when it
# is up.
read_windows() {
    DRAW=() LABEL=() BUTTON=() BADGE=() BUTTON_TEXT=
    rm -f "$work/windows.txt"
    probe windows windows.txt
    local kind rest current=
    while read -r kind rest; do
        case $kind in
            window)
                read -ra fields <<<"$rest"
                current=${fields[0]}
                if [[ $current == framed ]]; then DRAW=("${fields[@]}"); else BADGE=("${fields[@]:1:4}"); fi
                ;;
            control)
                [[ $current == framed ]] || continue
                read -ra fields <<<"$rest"
                case ${fields[0]} in
                    Static) LABEL=("${fields[@]:1:4}") ;;
                    Button) BUTTON=("${fields[@]:1:4}") BUTTON_TEXT=${fields[5]:-} ;;
                esac
                ;;
        esac
    done <"$work/windows.txt"
    ((${#DRAW[@]} == 9))
}
badge_up() { read_windows >/dev/null 2>&1; ((${#BADGE[@]} == 4)); }

# The box of the label's fuchsia text on the screen: "WIDTHxHEIGHT+X+Y".
text_box() {
    import -window root "$work/screen.png" 2>/dev/null
    convert "$work/screen.png" -crop "${LABEL[2]}x${LABEL[3]}+$((DRAW[5] + LABEL[0]))+$((DRAW[6] + LABEL[1]))" +repage \
        -fill black -fuzz 10% +opaque '#FF00FF' -format '%@' info: 2>/dev/null
}

# text_at_scale: the label's text DPI/96 times as large as at 96 DPI (within
# 3 pixels): TEXT is its box. Its first picture may be drawn a moment late.
text_at_scale() {
    local width height
    TEXT=$(text_box)
    width=${TEXT%%x*}
    height=${TEXT#*x}
    height=${height%%+*}
    [[ $width =~ ^[0-9]+$ && $height =~ ^[0-9]+$ ]] || return 1
    local want_w=$((TEXT_96[0] * DPI / 96)) want_h=$((TEXT_96[1] * DPI / 96))
    ((width - want_w <= 3 && want_w - width <= 3 && height - want_h <= 3 && want_h - height <= 3))
}

# check_layout WHAT [moved]: the client area (unless moved: Wine keeps the
# frame of the DPI it told the window) and the controls at DPI, the label's
# text DPI/96 times as large as at 96 DPI.
check_layout() {
    local what=$1
    if [[ ${2:-} == moved ]]; then
        :
    elif near "${DRAW[7]}" "$(at_dpi 474)" && near "${DRAW[8]}" "$(at_dpi 151)"; then
        pass "$what: client area ${DRAW[7]}x${DRAW[8]} (474x151 at $DPI DPI)"
    else
        fail "$what: client area ${DRAW[7]}x${DRAW[8]}, expected $(at_dpi 474)x$(at_dpi 151) (±1)"
    fi
    local label="$(at_dpi 24) $(at_dpi 8) $(($(at_dpi 466) - $(at_dpi 24))) $(($(at_dpi 105) - $(at_dpi 8)))"
    local button="$(at_dpi 200) $(at_dpi 111) $(($(at_dpi 281) - $(at_dpi 200))) $(($(at_dpi 143) - $(at_dpi 111)))"
    if [[ ${LABEL[*]} == "$label" && ${BUTTON[*]} == "$button" ]]; then
        pass "$what: label at $label, button at $button"
    else
        fail "$what: label at '${LABEL[*]}' (expected $label), button at '${BUTTON[*]}' (expected $button)"
    fi
    if ((${#TEXT_96[@]} == 0)); then
        # The first run, at 96 DPI: the measure of the others. Drawn whole
        # once two looks agree.
        local last=
        for _ in $(seq 1 30); do
            TEXT=$(text_box)
            [[ $TEXT == "$last" && $TEXT =~ ^[0-9]+x[0-9]+ ]] && break
            last=$TEXT
            sleep 0.1
        done
        local size=${TEXT%%+*}
        TEXT_96=(${size%x*} ${size#*x})
        ((TEXT_96[0] > 150 && TEXT_96[1] > 60)) && pass "$what: the label's text is $size" ||
            fail "$what: the label's text is '$TEXT' on the screen"
    elif wait_until 3 text_at_scale; then
        pass "$what: the label's text is ${TEXT%%+*}, $DPI/96 of ${TEXT_96[0]}x${TEXT_96[1]} (its font $(at_dpi 96) px)"
    else
        fail "$what: the label's text is '$TEXT', expected about $((TEXT_96[0] * DPI / 96))x$((TEXT_96[1] * DPI / 96))"
    fi
}

# press CAPTION: a click in the middle of the button, where the probe says it
# is; then the button reads CAPTION.
press() {
    local x=$((DRAW[5] + BUTTON[0] + BUTTON[2] / 2)) y=$((DRAW[6] + BUTTON[1] + BUTTON[3] / 2))
    xdotool mousemove "$x" "$y" click 1
    button_reads() { read_windows && [[ $BUTTON_TEXT == "$1" ]]; }
    wait_until 5 button_reads "$1" && return 0
    note "after a click at $x,$y the button reads '$BUTTON_TEXT', not '$1' (program running:" \
        "$(app_running && echo yes || echo no); windows: $(tr '\n' '|' <"$work/windows.txt" 2>/dev/null))"
    return 1
}

# The running time in the draw window's caption, in seconds.
caption_seconds() {
    local time h m sec
    time=$(xdotool getwindowname "$MAIN" 2>/dev/null | sed -n 's/.*(\([0-9]*\):\([0-9][0-9]\):\([0-9][0-9]\))$/\1 \2 \3/p')
    [[ -n $time ]] || return 1
    read -r h m sec <<<"$time"
    echo $((10#$h * 3600 + 10#$m * 60 + 10#$sec))
}

cover_state() { sed -n "s/^$1 //p" "$work/cover.txt" 2>/dev/null; }
cover_says() { [[ $(cover_state "$1") == "$2" ]]; }
# pixel X Y: the colour on the screen there, as #RRGGBB.
pixel() {
    import -window root "$work/screen.png" 2>/dev/null
    convert "$work/screen.png" -crop "1x1+$1+$2" -depth 8 -format '#%[hex:p{0,0}]' info: 2>/dev/null | cut -c1-7
}

# The other program's topmost window over the corner, holding the keyboard:
# the draw window comes back above it within five ticks, and it keeps the
# keyboard. Then, after the fold, it raises itself over the badge once: the
# badge is above it again within five ticks.
cover_the_corner() {
    rm -f "$work/cover.txt"
    background "$work/cover.log" bash -c "cd '$work' && exec '$NW_WINE_LOADER' probe.exe cover cover.txt ${DRAW[1]} ${DRAW[2]} ${DRAW[3]} ${DRAW[4]}"
    COVER_PID=$BG_PID
    local started start_seconds
    started=$(now_ms)
    start_seconds=$(caption_seconds) || { fail "no running time in the caption: $(xdotool getwindowname "$MAIN")"; return; }
    wait_until 10 cover_says focus yes || { fail "the other program's window did not get the keyboard"; return; }
    if wait_until 7 cover_says draw above; then
        pass "another program's topmost window over the corner: the draw window is above it again after $(($(now_ms) - started)) ms"
    else
        fail "the draw window is not above the other program's topmost window within five ticks"
    fi
    local face
    face=$(pixel $((DRAW[5] + 4)) $((DRAW[6] + 4)))
    [[ $face != "#00A000" ]] && pass "and shows there ($face at the client area's corner)" ||
        fail "the screen still shows the other program's window over the draw window"
    # Five ticks on from the cover's start, by the caption: a fifth one has come.
    five_ticks_on() { local now; now=$(caption_seconds) && ((now >= start_seconds + 5)); }
    wait_until 10 five_ticks_on || fail "the caption did not count five ticks on ($(xdotool getwindowname "$MAIN"))"
    if cover_says focus yes && cover_says lost-focus no; then
        pass "the other program keeps the keyboard five ticks on"
    else
        fail "the other program lost the keyboard (focus $(cover_state focus), lost once: $(cover_state lost-focus))"
    fi
    xdotool type --delay 20 abc
    if wait_until 3 cover_says typed abc; then
        pass "what is typed goes to the other program"
    else
        fail "typed 'abc', the other program got '$(cover_state typed)'"
    fi
}

TEXT_96=()
for DPI in 96 120 144 192; do
    percent=$((DPI * 100 / 96))
    kill_app
    stop_pid "${COVER_PID:-}"
    nw_dpi "$DPI"
    run=$work/run$DPI
    mkdir -p "$run"
    cp "$exe" "$run/"
    printf '张三\r\n李四\r\n王五\r\n' | iconv -f UTF-8 -t GBK >"$run/名单.txt"
    nw_start "$run" namewheel.exe
    wait_main_window || { cat "$APP_LOG"; die "$percent %: no draw window within 30 s"; }
    wait_until 5 read_windows || die "$percent %: the probe finds no draw window: $(cat "$work/windows.txt")"
    what="$percent % ($DPI DPI)"

    check_layout "$what"
    right=$((DRAW[1] + DRAW[3]))
    bottom=$((DRAW[2] + DRAW[4]))
    if ((right == screen_w && bottom == screen_h - $(at_dpi 50))); then
        pass "$what: the draw window ${DRAW[3]}x${DRAW[4]} at the corner, $(at_dpi 50) px above the bottom"
    else
        fail "$what: the draw window ends at $right,$bottom; expected $screen_w,$((screen_h - $(at_dpi 50)))"
    fi
    [[ -n $shots ]] && convert "$work/screen.png" -crop "${DRAW[3]}x${DRAW[4]}+${DRAW[1]}+${DRAW[2]}" +repage \
        "$shots/draw-$percent.png"

    if ((DPI == 96)); then
        # What Windows 10 and 11 send when the window is moved to a monitor of
        # 150 %, and back (while the label still shows its three characters).
        for to in 144 96; do
            rm -f "$work/scaled.txt"
            probe dpichange "$to" scaled.txt
            DPI=$to
            if read_windows && [[ $(cat "$work/scaled.txt" 2>/dev/null) == "scaled-size answered ${DRAW[3]} ${DRAW[4]}" ]]; then
                pass "moved to a monitor of $to DPI: the window says its size there, ${DRAW[3]}x${DRAW[4]}, and takes it"
            else
                fail "moved to a monitor of $to DPI: '$(cat "$work/scaled.txt" 2>/dev/null)', the window is ${DRAW[3]:-?}x${DRAW[4]:-?}"
            fi
            check_layout "moved to $to DPI" moved
        done
        DPI=96
    fi

    press 停止转动
    press 开始转动
    drawn() { [[ $(sqlite3 "$run/cs.db" 'select total(c) from cs' 2>/dev/null) == 1.0 ]]; }
    check "$what: two presses on the button record one draw" wait_until 10 drawn

    # The fold takes ten ticks: the badge is seen folded at 150 % (drawn from
    # its 2x picture made smaller) and 200 % (that picture as it is). 125 %
    # goes the way of 150 %; win32.wine sees the 48-pixel badge at 100 %.
    ((DPI == 96 || DPI == 120)) && [[ -z $shots ]] && continue

    read_windows
    main_top=${DRAW[2]} main_h=${DRAW[4]}
    ((DPI == 144)) && cover_the_corner
    if wait_until 14 badge_up; then
        side=$(at_dpi 48)
        if [[ ${BADGE[*]} == "$((screen_w - side)) $((main_top + main_h / 2)) $side $side" ]]; then
            pass "$what: folded into a ${side}x${side} badge flush with the right edge, at the draw window's middle"
        else
            fail "$what: the badge is '${BADGE[*]}' (left top width height), expected $((screen_w - side)) $((main_top + main_h / 2)) $side $side"
        fi
    else
        fail "$what: no badge within ten ticks of the last press"
        continue
    fi
    if ((DPI == 144)) && [[ -s $work/cover.txt ]]; then
        badge_back() { cover_says raised-over-badge yes && cover_says badge above; }
        if wait_until 7 badge_back; then
            pass "the other program's window raised over the badge: the badge is above it again within five ticks"
        else
            fail "the badge did not come back above the other program's window ($(tr '\n' ' ' <"$work/cover.txt"))"
        fi
        colour=$(pixel $((BADGE[0] + BADGE[2] / 2)) $((BADGE[1] + BADGE[3] / 2)))
        [[ $colour != "#00A000" ]] && pass "and shows there ($colour in its middle)" ||
            fail "the screen shows the other program's window over the badge"
        if cover_says focus yes && cover_says lost-focus no; then
            pass "and the other program never lost the keyboard"
        else
            fail "the other program lost the keyboard (focus $(cover_state focus), lost once: $(cover_state lost-focus))"
        fi
        stop_pid "$COVER_PID"
    fi
    if [[ -n $shots ]]; then
        # The badge at the screen's edge, with as much of the screen around it.
        import -window root "$work/screen.png" 2>/dev/null
        convert "$work/screen.png" -crop "$((BADGE[2] * 2))x$((BADGE[3] * 2))+$((screen_w - BADGE[2] * 2))+$((BADGE[1] - BADGE[3] / 2))" \
            +repage "$shots/badge-$percent.png"
    fi
done
kill_app
stop_pid "${COVER_PID:-}"

((FAILS)) && echo "win32 scaled: FAILED" || echo "win32 scaled: all passed"
finish

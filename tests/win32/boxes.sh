#!/bin/bash
# The Windows program's boxes under Wine, and ending it at awkward moments:
# the error report (the title as caption, the stop icon, the period rule) with
# a title lower-cased beyond A to Z; the tray menu while that start-up box
# waits; the notice 请选导入名单; 关闭 during a spin.
#   tests/win32/boxes.sh [BUILD_DIR [BUILD64_DIR]]     (see run-tests.sh)
# The boxes are read the way Windows sees them, by boxinfo.exe (built here
# from boxinfo.cpp with the compiler of the program under test).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/win32/lib.sh
source "$here/lib.sh"
nw_dirs "$@"
# Its program is also started as AÉ.exe: any .exe's windows are its.
NW_PROGRAM_CLASS='[^.]*\.exe'

nw_setup "$build" "$build64"
exe=$NW_RUN_DIR/namewheel.exe
[[ -f $exe ]] || { echo "FAIL: no $exe (the win32.build test makes it)"; exit 1; }

work=$TEST_TMP

nw_helper boxinfo gdi32 user32

# The boxes that are up: caption<TAB>text<TAB>icon<TAB>buttons, one a line.
boxes() {
    rm -f "$work/boxes.txt"
    (cd "$work" && nw_wine boxinfo.exe boxes.txt >/dev/null 2>&1)
    cat "$work/boxes.txt" 2>/dev/null
}
has_box() { [[ -n $(boxes) ]]; }
no_box() { [[ -z $(boxes) ]]; }

# fresh_run NAME FILE.exe: ends what runs in the prefix, then a fresh folder
# work/NAME with the program copied in as FILE.exe: RUN.
fresh_run() {
    nw_wineserver -k >/dev/null 2>&1
    nw_wineserver -w >/dev/null 2>&1
    RUN=$work/$1
    mkdir -p "$RUN"
    cp "$exe" "$RUN/$2"
}

# ---- the error report of the start-up, captioned with a title lower-cased beyond A to Z ----

fresh_run run1 AÉ.exe
run1=$RUN
{
    printf '张三\r\n'
    printf '长%.0s' $(seq 21)
    printf '\r\n'
} | iconv -f UTF-8 -t GBK >"$run1/名单.txt"
nw_start "$run1" AÉ.exe
if wait_until 30 has_box; then
    IFS=$'\t' read -r caption text icon buttons < <(boxes | head -n 1)
    [[ $caption == "Aé" ]] && pass "the error report's caption is the title: $caption" ||
        fail "the error report's caption is '$caption', not the title 'Aé'"
    [[ $icon == stop ]] && pass "the error report has the stop icon" || fail "the error report's icon: $icon"
    case $text in
        *名单.txt*第\ 2\ 行*最多\ 20\ 个.) pass "the error report says what is wrong, ending in the added period: $text" ;;
        *) fail "the error report's text: '$text'" ;;
    esac
    [[ $buttons != *"|"* && -n $buttons ]] && pass "one button: $buttons" || fail "the buttons: '$buttons'"
else
    fail "no error report at start-up for a 名单.txt with a 21-character name"
fi
[[ -e $run1/cs.db ]] && fail "a refused 名单.txt left a cs.db"

# While that box waits, the menu is live: 显示大转盘 (before the badge
# exists), then 关闭, which ends the program once the box has gone.
menu=$(open_wine_tray_menu)
if [[ -n $menu ]]; then
    choose_item "$menu" 0
    sleep 1.5
    if app_running; then
        pass "显示大转盘 while the start-up box waits: the program runs on"
    else
        wait_app_exit 1
        fail "显示大转盘 while the start-up box waits ended the program (code ${APP_RC:-?})"
    fi
else
    fail "the tray menu did not open while the start-up box waits"
fi
if app_running; then
    # Wine's popup menu may close itself under the click: when the program is
    # still there and no menu is, the item was not chosen; choose it again.
    chosen=0 ended=no
    for attempt in 1 2 3; do
        menu=$(open_wine_tray_menu) || break
        choose_item "$menu" 3
        chosen=$attempt
        if wait_app_exit 10; then
            ended=yes
            break
        fi
        program_windows | grep -qx "$menu" && break  # the menu is still up: the click was not lost
        note "关闭 chosen ($attempt), the program still runs and its menu is gone; again"
    done
    if ((chosen == 0)); then
        fail "the tray menu did not open a second time while the start-up box waits"
    elif [[ $ended == yes ]]; then
        expect_eq "关闭 while the start-up box waits ends the program with exit code 0" 0 "$APP_RC"
    else
        fail "the program still runs 10 s after 关闭 was chosen while the start-up box waited"
    fi
fi

# ---- an empty 名单.txt at first start: an empty store, then the notice ----

fresh_run run2 namewheel.exe
run2=$RUN
: >"$run2/名单.txt"
nw_start "$run2" namewheel.exe
wait_main_window || { cat "$APP_LOG"; die "no draw window within 30 s"; }
main=$MAIN
if wait_until 5 test -s "$run2/cs.db" && [[ $(sqlite3 "$run2/cs.db" 'select count(*) from cs' 2>&1) == 0 ]]; then
    pass "an empty 名单.txt at first start gives an empty cs.db"
else
    fail "an empty 名单.txt at first start: cs.db $(ls -l "$run2/cs.db" 2>&1)"
fi
no_box && pass "and no box" || fail "a box at start-up: $(boxes)"

press_button "$main"
if wait_until 10 has_box; then
    IFS=$'\t' read -r caption text icon buttons < <(boxes | head -n 1)
    if [[ $caption == 提示 && $text == 请选导入名单 && $icon == information && -n $buttons && $buttons != *"|"* ]]; then
        pass "a press on the empty roster: the notice 提示 / 请选导入名单, information icon, one button ($buttons)"
    else
        fail "the notice: caption '$caption', text '$text', icon '$icon', buttons '$buttons'"
    fi
    box=$(window_titled '提示')
    for _ in 1 2 3; do
        [[ -n $box ]] && { xdotool windowfocus --sync "$box" 2>/dev/null; xdotool key Return; }
        wait_until 3 no_box && break
    done
    no_box || fail "the notice did not close on Return"
else
    fail "a press on the empty roster showed no box"
fi

# ---- 关闭 during a spin: the draw is recorded, then the program ends ----

fresh_run run3 namewheel.exe
run3=$RUN
printf '张三\r\n李四\r\n王五\r\n' | iconv -f UTF-8 -t GBK >"$run3/名单.txt"
nw_start "$run3" namewheel.exe
wait_main_window || die "no draw window within 30 s"
main=$MAIN
wait_until 5 test -s "$run3/cs.db"
sleep 0.5
press_button "$main"
sleep 0.5
menu=$(open_wine_tray_menu)
if [[ -n $menu ]]; then
    choose_item "$menu" 3
    sleep 1.5
    if app_running; then
        pass "关闭 during a spin: the program goes on until the spin is stopped"
    else
        fail "关闭 during a spin ended the program at once"
    fi
    [[ $(sqlite3 "$run3/cs.db" 'select total(c) from cs' 2>&1) == 0.0 ]] || fail "a draw was recorded before the stop"
    press_button "$main"
    expect_exit "the stopping press"
    drawn=$(sqlite3 "$run3/cs.db" 'select count(*) || " " || total(c) from cs where c <> 0' 2>&1)
    [[ $drawn == "1 1.0" ]] && pass "the draw was recorded before the end" || fail "after the end: '$drawn'"
else
    fail "the tray menu did not open during the spin"
fi
nw_wineserver -k >/dev/null 2>&1

((FAILS)) && echo "win32 boxes: FAILED" || echo "win32 boxes: all passed"
finish

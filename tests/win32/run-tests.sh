#!/bin/bash
# The Windows program under Wine inside Xvfb.
#   tests/win32/run-tests.sh [BUILD_DIR [BUILD64_DIR]]
# BUILD_DIR holds the 32-bit program (default build-win32; built when
# namewheel.exe is missing). Where this machine's Wine cannot run it, the
# x86-64 build in BUILD64_DIR (default: win64 beside BUILD_DIR; built when
# missing) runs instead; the 32-bit file is checked all the same.
# Prints a PASS or FAIL line per check; exits non-zero when any check fails,
# 77 when no Wine can run here.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/win32/lib.sh
source "$here/lib.sh"
root=$NW_ROOT
nw_dirs "$@"

if [[ ! -f $build/namewheel.exe || ! -f $build/resinfo.exe ]]; then
    bash "$root/scripts/build-win32.sh" "$build" || {
        echo "FAIL: the Windows build failed"
        exit 1
    }
fi
exe=$build/namewheel.exe

# ---- the file itself ----

description=$(file -b "$exe")
if [[ $description == "PE32 executable (GUI) Intel 80386"*"for MS Windows"* ]]; then
    pass "file: $description"
else
    fail "file says: $description"
fi

# Only DLLs of Windows 7 SP1, and nothing from them that came later.
bash "$here/windows7.sh" "$exe" i686-w64-mingw32-objdump || fail "$exe asks for more than Windows 7 SP1 has"

nw_setup "$build" "$build64"
if [[ $NW_WINE_ARCH == win64 ]]; then
    description=$(file -b "$NW_RUN_DIR/namewheel.exe")
    if [[ $description == "PE32+ executable (GUI) x86-64"*"for MS Windows"* ]]; then
        pass "the build that runs here: $description"
    else
        fail "the x86-64 build is: $description"
    fi
    bash "$here/windows7.sh" "$NW_RUN_DIR/namewheel.exe" x86_64-w64-mingw32-objdump ||
        fail "the x86-64 build asks for more than Windows 7 SP1 has"
fi
work=$TEST_TMP

# ---- resources of the 32-bit file, read back the way Windows reads them ----

# resinfo.exe loads the program as data, so one of either build reads it.
cp "$exe" "$NW_RUN_DIR/resinfo.exe" "$work/"
(cd "$work" && nw_wine resinfo.exe namewheel.exe resinfo.txt >/dev/null 2>&1)
expected_resources='fixed FileVersion 2.0.0.0
fixed ProductVersion 2.0.0.0
translation 0804 936
string CompanyName=namewheel
string FileDescription=
string FileVersion=2.0.0.0
string InternalName=
string LegalCopyright=
string OriginalFilename=
string ProductName=
string ProductVersion=1.0.0.0
icon MAINICON 48x48 32 bits
resource EXEFILE/PNG png 48x48 '"$(stat -c %s "$root/resources/badge.png")"'
resource EXEFILE/PNG_2X png 96x96 '"$(stat -c %s "$root/resources/badge@2x.png")"'
manifest common-controls-6 yes
manifest asInvoker yes
manifest dpiAware true/pm
manifest dpiAwareness PerMonitorV2, PerMonitor'
actual_resources=$(cat "$work/resinfo.txt" 2>/dev/null)
if [[ $actual_resources == "$expected_resources" ]]; then
    pass "version resource 2.0.0.0 (product 2.0.0.0 / \"1.0.0.0\", 0804 cp 936), icon, badge and its 2x twin, manifest (DPI aware: true/pm; PerMonitorV2, PerMonitor)"
else
    fail "resources differ:"
    diff <(echo "$expected_resources") <(echo "$actual_resources") | sed 's/^/    /'
fi
rm -f "$work/resinfo.exe" "$work/resinfo.txt" "$work/namewheel.exe"

# From here on, the program that this machine's Wine runs.
exe=$NW_RUN_DIR/namewheel.exe

# ---- helpers on the running program ----

# The visible 48 x 48 window: the badge.
badge_window() {
    local w
    for w in $(program_windows); do
        [[ $(xdotool getwindowgeometry "$w" 2>/dev/null) == *"Geometry: 48x48"* ]] && { echo "$w"; return 0; }
    done
    return 1
}

names_and_counts() { sqlite3 "$1" 'select xm || "|" || c from cs order by rowid' 2>&1; }

# The draw window as Windows sees it (shown, minimised, hidden or none), and
# minimised from outside, as "show desktop" does (tests/win32/winstate.cpp).
nw_helper winstate user32
winstate() { (cd "$work" && nw_wine winstate.exe "$1" winstate.txt >/dev/null 2>&1) && cat "$work/winstate.txt"; }

# minimise_until_folded WHAT: minimises the draw window whenever a tick brings
# it back, until the fold; the ticks must bring it back, and the fold find it
# minimised.
minimise_until_folded() {
    local restores at_fold
    read -r restores at_fold < <(winstate minimise-until-folded)
    if [[ ${restores:-0} -ge 1 ]]; then
        pass "$1: the timer's shows bring the minimised draw window back ($restores times)"
    else
        fail "$1: the timer's shows left the minimised draw window minimised"
    fi
    expect_eq "$1: the draw window was minimised when it folded" minimised "$at_fold"
}

# ---- start-up: the store is seeded from a GBK roster ----

run1=$work/run1
mkdir -p "$run1"
cp "$exe" "$run1/"
names=(张三 李四 王五 赵六 钱七 孙八 周九 吴十 郑十一 冯十二 陈十三 褚十四)
for name in "${names[@]}"; do printf '%s\r\n' "$name"; done | iconv -f UTF-8 -t GBK >"$run1/名单.txt"
if iconv -f UTF-8 -t UTF-8 "$run1/名单.txt" >/dev/null 2>&1; then
    fail "the roster file is not GBK-only text"
fi
nw_start "$run1" namewheel.exe

if wait_main_window; then
    main=$MAIN
    pass "the draw window is up: $(xdotool getwindowname "$main")"
else
    cat "$APP_LOG"
    die "no draw window within 30 s"
fi

expected_rows=$(for name in "${names[@]}"; do echo "$name|0"; done)
wait_until 10 test -s "$run1/cs.db"
rows=$(names_and_counts "$run1/cs.db")
if [[ $rows == "$expected_rows" ]]; then
    pass "cs.db seeded from the GBK 名单.txt: ${#names[@]} names, each c = 0 (read by the Linux sqlite3)"
else
    fail "cs.db rows:"
    echo "$rows" | sed 's/^/    /'
fi
if compgen -G "$run1/cs.db.tmp*" >/dev/null; then fail "a temporary store was left behind: $(cd "$run1" && echo cs.db.tmp*)"; fi

read -r main_x main_y main_w main_h < <(geometry "$main")
if ((main_x + main_w == 1280 && main_y + main_h == 1024 - 50)); then
    pass "draw window at the bottom-right corner: ${main_w}x${main_h}+${main_x}+${main_y} on 1280x1024"
else
    fail "draw window at ${main_w}x${main_h}+${main_x}+${main_y}, not flush right and 50 px above the bottom"
fi

# ---- two presses of the button: one draw ----

press_button "$main"
sleep 1.5
press_button "$main"
one_draw() { [[ $(sqlite3 "$run1/cs.db" 'select total(c) from cs' 2>/dev/null) != 0.0 ]]; }
wait_until 10 one_draw
drawn=$(sqlite3 "$run1/cs.db" 'select count(*) || " " || total(c) from cs where c <> 0' 2>&1)
total=$(sqlite3 "$run1/cs.db" 'select count(*) from cs' 2>&1)
if [[ $drawn == "1 1.0" && $total == "${#names[@]}" ]]; then
    pass "two presses recorded exactly one draw: $(sqlite3 "$run1/cs.db" 'select xm from cs where c = 1')"
else
    fail "after two presses: rows drawn and total count '$drawn', rows $total"
    names_and_counts "$run1/cs.db" | sed 's/^/    /'
fi

# ---- ten ticks after the press: the badge, then back; minimised meanwhile ----

minimise_until_folded "after the press"
badge=
wait_until 16 badge_window >/dev/null && badge=$(badge_window)
if [[ -n $badge ]] && ! window_titled '青枫大转盘' >/dev/null; then
    read -r badge_x badge_y _ _ < <(geometry "$badge")
    if ((badge_x == 1280 - 48 && badge_y == main_y + main_h / 2)); then
        pass "folded: draw window hidden, 48x48 badge at +$badge_x+$badge_y"
    else
        fail "badge at +$badge_x+$badge_y, expected +$((1280 - 48))+$((main_y + main_h / 2))"
    fi
    xdotool mousemove --window "$badge" 24 24 click 1
    if wait_until 5 window_titled '青枫大转盘' >/dev/null && ! badge_window >/dev/null; then
        pass "a click on the badge brings the draw window back"
        expect_eq "it is no longer minimised" shown "$(winstate state)"
    else
        fail "the badge click did not bring the draw window back"
    fi
else
    fail "no badge (or the draw window still showing) ten ticks after the press"
fi

# ---- the tray menu ----

menu=$(open_wine_tray_menu)
if [[ -n $menu ]]; then
    read -r menu_x menu_y menu_w menu_h < <(geometry "$menu")
    pass "the tray menu opens: ${menu_w}x${menu_h}+${menu_x}+${menu_y}"
    # 清除次数(&Q): every count back to 0, then the notice.
    choose_item "$menu" 2
    notice=
    wait_until 5 window_titled '提示' >/dev/null && notice=$(window_titled '提示')
    rows=$(names_and_counts "$run1/cs.db")
    if [[ -n $notice && $rows == "$expected_rows" ]]; then
        pass "清除次数(&Q) from the tray menu: counts back to 0 and the notice 提示"
    else
        fail "清除次数(&Q): notice window '${notice}', rows: $(echo "$rows" | tr '\n' ' ')"
    fi
    if [[ -n $notice ]]; then
        # OK is the box's default button. A box that has just appeared may not
        # take the focus at once: try again.
        closed=no
        for attempt in 1 2 3 4 5; do
            if ((attempt < 3)); then
                key_to "$notice" Return
            else
                # Its OK button, in the middle of the bottom row.
                read -r _ _ box_w box_h < <(geometry "$notice")
                xdotool mousemove --window "$notice" $((box_w / 2)) $((box_h - 24)) click 1
            fi
            if wait_until 2 bash -c "! xdotool search --onlyvisible --name '^提示\$' >/dev/null 2>&1"; then
                closed=yes
                break
            fi
        done
        [[ $closed == yes ]] || fail "the notice did not close (Return, then its OK button)"
    fi
else
    fail "the tray menu did not open"
fi

# ---- 显示大转盘(&S): another ten ticks of the draw window ----

# The import below must not meet the fold: the badge, when it is shown, takes
# the focus from the file dialog. Minimised before the fold, 显示大转盘 brings
# it back all the same.
minimise_until_folded "after 清除次数"
menu=$(open_wine_tray_menu)
if [[ -n $menu ]]; then
    choose_item "$menu" 0
    shown() { window_titled '青枫大转盘' >/dev/null && ! badge_window >/dev/null; }
    if wait_until 5 shown; then
        pass "显示大转盘(&S) from the tray menu: the draw window showing"
        expect_eq "显示大转盘(&S): it is no longer minimised" shown "$(winstate state)"
    else
        fail "显示大转盘(&S): the draw window is not showing"
    fi
else
    fail "the tray menu did not open for 显示大转盘(&S)"
fi

# ---- 导入名单(&M): the open-file dialog, then the store replaced whole ----

new_names=(新一 新二 新三)
for name in "${new_names[@]}"; do printf '%s\r\n' "$name"; done | iconv -f UTF-8 -t GBK >"$run1/new.txt"
expected_new=$(for name in "${new_names[@]}"; do echo "$name|0"; done)
menu=$(open_wine_tray_menu)
dialog=
if [[ -n $menu ]]; then
    before=$(program_windows | sort)
    choose_item "$menu" 1
    find_dialog() {
        local w
        for w in $(comm -13 <(echo "$before") <(program_windows | sort)); do
            [[ -n $(xdotool getwindowname "$w" 2>/dev/null) ]] && { echo "$w"; return 0; }
        done
        return 1
    }
    wait_until 10 find_dialog >/dev/null && dialog=$(find_dialog)
fi
if [[ -n $dialog ]]; then
    pass "导入名单(&M) opens the file dialog: $(xdotool getwindowname "$dialog")"
    # The file name box has the focus; Wine's Z: is the Unix root. A dialog
    # that has just appeared may miss the first keys: type again while it is up.
    # Wine without a window manager hands the keyboard to the draw window when
    # the timer puts it on top (every fifth tick), our own dialog
    # notwithstanding, and keeps it there until a click: in the four seconds
    # after such a tick, click the dialog's caption, then type.
    for attempt in 1 2 3; do
        sleep 1
        program_windows | grep -qx "$dialog" || break
        after_fifth_tick "$main"
        xdotool mousemove --window "$dialog" 40 8 click 1
        key_to "$dialog" ctrl+a
        xdotool type --delay 10 "Z:${run1//\//\\}\\new.txt"
        xdotool key Return
        wait_until 4 bash -c "! xdotool search --onlyvisible --classname '^namewheel\.exe\$' 2>/dev/null | grep -qx '$dialog'" && break
        note "the file dialog is still open after typing the name ($attempt)"
    done
    if program_windows | grep -qx "$dialog"; then
        after_fifth_tick "$main"
        xdotool mousemove --window "$dialog" 40 8 click 1
        key_to "$dialog" Escape
    fi
    if wait_until 10 bash -c "[[ \$(sqlite3 '$run1/cs.db' 'select xm || \"|\" || c from cs order by rowid' 2>/dev/null) == '$expected_new' ]]"; then
        pass "the chosen GBK file replaced the roster: ${new_names[*]}"
    else
        fail "after the import the store holds: $(names_and_counts "$run1/cs.db" | tr '\n' ' ')"
    fi
    compgen -G "$run1/cs.db.tmp*" >/dev/null && fail "the import left a temporary store behind: $(cd "$run1" && echo cs.db.tmp*)"
else
    fail "导入名单(&M) did not open the file dialog"
fi

# ---- 关闭(&C) ends the program, exit code 0 ----

menu=$(open_wine_tray_menu)
if [[ -n $menu ]]; then
    choose_item "$menu" 3
    expect_exit "关闭(&C)"
else
    fail "the tray menu did not open for 关闭(&C)"
fi
nw_wineserver -w 2>/dev/null || true

# ---- the system code page: invalid bytes become U+FFFD, the rest loads ----
# (in a folder whose name holds a ";", as a class's may)

run2=$work/班\;级
mkdir -p "$run2"
cp "$exe" "$run2/"
{
    printf '甲乙\r\n' | iconv -f UTF-8 -t GBK
    # A lead byte before a line end, one before a blank, one at the very end.
    printf '丙' | iconv -f UTF-8 -t GBK
    printf '\x81\r\n'
    printf '丁' | iconv -f UTF-8 -t GBK
    printf '\x81 '
    printf '戊\r\n' | iconv -f UTF-8 -t GBK
    printf '己' | iconv -f UTF-8 -t GBK
    printf '\x81'
} >"$run2/名单.txt"
nw_start "$run2" namewheel.exe
wait_until 30 test -s "$run2/cs.db"
wait_until 10 window_titled '青枫大转盘' >/dev/null
rows=$(sqlite3 "$run2/cs.db" 'select hex(xm) || "|" || c from cs order by rowid' 2>&1)
# 甲乙; 丙 U+FFFD; 丁 U+FFFD, a blank, 戊; 己 U+FFFD (UTF-8 in the store).
hex_of() { printf "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
expected_hex=$(printf '%s|0\n' "$(hex_of '甲乙')" "$(hex_of '丙\xef\xbf\xbd')" "$(hex_of '丁\xef\xbf\xbd 戊')" \
    "$(hex_of '己\xef\xbf\xbd')")
if [[ $rows == "$expected_hex" ]]; then
    pass "a roster with bytes that are not GBK loads, each such byte as U+FFFD"
else
    fail "roster with invalid bytes gave: $(echo "$rows" | tr '\n' ' ') expected: $(echo "$expected_hex" | tr '\n' ' ')"
fi
main=$(window_titled '青枫大转盘')
if [[ -n $main ]]; then
    # The close box, that is WM_CLOSE: the same end as the menu's 关闭(&C).
    xdotool windowfocus --sync "$main" 2>/dev/null || true
    xdotool key alt+F4
fi
expect_exit Alt+F4

((FAILS)) && echo "win32 tests: FAILED ($NW_RUNS)" || echo "win32 tests: all passed ($NW_RUNS)"
finish

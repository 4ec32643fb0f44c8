#!/usr/bin/env bash
# The tray icon and its menu, on a real X desktop with trayer as the tray host.
#   tray.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require trayer
e2e_init "$@"
start_desktop tray

dir=$(e2e_app_dir tray)
make_store "$dir/cs.db"

start_app "$dir"
wait_draw_window

# --- the icon docks --------------------------------------------------------------
if wait_until 20 tray_icon "$APP_PID" >/dev/null; then
    ICON=$(tray_icon "$APP_PID")
    pass "the icon docks in trayer's panel (window $ICON, at $(geometry "$ICON" | tr ' ' ,))"
else
    die "the program's icon never docked in trayer"
fi
check "the icon is mapped" wait_until 20 is_mapped "$ICON"

# open_menu: right-clicks the icon once it is shown and waits for a new popup
# window: MENU. A loaded machine (the sanitizer build, a parallel build) may
# take seconds for either.
open_menu() { open_tray_menu 15 15; }

# How many windows of the program (by class) are docked in trayer's panel.
tray_docked_count() {
    local panel
    panel=$(tray_panel) || { echo 0; return 0; }
    xwininfo -tree -id "$panel" 2>/dev/null | grep -c '("namewheel" "namewheel")'
}


# --- 清除次数(&Q) --------------------------------------------------------------------
if open_menu; then
    pass "a right-click on the icon opens a popup menu (window $MENU, $(geometry "$MENU" | tr ' ' ,))"
    shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 120, $4 + 120, $1 - 60, $2 - 60 }')"
else
    die "a right-click on the tray icon opened no menu"
fi
menu_key q
all_zero() { [ "$(sql "$dir/cs.db" 'select count(*) from cs where c is not 0')" = 0 ]; }
if wait_until 20 find_visible_window "$APP_PID" '^提示$' >/dev/null; then
    BOX=$(find_visible_window "$APP_PID" '^提示$')
    expect_eq "清除次数 shows a box titled 提示" 提示 "$(window_name "$BOX")"
    shot cleared "$(geometry "$(frame_of "$BOX")" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"
    check "all counts are 0 once the box is up" all_zero
    key_into "$BOX" Return
    check "Enter closes the box" wait_until 20 is_unmapped "$BOX"
else
    fail "清除次数 showed no box titled 提示"
fi
check "all counts are 0" wait_until 20 all_zero
expect_eq "the roster is unchanged" "张伟 李娜 王芳" "$(sql "$dir/cs.db" 'select xm from cs' | sort | tr '\n' ' ' | sed 's/ $//')"
check "the menu has closed" is_unmapped "$MENU"

# --- 导入名单(&M) --------------------------------------------------------------------
roster=$TEST_TMP/new-class.txt
names=()
for surname in 赵 钱 孙 李 周 吴 郑 王 冯 陈; do
    for given in 明 华 芳; do names+=("$surname$given"); done
done
make_roster "$roster" "${names[@]}"
[ "${#names[@]}" -eq 30 ] || die "the test roster should have 30 names"

open_menu || die "the menu did not open a second time"
menu_key m
if wait_until 20 has_dialog; then
    DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
    pass "导入名单 opens a file dialog ('$(window_name "$DIALOG")')"
    shot import-dialog
    choose_file "$DIALOG" "$roster" 20
    thirty() { [ "$(sql "$dir/cs.db" 'select count(*) from cs')" = 30 ]; }
    wait_until 20 thirty
    expect_eq "cs.db holds exactly the 30 names of the file" "$(printf '%s\n' "${names[@]}" | sort)" \
        "$(sql "$dir/cs.db" 'select xm from cs' | sort)"
    expect_eq "all 30 counts are 0" 30 "$(sql "$dir/cs.db" 'select count(*) from cs where c is 0')"
else
    fail "导入名单 opened no file dialog"
fi
check "the program is still running" app_running

# A roster the store refuses (a name longer than 20 characters): a clear
# message, and the store keeps what it had.
bad=$TEST_TMP/too-long.txt
make_roster "$bad" 张三 "$(printf '长%.0s' $(seq 21))" 李四
open_menu || die "the menu did not open for the second import"
menu_key m
if wait_until 20 has_dialog; then
    DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
    type_into "$DIALOG" "$bad"
    key_into "$DIALOG" Return
    wait_until 20 is_unmapped "$DIALOG"
    report() { ERR=$(dialogs_of "$APP_PID" | head -n 1); [ -n "$ERR" ]; }
    if wait_until 20 report; then
        pass "importing a roster with a 21-character name shows a box ('$(window_name "$ERR")')"
        shot too-long "$(geometry "$(frame_of "$ERR")" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"
        key_into "$ERR" Return
        check "Enter closes the box" wait_until 20 is_unmapped "$ERR"
    else
        fail "importing a roster with a 21-character name showed no message"
    fi
    expect_eq "the store still holds the 30 names" "$(printf '%s\n' "${names[@]}" | sort)" \
        "$(sql "$dir/cs.db" 'select xm from cs' | sort)"
else
    fail "导入名单 opened no file dialog the second time"
fi
check "the program is still running after the refused import" app_running

# Left and middle clicks on the icon open nothing.
g=($(geometry "$(tray_icon "$APP_PID")"))
before=$(popups_of "$APP_PID" | wc -l)
click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 1
click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 2
sleep 1
expect_eq "left and middle clicks on the icon open no menu" "$before" "$(popups_of "$APP_PID" | wc -l)"

# --- the tray host restarts ------------------------------------------------------
stop_tray
not_docked() { ! tray_icon "$APP_PID" >/dev/null; }
check "with trayer gone the icon is not docked" not_docked
start_tray
if wait_until 20 tray_icon "$APP_PID" >/dev/null; then
    pass "the icon docks again in the new trayer (window $(tray_icon "$APP_PID"))"
else
    fail "the icon did not come back after trayer was restarted"
fi
check "the program survived the tray host's restart" app_running
expect_eq "exactly one icon of the program is docked" 1 "$(tray_docked_count)"

# --- 关闭(&C) ------------------------------------------------------------------------
open_menu || die "the menu did not open after trayer's restart"
shot menu-again
menu_key c
expect_exit 关闭
check "trayer is still there" eval "tray_panel >/dev/null"
expect_eq "the icon has left the tray" 0 "$(tray_docked_count)"

finish

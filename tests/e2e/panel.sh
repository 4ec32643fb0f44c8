#!/usr/bin/env bash
# The tray icon and its menu on an indicator panel: xfce4-panel's status tray,
# which shows StatusNotifierItems and draws the menu they export over D-Bus,
# as the panels of most desktops do.
#   panel.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require xfce4-panel dbus-daemon gdbus
e2e_init "$@"
e2e_start_bus
start_desktop
e2e_start_panel

dir=$(e2e_app_dir panel)
make_store "$dir/cs.db"

start_app "$dir"
wait_draw_window

# --- the item and the menu it exports --------------------------------------------
if wait_item 15; then
    pass "the icon is registered with the panel's watcher ($ITEM)"
else
    die "the program registered no item with the panel (items: $(sni_items | tr '\n' ' '))"
fi
expect_eq "the item exports its menu" "" "$(sni_property "$ITEM" Menu | grep -o NO_DBUSMENU)"
labels=$(sni_menu_labels "$ITEM" | tr '\n' '|')
expect_eq "the exported menu has the eight items with their access keys" \
    "显示大转盘(_S)|导入名单(_M)|清除次数(_Q)|关闭(_C)|namewheel.example|下载更多免费软件|下载最新版|联系作者定制软件|" "$labels"

TRAY=$(panel_tray) || die "the panel shows no status tray"
amber() {
    grab "$TEST_TMP/panel-tray.png" "$(geometry "$TRAY" | awk '{ printf "%dx%d+%d+%d", $3, $4, $1, $2 }')"
    awk -v s="$(colour_share "$TEST_TMP/panel-tray.png" '#EAA42B')" 'BEGIN { exit !(s > 0.05) }'
}
check "the panel draws the program's amber icon" wait_until 10 amber
shot tray "$(geometry "$TRAY" | awk '{ printf "%dx%d+%d+%d", $3 + 200, $4 + 20, $1, $2 }')"

notices() { xdotool search --all --onlyvisible --pid "$APP_PID" --name '^提示$' 2>/dev/null | wc -l; }

# With a tray there, a right-click in the draw window opens nothing.
g=($(geometry "$WIN"))
click_at $((g[0] + 100)) $((g[1] + 60)) 3
sleep 1
expect_eq "a right-click in the draw window opens no menu" "" "$(popups_of "$APP_PID")"

# --- 清除次数(&Q) --------------------------------------------------------------------
if open_panel_menu; then
    pass "a right-click on the icon opens the panel's menu (window $MENU, $(geometry "$MENU" | tr ' ' ,))"
    shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1, $2 }')"
else
    die "a right-click on the icon in the panel opened no menu"
fi
xdotool key q
all_zero() { [ "$(sql "$dir/cs.db" 'select count(*) from cs where c is not 0')" = 0 ]; }
if wait_until 10 find_visible_window "$APP_PID" '^提示$' >/dev/null; then
    BOX=$(find_visible_window "$APP_PID" '^提示$')
    pass "清除次数 from the panel's menu shows the box 提示"
    check "the panel's menu has closed" is_unmapped "$MENU"
    check "all counts are 0 once the box is up" all_zero
    key_into "$BOX" Return
    check "Enter closes the box" wait_until 5 is_unmapped "$BOX"
    sleep 1  # a second run of the item would show its box by now
    expect_eq "the item ran once: no second box" 0 "$(notices)"
else
    fail "清除次数 from the panel's menu showed no box"
fi
expect_eq "the roster is unchanged" "张伟 李娜 王芳" "$(sql "$dir/cs.db" 'select xm from cs' | sort | tr '\n' ' ' | sed 's/ $//')"

# --- 导入名单(&M) --------------------------------------------------------------------
roster=$TEST_TMP/new-class.txt
names=()
for surname in 赵 钱 孙 李 周 吴 郑 王 冯 陈; do
    for given in 明 华 芳; do names+=("$surname$given"); done
done
make_roster "$roster" "${names[@]}"
open_panel_menu || die "the panel's menu did not open a second time"
xdotool key m
if wait_until 10 has_dialog; then
    DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
    pass "导入名单 from the panel's menu opens a file dialog ('$(window_name "$DIALOG")')"
    choose_file "$DIALOG" "$roster"
    thirty() { [ "$(sql "$dir/cs.db" 'select count(*) from cs')" = 30 ]; }
    wait_until 5 thirty
    expect_eq "cs.db holds exactly the 30 names of the file" "$(printf '%s\n' "${names[@]}" | sort)" \
        "$(sql "$dir/cs.db" 'select xm from cs' | sort)"
    sleep 1
    expect_eq "the item ran once: no second dialog" "" "$(dialogs_of "$APP_PID")"
else
    fail "导入名单 from the panel's menu opened no file dialog"
fi

# --- 显示大转盘(&S) while folded -------------------------------------------------------
if wait_until 20 folded; then
    open_panel_menu || { shot no-menu; die "the panel's menu did not open over the badge"; }
    xdotool key s
    check "显示大转盘 brings the draw window back and hides the badge" wait_until 5 unfolded
else
    fail "the draw window did not fold into the badge"
fi

# --- the panel restarts ------------------------------------------------------------
stop_pid "$PANEL_PID"
e2e_start_panel
if wait_until 15 sni_item_of "$APP_PID" >/dev/null; then
    pass "the icon is registered again with the restarted panel ($(sni_item_of "$APP_PID"))"
else
    fail "the icon did not come back after the panel was restarted"
fi
TRAY=$(panel_tray) || die "the restarted panel shows no status tray"
check "the restarted panel draws the icon" wait_until 10 amber

# --- 关闭(&C) ------------------------------------------------------------------------
open_panel_menu || die "the panel's menu did not open after the panel's restart"
xdotool key c
expect_exit 关闭
gone() { ! sni_items | grep -q "^$ITEM/"; }
check "the item has left the panel" wait_until 5 gone

finish

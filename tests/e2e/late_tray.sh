#!/usr/bin/env bash
# A panel that starts after the program, as one does when the program starts
# with the session: first an X tray (trayer, no session bus), then an
# indicator panel (xfce4-panel on a session bus). Until the panel is there the
# menu opens in the draw window; once it is, the icon shows there.
#   late_tray.sh PATH/TO/namewheel
. "$(dirname "$0")/lib.sh"
e2e_require trayer xfce4-panel dbus-daemon gdbus
e2e_init "$@"
start_desktop

# start_program: a fresh folder and roster; WIN is the draw window.
start_program() {
    local dir
    dir=$(e2e_app_dir "$1")
    make_roster "$dir/名单.txt" 张伟 王芳 李娜
    start_app "$dir"
    wait_draw_window
}

# window_menu: right-clicks the draw window, made sure to show first (it folds
# ten seconds after it was brought up, and a right-click on the bare desktop
# opens the window manager's menu); prints the new popup, if any. Fails when
# the window did not come up. (An icon docked in an X tray is a popup-like
# window of the program too.)
window_menu() {
    local g before
    before=" $(popups_of "$APP_PID" | tr '\n' ' ') "
    show_draw_window || return 1
    new_popup() {
        local w
        for w in $(popups_of "$APP_PID"); do
            case "$before" in *" $w "*) ;; *) echo "$w"; return 0 ;; esac
        done
        return 1
    }
    g=($(geometry "$WIN"))
    click_at $((g[0] + 100)) $((g[1] + 60)) 3 || return 1
    wait_until 3 new_popup >/dev/null && new_popup
    return 0
}

# expect_window_menu WHEN: a right-click in the draw window opens the menu.
expect_window_menu() {
    local menu
    menu=$(window_menu)
    if [ -n "$menu" ]; then
        pass "$1, a right-click in the draw window opens the menu"
        xdotool key Escape
        wait_until 5 is_unmapped "$menu"
    else
        fail "$1, a right-click in the draw window opened no menu"
    fi
}

# expect_no_window_menu: a right-click in the draw window opens nothing.
expect_no_window_menu() {
    local menu
    if menu=$(window_menu); then
        expect_eq "now a right-click in the draw window opens nothing" "" "$menu"
    else
        fail "the draw window did not come up for a right-click"
    fi
}

close_by_menu_key() {
    menu_key c || fail "$1: the menu stayed open on the key c"
    expect_exit "$1: 关闭"
}

# --- an X tray -------------------------------------------------------------------
start_program xembed
expect_window_menu "with no tray yet"
start_tray
if wait_until 15 tray_icon "$APP_PID" >/dev/null; then
    pass "the icon docks in trayer, started after the program (window $(tray_icon "$APP_PID"))"
else
    die "the icon never docked in the trayer that started after the program"
fi
expect_no_window_menu
open_tray_menu 15 15 || die "a right-click on the icon in trayer opened no menu"
pass "a right-click on the icon opens the menu"
close_by_menu_key "X tray"
stop_tray

# --- an indicator panel ------------------------------------------------------------
e2e_start_bus
start_program indicator
expect_window_menu "with a session bus but no panel yet"
e2e_start_panel
if wait_item 20; then
    pass "the icon is registered with the panel that started after the program ($ITEM)"
else
    die "the program registered no item with the panel that started after it"
fi
expect_eq "its menu is exported" "显示大转盘(_S)" "$(sni_menu_labels "$ITEM" | head -n 1)"
expect_no_window_menu
open_panel_menu || die "a right-click on the icon in the panel opened no menu"
pass "a right-click on the icon opens the panel's menu"
shot menu "$(geometry "$MENU" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1, $2 }')"
close_by_menu_key "indicator panel"

finish

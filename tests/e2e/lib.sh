# The end-to-end tests' own helpers, over the shared desktop helpers in
# scripts/desktop.sh: the program copied into a fresh folder, its windows, its
# tray menu, the indicator panel and the pictures the tests look at. Sourced
# by the test scripts:
#
#   . "$(dirname "$0")/lib.sh"
#   e2e_require              # skips (77) where no X desktop can run
#   e2e_init "$@"            # the executable is the first argument
#   start_desktop tray       # Xvfb + openbox (+ trayer)
#   dir=$(e2e_app_dir first) # a fresh folder with a copy of the executable
#   start_app "$dir"         # APP_PID
#   ...
#   finish                   # prints the summary, exits 1 on any failure
# shellcheck shell=bash

. "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/desktop.sh"

BUS_PID=""
XFCONF_PID=""
PANEL_PID=""
WIN=""
BADGE=""
FRAME=""
# "PID MILLISECONDS": when the test last brought the program's draw window up.
DRAW_WINDOW_UP=""

# --- set-up --------------------------------------------------------------------

# Ends the test with code 77 (skipped) when the desktop cannot be run here at
# all; any other missing tool is a failure.
e2e_require() {
    local tool missing=""
    for tool in Xvfb openbox xdotool; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    [ -z "$missing" ] || skip "not installed:$missing"
    missing=""
    for tool in "$@" xwininfo xprop sqlite3 import convert compare display; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    [ -z "$missing" ] || die "not installed:$missing"
}

# NAMEWHEEL_EXE, when set, is the program to test instead of the argument (the
# unpacked portable program, say). E2E_SHOTS=folder keeps screenshots there.
e2e_init() {
    [ $# -ge 1 ] || [ -n "${NAMEWHEEL_EXE:-}" ] || die "usage: $0 PATH/TO/namewheel"
    E2E_EXE=${NAMEWHEEL_EXE:-$1}
    [ -x "$E2E_EXE" ] || die "no executable at '$E2E_EXE'"
    E2E_EXE=$(cd "$(dirname "$E2E_EXE")" && pwd)/$(basename "$E2E_EXE")
    if [ -n "${E2E_SHOTS:-}" ]; then
        mkdir -p "$E2E_SHOTS" || die "cannot create E2E_SHOTS folder '$E2E_SHOTS'"
        E2E_SHOTS=$(cd "$E2E_SHOTS" && pwd)
    fi
    desktop_init
    private_session
}

# A fresh folder holding a copy of the executable; prints its path.
e2e_app_dir() {
    local dir=$TEST_TMP/${1:-app}
    mkdir -p "$dir" || die "cannot create $dir"
    cp "$E2E_EXE" "$dir/namewheel" || die "cannot copy the executable into $dir"
    # The portable program finds its libraries and plugins beside itself.
    local part home=${E2E_EXE%/*}
    for part in lib plugins qt.conf translations; do
        [ -e "$home/$part" ] && ln -s "$home/$part" "$dir/$part"
    done
    echo "$dir"
}

# make_store DB: a store made by the sqlite3 shell, with counts that are not 0.
make_store() {
    sql "$1" "create table cs(xm char(20),c int);
    insert into cs values ('张伟', 2), ('王芳', 0), ('李娜', 5);" || die "cannot make $1"
}

# make_roster FILE NAME...: a UTF-8 roster, one name a line.
make_roster() {
    local file=$1
    shift
    printf '%s\n' "$@" >"$file"
}

# --- the indicator panel ----------------------------------------------------------

# A private session bus (the tests otherwise run without one): panels that
# host StatusNotifierItems, and the program's icon for them, meet on it.
e2e_start_bus() {
    local file=$TEST_TMP/bus-address
    : >"$file"
    dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$file" >"$TEST_TMP/dbus.log" 2>&1 &
    BUS_PID=$!
    BACKGROUND_PIDS+=("$BUS_PID")
    wait_until 10 test -s "$file" || die "dbus-daemon did not start (see $TEST_TMP/dbus.log)"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$file")
    export DBUS_SESSION_BUS_ADDRESS
}

bus_has() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'; }

# An indicator panel: xfce4-panel with its status tray alone, along the top of
# the screen. Its tray hosts StatusNotifierItems (and X tray icons too).
e2e_start_panel() {
    local conf=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p "$conf"
    cat >"$conf/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
XML
    if [ -z "$XFCONF_PID" ]; then
        local xfconfd
        xfconfd=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -n 1)
        [ -n "$xfconfd" ] || die "xfconfd is not installed (package xfconf)"
        background "$TEST_TMP/xfconfd.log" "$xfconfd"
        XFCONF_PID=$BG_PID
        wait_until 15 bus_has org.xfce.Xfconf || die "xfconfd did not start (see $TEST_TMP/xfconfd.log)"
    fi
    background "$TEST_TMP/panel.log" xfce4-panel --disable-wm-check
    PANEL_PID=$BG_PID
    wait_until 30 bus_has org.kde.StatusNotifierWatcher ||
        die "xfce4-panel's tray did not take org.kde.StatusNotifierWatcher (see $TEST_TMP/panel.log)"
}

# The window of the panel's status tray, embedded in the panel (the plugin
# runs in a process of its own, whose menus have the same class).
panel_tray() {
    local w g
    for w in $(xdotool search --all --onlyvisible --class '^wrapper-2\.0$' 2>/dev/null); do
        override_redirect "$w" && continue
        g=($(geometry "$w"))
        [ ${#g[@]} -eq 4 ] && [ "${g[1]}" -ge 0 ] && [ "${g[2]}" -gt 10 ] && { echo "$w"; return 0; }
    done
    return 1
}

# The items registered with the panel's watcher, one "bus-name/path" a line.
sni_items() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems \
        2>/dev/null | grep -o "'[^']*'" | tr -d "'"
}

# sni_item_of PID: the bus name of the process's registered item.
sni_item_of() {
    local item name pid
    for item in $(sni_items); do
        name=${item%%/*}
        pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path / \
            --method org.freedesktop.DBus.GetConnectionUnixProcessID "$name" 2>/dev/null | grep -o '[0-9]\+' | tail -n 1)
        [ "$pid" = "$1" ] && { echo "$name"; return 0; }
    done
    return 1
}

# wait_item SECONDS: waits for the program's item to be registered with the
# panel: ITEM, its bus name.
wait_item() {
    wait_until "$1" sni_item_of "$APP_PID" >/dev/null && ITEM=$(sni_item_of "$APP_PID")
}

# sni_property NAME PROPERTY: a property of the item at /StatusNotifierItem.
sni_property() {
    gdbus call --session --dest "$1" --object-path /StatusNotifierItem \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$2" 2>/dev/null
}

# sni_menu_labels NAME: the labels of the menu the item exports, one a line,
# in their D-Bus form ("_" marks the access key).
sni_menu_labels() {
    local path
    path=$(sni_property "$1" Menu | grep -o "'[^']*'" | tr -d "'")
    [ -n "$path" ] && [ "$path" != /NO_DBUSMENU ] || return 1
    gdbus call --session --dest "$1" --object-path "$path" --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' \
        2>/dev/null | grep -o "'label': <'[^']*'>" | sed "s/^'label': <'//; s/'>\$//"
}

# open_panel_menu: right-clicks the program's icon, the only one in the
# panel's tray, and waits for the menu the panel draws: MENU.
open_panel_menu() {
    local tray owner before g
    MENU=""
    tray=$(panel_tray) || return 1
    owner=$(xprop -id "$tray" _NET_WM_PID 2>/dev/null | awk '{ print $NF }')
    before=" $(popups_of "$owner" | tr '\n' ' ') "
    g=($(geometry "$tray"))
    # GTK also maps a 10 x 10 stub off the screen: a menu is on it. The
    # icon's tooltip is no menu either.
    new_panel_popup() {
        local w p
        for w in $(popups_of "$owner"); do
            case "$before" in *" $w "*) continue ;; esac
            xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_TOOLTIP && continue
            p=($(geometry "$w"))
            [ "${p[0]}" -ge 0 ] && [ "${p[1]}" -ge 0 ] && [ "${p[2]}" -gt 10 ] && { MENU=$w; return 0; }
        done
        return 1
    }
    click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 3 || return 1
    wait_until 5 new_panel_popup && return 0
    note "no menu after the first right-click; trying once more"
    xdotool key Escape
    click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 3 || return 1
    wait_until 5 new_panel_popup
}

# --- the program's windows and its tray menu ------------------------------------------

# The program's draw window, and whether a box or dialog of it is up.
draw_window() { find_window "$APP_PID" '^青枫大转盘'; }
has_dialog() { [ -n "$(dialogs_of "$APP_PID")" ]; }

# wait_draw_window [SECONDS]: waits (15 s unless told) for the draw window to
# appear and be mapped: WIN. Ends the test when it does not.
wait_draw_window() {
    wait_until "${1:-15}" draw_window >/dev/null || die "no draw window appeared ($(tail -n 5 "$APP_LOG" 2>/dev/null))"
    WIN=$(draw_window)
    wait_until "${1:-15}" is_mapped "$WIN" || die "the draw window was never mapped"
}

# wait_placed [SECONDS]: waits (10 s unless told) until the draw window's
# frame (FRAME) is at its corner. A slow start (valgrind, a loaded machine) can
# map the window before it is moved there: a click meant for the button would
# land beside it.
wait_placed() {
    FRAME=$(frame_of "$WIN") || return 1
    wait_until "${1:-10}" frame_at_corner
}

# expect_placed SECONDS: the draw window's frame (FRAME) comes to the corner
# within SECONDS, its client area is 474 x 151; a screenshot of it.
expect_placed() {
    local wg
    FRAME=$(frame_of "$WIN") || die "no frame window above the draw window"
    check "the draw window shows at the bottom right corner ($(geometry "$FRAME" | tr ' ' ,))" wait_until "$1" frame_at_corner
    wg=($(geometry "$WIN"))
    expect_eq "its client area is 474 x 151" "474 151" "${wg[2]} ${wg[3]}"
    shot window "$(geometry "$FRAME" | awk '{ printf "%dx%d+%d+%d", $3 + 40, $4 + 40, $1 - 20, $2 - 20 }')"
}

# spin_once W: a press that starts a spin, a short spin, the stopping press.
# The press brings the window up (DRAW_WINDOW_UP, see show_draw_window).
spin_once() {
    DRAW_WINDOW_UP="$APP_PID $(now_ms)"
    click_in "$1" 240 127 && sleep 0.2 && click_in "$1" 240 127
}

# The draw window's frame (FRAME) ends at the right edge, 50 px above the bottom.
frame_at_corner() {
    local g
    g=($(geometry "$FRAME"))
    [ ${#g[@]} -eq 4 ] && [ $((g[0] + g[2])) -eq 1920 ] && [ $((g[1] + g[3])) -eq 1030 ]
}

# Folded: the badge (BADGE) shows and the draw window (WIN) does not; and back.
folded() { BADGE=$(find_badge "$APP_PID") && is_mapped "$BADGE" && is_unmapped "$WIN"; }
unfolded() { is_mapped "$WIN" && is_unmapped "$BADGE"; }

# The window's ICCCM state: Normal, Iconic (minimised, as a panel's minimise or
# "show desktop" leaves it), or nothing once withdrawn.
icccm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/^[[:space:]]*window state: //p'; }
iconic() { [ "$(icccm_state "$1")" = Iconic ]; }
not_iconic() { ! iconic "$1"; }

# minimise_until_folded SECONDS: minimises the draw window (WIN) whenever a
# tick has brought it back, until the fold, so that the fold finds it
# minimised. RESTORES counts the ticks that brought it back, FOCUS_TAKEN those
# of them that moved the focus from the window that had it at the start;
# MINIMISED_AT_FOLD is yes when it was minimised as the badge came.
minimise_until_folded() {
    local end=$(($(now_ms) + $1 * 1000)) seen=unknown focus
    RESTORES=0
    FOCUS_TAKEN=0
    MINIMISED_AT_FOLD=no
    focus=$(xdotool getwindowfocus 2>/dev/null)
    # One X request a round, and almost no pause: on a loaded machine each
    # request takes a while, and the window must be minimised again between
    # the last tick of the showing period and the fold.
    while [ "$(now_ms)" -lt "$end" ]; do
        case $(icccm_state "$WIN") in
        Normal)
            if [ "$seen" = iconic ]; then
                RESTORES=$((RESTORES + 1))
                # A window manager that gives the restored window the focus
                # does so as it maps it.
                [ "$(xdotool getwindowfocus 2>/dev/null)" = "$focus" ] || FOCUS_TAKEN=$((FOCUS_TAKEN + 1))
            fi
            seen=shown
            xdotool windowminimize "$WIN" 2>/dev/null
            [ "$(icccm_state "$WIN")" = Iconic ] && seen=iconic
            ;;
        Iconic) seen=iconic ;;
        *)
            if folded; then
                [ "$seen" = iconic ] && MINIMISED_AT_FOLD=yes
                return 0
            fi
            ;;
        esac
        sleep 0.05
    done
    return 1
}

# show_draw_window [SECONDS]: makes sure the draw window shows at its corner
# (FRAME) for the click that follows. Ten seconds after it was last brought up
# (the start, a press on its button, a click on the badge, 显示大转盘) the
# program folds it into the badge (nine at the earliest, when a tick that came
# late is followed by one on time), and a click read from the screen a moment
# before lands on whatever is below. A window that the test brought up less
# than five seconds ago is left as it is (the click should follow at once);
# any other is brought up again as a user does, by a click on the badge, once
# it has folded. SECONDS (10 unless told) for each wait.
show_draw_window() {
    local limit=${1:-10} since=${APP_STARTED:-0} g
    [ "${DRAW_WINDOW_UP%% *}" = "$APP_PID" ] && [ "${DRAW_WINDOW_UP#* }" -gt "$since" ] && since=${DRAW_WINDOW_UP#* }
    is_mapped "$WIN" && wait_placed "$limit" && [ $(($(now_ms) - since)) -lt 5000 ] && return 0
    wait_until $((limit + 12)) folded || return 1
    DRAW_WINDOW_UP="$APP_PID $(now_ms)"
    g=($(geometry "$BADGE"))
    [ ${#g[@]} -eq 4 ] || return 1
    click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) || return 1
    wait_until "$limit" unfolded && wait_placed "$limit"
}

# close_draw_window [SECONDS]: closes the draw window the way a user does (the
# window manager's close command) and expects the program to end with 0.
close_draw_window() {
    xdotool windowactivate --sync "$WIN" >/dev/null 2>&1
    xdotool key --clearmodifiers alt+F4
    expect_exit "closing the draw window" "${1:-10}"
}

# choose_file DIALOG FILE [SECONDS]: types the file's path into the open-file
# dialog and presses Enter; PASS when the dialog closes.
choose_file() {
    type_into "$1" "$2"
    key_into "$1" Return
    check "the dialog closes on Enter" wait_until "${3:-5}" is_unmapped "$1"
}

# The program's icon docked in trayer: a window of PID inside trayer's panel.
tray_icon() {
    local panel w
    panel=$(tray_panel) || return 1
    for w in $(xwininfo -tree -id "$panel" 2>/dev/null | awk '$1 ~ /^0x/ { print $1 }'); do
        if xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -q "= $1\$"; then
            echo "$w"
            return 0
        fi
    done
    return 1
}

# tray_icon_shown PID: the program's icon is docked and shown (ICON): one the
# tray has only just taken in is not mapped yet, and a click there goes to
# the tray.
tray_icon_shown() {
    ICON=$(tray_icon "$1") && is_mapped "$ICON"
}

# open_tray_menu [ICON_WAIT] [MENU_WAIT]: waits up to ICON_WAIT seconds for the
# program's tray icon to be shown (ICON), right-clicks it and waits up to
# MENU_WAIT seconds for a new popup window (MENU). On a loaded machine the
# click can land while the icon is still busy with a box that just closed: it
# tries once more, on the icon as it is then.
open_tray_menu() {
    local icon_wait=${1:-10} menu_wait=${2:-5} before g attempt
    MENU=""
    new_popup() {
        local w
        for w in $(popups_of "$APP_PID"); do
            case "$before" in *" $w "*) ;; *) MENU=$w; return 0 ;; esac
        done
        return 1
    }
    for attempt in 1 2; do
        if [ "$attempt" = 2 ]; then
            note "no menu after the first right-click; trying once more"
            xdotool key Escape
        fi
        wait_until "$icon_wait" tray_icon_shown "$APP_PID" || return 1
        before=" $(popups_of "$APP_PID" | tr '\n' ' ') "
        g=($(geometry "$ICON"))
        [ ${#g[@]} -eq 4 ] && click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 3 &&
            wait_until "$menu_wait" new_popup && return 0
    done
    return 1
}

# menu_key KEY: presses KEY in the open menu (MENU) and waits for the menu to
# close on it. A key pressed before a menu that has just appeared holds the
# keyboard goes elsewhere: it is pressed again while the menu stays open.
menu_key() {
    local attempt
    for attempt in 1 2 3; do
        xdotool key "$1"
        wait_until 10 is_unmapped "$MENU" && return 0
        note "the menu is still open after the key $1 ($attempt)"
    done
    return 1
}

# menu_command KEY [ICON_WAIT MENU_WAIT [SETTLE]]: opens the tray menu (as
# open_tray_menu) and picks the item with that access key, SETTLE seconds
# after the menu is up; three tries.
menu_command() {
    local i
    for i in 1 2 3; do
        open_tray_menu "${2:-10}" "${3:-5}" && { sleep "${4:-0}"; menu_key "$1"; return; }
        xdotool key Escape
    done
    return 1
}

# --- pictures ------------------------------------------------------------------

# shot NAME [GEOMETRY]: a screenshot of the whole screen into $E2E_SHOTS when
# that is set; with a geometry ("WxH+X+Y") also a cut-out NAME-crop.png.
shot() {
    [ -n "${E2E_SHOTS:-}" ] || return 0
    import -window root "$E2E_SHOTS/$TEST_NAME-$1.png" 2>/dev/null || {
        note "screenshot $1 failed"
        return 0
    }
    [ -n "${2:-}" ] && convert "$E2E_SHOTS/$TEST_NAME-$1.png" -crop "$2" +repage "$E2E_SHOTS/$TEST_NAME-$1-crop.png"
    note "screenshot $E2E_SHOTS/$TEST_NAME-$1.png"
    return 0
}

# desktop_colour COLOUR: paints the root window, so that what shows through a
# window's holes can be told from black.
desktop_colour() {
    convert -size 1920x1080 "xc:$1" "$TEST_TMP/desktop.png" && display -window root "$TEST_TMP/desktop.png" 2>/dev/null
    [ "$(pixel_at 5 5)" = "$(convert "xc:$1" -depth 8 txt:- | rgb_of_txt)" ]
}

rgb_of_txt() { sed -n 's/^0,0: .*\(#[0-9A-Fa-f]\{6\}\) .*/\1/p' | tr a-f A-F; }

# pixel_at X Y: the screen's colour there, as #RRGGBB.
pixel_at() {
    import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- 2>/dev/null | rgb_of_txt
}

# grab FILE GEOMETRY: a cut-out of the screen as it is now.
grab() {
    import -window root -crop "$2" +repage "$1" 2>/dev/null
}

# The share of pixels of an image that are close to a colour, 0..1.
colour_share() {
    convert "$1" -fuzz 20% -fill black +opaque "$2" -fill white -opaque "$2" \
        -colorspace gray -format '%[fx:mean]' info: 2>/dev/null
}

# End-to-end helpers: a private X server with a window manager (and a tray
# host when asked for), the program started from a temporary folder, and the
# probes the tests look at it with. Sourced by the test scripts:
#
#   . "$(dirname "$0")/lib.sh"
#   e2e_init "$@"            # the executable is the first argument
#   e2e_start_desktop tray   # Xvfb + openbox (+ trayer)
#   dir=$(e2e_app_dir first) # a fresh folder with a copy of the executable
#   e2e_start_app "$dir"     # APP_PID
#   ...
#   e2e_finish               # prints the summary, exits 1 on any failure
#
# Every helper polls with a timeout; nothing waits a fixed long time.

set -u

E2E_FAILS=0
E2E_PASSES=0
E2E_NAME=$(basename "${0%.sh}")
XVFB_PID=""
WM_PID=""
TRAY_PID=""
BUS_PID=""
XFCONF_PID=""
PANEL_PID=""
MUTTER_PID=""
APP_PID=""
APP_RC=""
APP_LOG=""

# --- results -----------------------------------------------------------------

pass() { E2E_PASSES=$((E2E_PASSES + 1)); echo "PASS: $*"; }
fail() { E2E_FAILS=$((E2E_FAILS + 1)); echo "FAIL: $*"; }
note() { echo "  ... $*"; }

# check DESCRIPTION COMMAND...: PASS when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# expect_eq DESCRIPTION EXPECTED ACTUAL
expect_eq() {
    if [ "$2" = "$3" ]; then
        pass "$1"
    else
        fail "$1 (expected '$2', got '$3')"
    fi
}

# A failure the rest of the test cannot go on from.
die() {
    fail "$*"
    exit 1
}

e2e_finish() {
    echo "$E2E_NAME: $E2E_PASSES passed, $E2E_FAILS failed"
    [ "$E2E_FAILS" -eq 0 ] || exit 1
    exit 0
}

# --- set-up and tear-down ----------------------------------------------------

# Ends the test with code 77 (skipped) when the desktop cannot be run here at
# all; any other missing tool is a failure.
e2e_require() {
    local tool missing=""
    for tool in Xvfb openbox xdotool; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    if [ -n "$missing" ]; then
        echo "SKIP: not installed:$missing"
        exit 77
    fi
    missing=""
    for tool in "$@" xwininfo xprop sqlite3 import convert compare display; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    [ -z "$missing" ] || die "not installed:$missing"
}

# NAMEWHEEL_EXE, when set, is the program to test instead of the argument (the
# unpacked portable program, say).
e2e_init() {
    [ $# -ge 1 ] || [ -n "${NAMEWHEEL_EXE:-}" ] || die "usage: $0 PATH/TO/namewheel"
    E2E_EXE=${NAMEWHEEL_EXE:-$1}
    [ -x "$E2E_EXE" ] || die "no executable at '$E2E_EXE'"
    E2E_EXE=$(cd "$(dirname "$E2E_EXE")" && pwd)/$(basename "$E2E_EXE")
    E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/namewheel-e2e.XXXXXX") || die "mktemp failed"
    trap e2e_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    if [ -n "${E2E_SHOTS:-}" ]; then
        mkdir -p "$E2E_SHOTS" || die "cannot create E2E_SHOTS folder '$E2E_SHOTS'"
        E2E_SHOTS=$(cd "$E2E_SHOTS" && pwd)
    fi

    # A private, predictable session: no settings of the user running the
    # tests, no D-Bus (the tray icon then uses the X tray protocol), the X
    # platform plugin whatever the caller's environment says.
    mkdir -m 0700 "$E2E_TMP/runtime" "$E2E_TMP/home"
    export XDG_RUNTIME_DIR=$E2E_TMP/runtime
    export HOME=$E2E_TMP/home
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
    export LC_ALL=C.UTF-8
    export QT_QPA_PLATFORM=xcb
    export NO_AT_BRIDGE=1
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
}

# Whether a process runs (an ended child that is not reaped yet does not).
proc_alive() {
    local stat
    [ -n "$1" ] && [ -r "/proc/$1/stat" ] || return 1
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ] && [ "${stat%% *}" != X ]
}

# Stops a background process of ours: TERM, then KILL after 5 s; reaps it.
e2e_stop_pid() {
    local pid=$1 i
    [ -n "$pid" ] || return 0
    if proc_alive "$pid"; then
        kill "$pid" 2>/dev/null
        for i in $(seq 50); do
            proc_alive "$pid" || break
            sleep 0.1
        done
        proc_alive "$pid" && kill -9 "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}

e2e_cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    if [ -n "$APP_PID" ]; then
        if [ "$E2E_FAILS" -gt 0 ] && [ -n "$APP_LOG" ] && [ -s "$APP_LOG" ]; then
            echo "--- program output ($APP_LOG)"
            tail -n 40 "$APP_LOG"
        fi
        e2e_stop_pid "$APP_PID"
    fi
    e2e_stop_pid "$TRAY_PID"
    e2e_stop_pid "$PANEL_PID"
    e2e_stop_pid "$XFCONF_PID"
    e2e_stop_pid "$WM_PID"
    e2e_stop_pid "$XVFB_PID"
    e2e_stop_pid "$MUTTER_PID"
    e2e_stop_pid "$BUS_PID"
    if [ -n "${E2E_KEEP:-}" ]; then
        echo "kept $E2E_TMP"
    else
        rm -rf "$E2E_TMP"
    fi
    exit "$rc"
}

# wait_until SECONDS COMMAND...: polls every 0.1 s; fails when time is up.
wait_until() {
    local limit=$1
    shift
    local end=$(($(now_ms) + limit * 1000))
    while :; do
        "$@" && return 0
        [ "$(now_ms)" -ge "$end" ] && return 1
        sleep 0.1
    done
}

# Milliseconds since the epoch.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# e2e_start_x [WIDTHxHEIGHT]: 1920x1080 unless told.
e2e_start_x() {
    local fd_file=$E2E_TMP/display
    : >"$fd_file"
    Xvfb -displayfd 5 -screen 0 "${1:-1920x1080}x24" -nolisten tcp -noreset 5>"$fd_file" >"$E2E_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 15 test -s "$fd_file" || die "Xvfb did not start (see $E2E_TMP/xvfb.log)"
    export DISPLAY=:$(tr -d '[:space:]' <"$fd_file")
    wait_until 10 xprop -root _NET_SUPPORTED >/dev/null 2>&1 || die "X server $DISPLAY does not answer"
    note "X server on $DISPLAY"
}

wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

e2e_start_wm() {
    openbox --sm-disable >"$E2E_TMP/openbox.log" 2>&1 &
    WM_PID=$!
    wait_until 15 wm_running || die "openbox did not take the screen (see $E2E_TMP/openbox.log)"
}

# trayer's panel window, the host of the docked icons.
tray_panel() {
    [ -n "$TRAY_PID" ] || return 1
    xdotool search --all --pid "$TRAY_PID" --name '^panel$' 2>/dev/null | head -n 1 | grep .
}

e2e_start_tray() {
    trayer --edge bottom --align right --widthtype request --height 32 \
        --SetDockType true --SetPartialStrut true >>"$E2E_TMP/trayer.log" 2>&1 &
    TRAY_PID=$!
    wait_until 15 tray_panel >/dev/null || die "trayer did not show its panel (see $E2E_TMP/trayer.log)"
}

e2e_stop_tray() {
    e2e_stop_pid "$TRAY_PID"
    TRAY_PID=""
}

# A private session bus (the tests otherwise run without one): panels that
# host StatusNotifierItems, and the program's icon for them, meet on it.
e2e_start_bus() {
    local file=$E2E_TMP/bus-address
    : >"$file"
    dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$file" >"$E2E_TMP/dbus.log" 2>&1 &
    BUS_PID=$!
    wait_until 10 test -s "$file" || die "dbus-daemon did not start (see $E2E_TMP/dbus.log)"
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
        "$xfconfd" >>"$E2E_TMP/xfconfd.log" 2>&1 &
        XFCONF_PID=$!
        wait_until 15 bus_has org.xfce.Xfconf || die "xfconfd did not start (see $E2E_TMP/xfconfd.log)"
    fi
    xfce4-panel --disable-wm-check >>"$E2E_TMP/panel.log" 2>&1 &
    PANEL_PID=$!
    wait_until 30 bus_has org.kde.StatusNotifierWatcher ||
        die "xfce4-panel's tray did not take org.kde.StatusNotifierWatcher (see $E2E_TMP/panel.log)"
}

e2e_stop_panel() {
    e2e_stop_pid "$PANEL_PID"
    PANEL_PID=""
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
    # GTK also maps a 10 x 10 stub off the screen: a menu is on it.
    new_panel_popup() {
        local w p
        for w in $(popups_of "$owner"); do
            case "$before" in *" $w "*) continue ;; esac
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

# e2e_start_wayland [no-x11]: a headless Wayland session (mutter, one
# 1920 x 1080 monitor) on a private session bus, with its X server (Xwayland)
# unless told otherwise. Exports WAYLAND_DISPLAY, XDG_SESSION_TYPE and, with
# Xwayland, DISPLAY and XAUTHORITY, as a desktop's session does; the platform
# plugin is left for the program to choose.
e2e_start_wayland() {
    local name=wl-namewheel-$$ x11_flag="" log=$E2E_TMP/mutter.log
    [ "${1:-}" = no-x11 ] && x11_flag=--no-x11
    [ -n "$BUS_PID" ] || e2e_start_bus
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM
    mutter --wayland --headless --virtual-monitor 1920x1080 --wayland-display "$name" $x11_flag >"$log" 2>&1 &
    MUTTER_PID=$!
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

# e2e_start_desktop [tray]
e2e_start_desktop() {
    e2e_start_x
    e2e_start_wm
    [ "${1:-}" = tray ] && e2e_start_tray
    return 0
}

# --- the program -------------------------------------------------------------

# A fresh folder holding a copy of the executable; prints its path.
e2e_app_dir() {
    local dir=$E2E_TMP/${1:-app}
    mkdir -p "$dir" || die "cannot create $dir"
    cp "$E2E_EXE" "$dir/namewheel" || die "cannot copy the executable into $dir"
    # The portable program finds its libraries and plugins beside itself.
    local part home=${E2E_EXE%/*}
    for part in lib plugins qt.conf; do
        [ -e "$home/$part" ] && ln -s "$home/$part" "$dir/$part"
    done
    echo "$dir"
}

e2e_start_app() {
    local dir=$1
    APP_LOG=$dir/program.log
    APP_RC=""
    (cd "$dir" && exec ./namewheel) >>"$APP_LOG" 2>&1 &
    APP_PID=$!
}

app_running() { proc_alive "$APP_PID"; }
app_gone() { ! app_running; }

# Waits until the program has ended by itself; APP_RC is its exit code.
e2e_wait_app_exit() {
    local limit=${1:-10}
    wait_until "$limit" app_gone || return 1
    wait "$APP_PID"
    APP_RC=$?
    APP_PID=""
    return 0
}

e2e_kill_app() {
    e2e_stop_pid "$APP_PID"
    APP_PID=""
}

# --- windows -----------------------------------------------------------------

# find_window PID REGEX: the first window of the process whose name matches.
find_window() {
    xdotool search --all --pid "$1" --name "$2" 2>/dev/null | head -n 1 | grep .
}

# find_visible_window PID REGEX
find_visible_window() {
    xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | head -n 1 | grep .
}

# The program's managed windows that have no title: the badge. The
# override-redirect tray icon and menus are left out.
find_badge() {
    local w
    for w in $(xdotool search --pid "$1" 2>/dev/null); do
        xprop -id "$w" WM_NAME 2>/dev/null | grep -q '= ""$\|= $' || continue
        override_redirect "$w" && continue
        echo "$w"
        return 0
    done
    return 1
}

override_redirect() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }

# The mapped override-redirect windows of a process (menus, popups), one a line.
popups_of() {
    local w
    for w in $(xdotool search --pid "$1" 2>/dev/null); do
        override_redirect "$w" && [ "$(map_state "$w")" = IsViewable ] && echo "$w"
    done
    return 0
}

# The mapped dialog windows of a process.
dialogs_of() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG && echo "$w"
    done
    return 0
}

# IsViewable, IsUnMapped, IsUnviewable; "gone" when the window does not exist.
map_state() {
    local s
    s=$(xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Map State: *//p')
    echo "${s:-gone}"
}

is_mapped() { [ "$(map_state "$1")" = IsViewable ]; }
is_unmapped() { [ "$(map_state "$1")" != IsViewable ]; }

# geometry W: "X Y WIDTH HEIGHT", absolute.
geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { if (w != "") print x, y, w, h }'
}

# The top-level window that holds W: its window manager frame when reparented.
frame_of() {
    local w=$1 parent
    while :; do
        parent=$(xwininfo -tree -id "$w" 2>/dev/null | awk '/Parent window id:/ { print $4 }')
        [ -n "$parent" ] || return 1
        if xwininfo -tree -id "$w" 2>/dev/null | grep -q 'Parent window id:.*(the root window)'; then
            echo "$w"
            return 0
        fi
        w=$parent
    done
}

# outer_rect W: "X Y WIDTH HEIGHT" of the window and the frame the window
# manager declares in _NET_FRAME_EXTENTS (some frame windows also hold
# invisible borders for resizing).
outer_rect() {
    local g e
    g=($(geometry "$1"))
    [ ${#g[@]} -eq 4 ] || return 1
    e=($(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/^_NET_FRAME_EXTENTS(CARDINAL) = //p' | tr -d ,))
    [ ${#e[@]} -eq 4 ] || e=(0 0 0 0)
    echo $((g[0] - e[0])) $((g[1] - e[2])) $((g[2] + e[0] + e[1])) $((g[3] + e[2] + e[3]))
}

# The atoms of _NET_WM_STATE, separated by ", ".
wm_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | sed -n 's/^_NET_WM_STATE(ATOM) = //p'; }

# The five numbers of _MOTIF_WM_HINTS (flags functions decorations ...), decimal.
motif_hints() {
    local h
    h=$(xprop -id "$1" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/^_MOTIF_WM_HINTS([^)]*) = //p' | tr -d ,)
    [ -n "$h" ] || return 1
    for v in $h; do printf '%d ' "$v"; done
    echo
}

# The window's title (UTF-8).
window_name() { xdotool getwindowname "$1" 2>/dev/null; }

# The window under the screen point, as a top-level (frame) window id, decimal.
window_at() {
    local WINDOW=""
    pointer_to "$1" "$2" >/dev/null 2>&1
    eval "$(xdotool getmouselocation --shell 2>/dev/null | grep -E '^WINDOW=')"
    echo "$WINDOW"
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

# How many windows of the program (by class) are docked in trayer's panel.
tray_docked_count() {
    local panel
    panel=$(tray_panel) || { echo 0; return 0; }
    xwininfo -tree -id "$panel" 2>/dev/null | grep -c '("namewheel" "namewheel")'
}

# --- input -------------------------------------------------------------------

# pointer_to X Y: moves the pointer there and waits until it is there.
# (xdotool's --sync waits for a movement: asked to stay where it is, it hangs
# for 15 s, so a pointer that is there already is left alone.)
pointer_to() {
    local X="" Y=""
    eval "$(xdotool getmouselocation --shell 2>/dev/null | grep -E '^[XY]=')"
    [ "$X" = "$1" ] && [ "$Y" = "$2" ] && return 0
    xdotool mousemove --sync "$1" "$2"
}

# click_at X Y [BUTTON]
click_at() {
    pointer_to "$1" "$2" && xdotool click "${3:-1}"
}

# click_in W DX DY [BUTTON]: relative to the window's top-left corner.
click_in() {
    local g
    g=($(geometry "$1"))
    [ ${#g[@]} -eq 4 ] || return 1
    click_at $((g[0] + $2)) $((g[1] + $3)) "${4:-1}"
}

# type_into W TEXT: gives W the keyboard focus, then types.
type_into() {
    xdotool windowfocus --sync "$1" && xdotool type --delay 15 "$2"
}

# key_into W KEY...
key_into() {
    local w=$1
    shift
    xdotool windowfocus --sync "$w" && xdotool key "$@"
}

# --- pictures ------------------------------------------------------------------

# shot NAME [GEOMETRY]: a screenshot of the whole screen into $E2E_SHOTS when
# that is set; with a geometry ("WxH+X+Y") also a cut-out NAME-crop.png.
shot() {
    [ -n "${E2E_SHOTS:-}" ] || return 0
    import -window root "$E2E_SHOTS/$E2E_NAME-$1.png" 2>/dev/null || {
        note "screenshot $1 failed"
        return 0
    }
    [ -n "${2:-}" ] && convert "$E2E_SHOTS/$E2E_NAME-$1.png" -crop "$2" +repage "$E2E_SHOTS/$E2E_NAME-$1-crop.png"
    note "screenshot $E2E_SHOTS/$E2E_NAME-$1.png"
    return 0
}

# desktop_colour COLOUR: paints the root window, so that what shows through a
# window's holes can be told from black.
desktop_colour() {
    convert -size 1920x1080 "xc:$1" "$E2E_TMP/desktop.png" && display -window root "$E2E_TMP/desktop.png" 2>/dev/null
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

# Prints "same" or "different" for two images of one size.
compare_images() {
    local diff
    diff=$(compare -metric AE "$1" "$2" null: 2>&1)
    [ "${diff%% *}" = 0 ] && echo same || echo different
}

# --- the store -------------------------------------------------------------------

# sql DB STATEMENT: runs it with the sqlite3 command-line shell, waiting out a
# lock the program may hold for a moment.
sql() {
    sqlite3 -batch -noheader -cmd '.timeout 3000' "$1" "$2"
}

# make_roster FILE NAME...: a UTF-8 roster, one name a line.
make_roster() {
    local file=$1
    shift
    printf '%s\n' "$@" >"$file"
}

# open_tray_menu [ICON_WAIT] [MENU_WAIT]: waits up to ICON_WAIT seconds for the
# program's tray icon (ICON), right-clicks it and waits up to MENU_WAIT seconds
# for a new popup window (MENU). On a loaded machine the click can land while
# the icon is still busy with a box that just closed: it tries once more.
open_tray_menu() {
    local icon_wait=${1:-10} menu_wait=${2:-5} before g
    MENU=""
    wait_until "$icon_wait" tray_icon "$APP_PID" >/dev/null || return 1
    ICON=$(tray_icon "$APP_PID") || return 1
    before=" $(popups_of "$APP_PID" | tr '\n' ' ') "
    g=($(geometry "$ICON"))
    new_popup() {
        local w
        for w in $(popups_of "$APP_PID"); do
            case "$before" in *" $w "*) ;; *) MENU=$w; return 0 ;; esac
        done
        return 1
    }
    click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 3 || return 1
    wait_until "$menu_wait" new_popup && return 0
    note "no menu after the first right-click; trying once more"
    xdotool key Escape
    click_at $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) 3 || return 1
    wait_until "$menu_wait" new_popup
}

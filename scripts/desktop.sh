# The program driven from outside on a private X desktop: results, waits,
# background processes, an X server with a window manager and a tray, and the
# probes and input that look at windows the way a user's desktop shows them.
# Sourced by the Linux end-to-end tests (tests/e2e/lib.sh), the Wine tests
# (tests/win32/lib.sh) and bench/run:
#
#   . "$top/scripts/desktop.sh"
#   desktop_init            # TEST_TMP; whatever is started is stopped at exit
#   start_desktop tray      # Xvfb + openbox (+ trayer)
#   start_app "$dir"        # ./namewheel in that folder: APP_PID, APP_LOG
#   check "..." wait_until 5 is_mapped "$win"
#   finish                  # the summary; exits 1 on any failure
#
# Every helper polls with a timeout; nothing waits a fixed long time.
# shellcheck shell=bash

set -u

PASSES=0
FAILS=0
TEST_NAME=$(basename "${0%.sh}")
TEST_TMP=""
APP_PID=""
APP_RC=""
APP_LOG=""
APP_STARTED=""
XVFB_PID=""
WM_PID=""
TRAY_PID=""
# Background processes, stopped last one first at exit, and functions that
# run before that (a Wine server to end, say).
BACKGROUND_PIDS=()
EXIT_HOOKS=()

# --- results -----------------------------------------------------------------

pass() { PASSES=$((PASSES + 1)); echo "PASS: $*"; }
fail() { FAILS=$((FAILS + 1)); echo "FAIL: $*"; }
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

# Something this machine lacks, which is no fault of the program: the test is
# skipped (ctest's code 77) and says why.
skip() {
    echo "SKIPPED: $*"
    exit 77
}

finish() {
    echo "$TEST_NAME: $PASSES passed, $FAILS failed"
    [ "$FAILS" -eq 0 ] || exit 1
    exit 0
}

# --- processes -----------------------------------------------------------------

# Milliseconds since the epoch.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

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

# Whether a process runs (an ended child that is not reaped yet does not).
proc_alive() {
    local stat
    [ -n "$1" ] && [ -r "/proc/$1/stat" ] || return 1
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ] && [ "${stat%% *}" != X ]
}

# Stops a background process of ours: TERM, then KILL after 5 s; reaps it.
stop_pid() {
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

# background LOG COMMAND...: starts it with its output in LOG; BG_PID. It is
# stopped at exit unless stopped before.
background() {
    local log=$1
    shift
    "$@" >>"$log" 2>&1 &
    BG_PID=$!
    BACKGROUND_PIDS+=("$BG_PID")
}

# A temporary folder (TEST_TMP) and the traps that stop what the test started
# and remove the folder (TEST_KEEP=1 keeps it).
desktop_init() {
    TEST_TMP=$(mktemp -d "${TMPDIR:-/tmp}/namewheel-$TEST_NAME.XXXXXX") || die "mktemp failed"
    trap desktop_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# A private, predictable session: no settings of the user running the tests,
# no D-Bus (a tray icon then uses the X tray protocol), the X platform plugin
# whatever the caller's environment says, no scaling.
private_session() {
    mkdir -m 0700 "$TEST_TMP/runtime" "$TEST_TMP/home"
    export XDG_RUNTIME_DIR=$TEST_TMP/runtime
    export HOME=$TEST_TMP/home
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
    export LC_ALL=C.UTF-8
    export QT_QPA_PLATFORM=xcb
    export NO_AT_BRIDGE=1
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
}

desktop_cleanup() {
    local rc=$? hook i
    trap - EXIT INT TERM
    set +e
    for hook in "${EXIT_HOOKS[@]}"; do "$hook"; done
    if [ -n "$APP_PID" ]; then
        if [ "$FAILS" -gt 0 ] && [ -n "$APP_LOG" ] && [ -s "$APP_LOG" ]; then
            echo "--- program output ($APP_LOG)"
            tail -n 40 "$APP_LOG"
        fi
        stop_pid "$APP_PID"
    fi
    for ((i = ${#BACKGROUND_PIDS[@]} - 1; i >= 0; i--)); do
        stop_pid "${BACKGROUND_PIDS[i]}"
    done
    if [ -n "${TEST_KEEP:-}" ]; then
        echo "kept $TEST_TMP"
    elif [ -n "$TEST_TMP" ]; then
        rm -rf "$TEST_TMP"
    fi
    exit "$rc"
}

# --- the desktop ---------------------------------------------------------------

# start_x [WIDTHxHEIGHT]: an X server of our own on a free display, 1920x1080
# unless told.
start_x() {
    local fd_file=$TEST_TMP/display
    : >"$fd_file"
    Xvfb -displayfd 5 -screen 0 "${1:-1920x1080}x24" -nolisten tcp -noreset 5>"$fd_file" >"$TEST_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    BACKGROUND_PIDS+=("$XVFB_PID")
    wait_until 15 test -s "$fd_file" || die "Xvfb did not start (see $TEST_TMP/xvfb.log)"
    export DISPLAY=:$(tr -d '[:space:]' <"$fd_file")
    wait_until 10 xdotool getdisplaygeometry >/dev/null 2>&1 || die "X server $DISPLAY does not answer"
    note "X server on $DISPLAY"
}

wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# start_wm [openbox|mutter|xfwm4|kwin]: the window manager of LXDE and LXQt
# unless told; GNOME's (compositing, as it stacks windows in a Wayland
# session too), Xfce's, KDE's (these two without compositing), each on a
# session bus of its own.
start_wm() {
    local wm=${1:-openbox} log=$TEST_TMP/${1:-openbox}.log
    case $wm in
    openbox) background "$log" openbox --sm-disable ;;
    mutter) background "$log" dbus-run-session -- mutter --x11 --replace --sm-disable ;;
    xfwm4) background "$log" dbus-run-session -- xfwm4 --replace --compositor=off ;;
    kwin)
        # Without this KWin looks for a decoration plugin that is not
        # installed, and may crash and start again while windows come up.
        mkdir -p "$XDG_CONFIG_HOME"
        printf '[org.kde.kdecoration2]\nNoPlugin=true\n' >"$XDG_CONFIG_HOME/kwinrc"
        KWIN_COMPOSE=N QT_QPA_PLATFORM=xcb background "$log" dbus-run-session -- kwin_x11 --replace
        ;;
    *) die "no window manager '$wm'" ;;
    esac
    WM_PID=$BG_PID
    wait_until 30 wm_running || die "$wm did not take the screen (see $log)"
    if [ "$wm" = kwin ]; then
        wait_until 20 wm_settled || die "KWin did not settle: it keeps starting again (see $log)"
    fi
}

# The window manager's check window has been the same for two seconds: one
# that starts again (as KWin does after a crash) puts up a new one.
wm_settled() {
    local first
    first=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null)
    sleep 2
    [ -n "$first" ] && [ "$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null)" = "$first" ] && proc_alive "$WM_PID"
}

# trayer's panel window, the host of the docked icons.
tray_panel() {
    [ -n "$TRAY_PID" ] || return 1
    xdotool search --all --pid "$TRAY_PID" --name '^panel$' 2>/dev/null | head -n 1 | grep .
}

start_tray() {
    background "$TEST_TMP/trayer.log" trayer --edge bottom --align right --widthtype request --height 32 \
        --SetDockType true --SetPartialStrut true
    TRAY_PID=$BG_PID
    wait_until 15 tray_panel >/dev/null || die "trayer did not show its panel (see $TEST_TMP/trayer.log)"
}

stop_tray() {
    stop_pid "$TRAY_PID"
    TRAY_PID=""
}

# start_desktop [tray]
start_desktop() {
    start_x
    start_wm
    [ "${1:-}" = tray ] && start_tray
    return 0
}

# --- the program ----------------------------------------------------------------

# start_app DIR [COMMAND...]: ./namewheel unless told, started in DIR with its
# output in DIR/program.log; APP_PID, and APP_STARTED (milliseconds).
start_app() {
    local dir=$1
    shift
    APP_LOG=$dir/program.log
    APP_RC=""
    [ $# -gt 0 ] || set -- ./namewheel
    APP_STARTED=$(now_ms)
    (cd "$dir" && exec "$@") >>"$APP_LOG" 2>&1 &
    APP_PID=$!
}

app_running() { proc_alive "$APP_PID"; }
app_gone() { ! app_running; }

# wait_app_exit [SECONDS]: waits until the program has ended by itself (10 s
# unless told); APP_RC is its exit code.
wait_app_exit() {
    wait_until "${1:-10}" app_gone || return 1
    wait "$APP_PID"
    APP_RC=$?
    APP_PID=""
    return 0
}

kill_app() {
    stop_pid "$APP_PID"
    APP_PID=""
}

# expect_exit WHAT [SECONDS]: the program ends by itself within SECONDS (10
# unless told), with exit code 0; one still running is stopped.
expect_exit() {
    if wait_app_exit "${2:-10}"; then
        expect_eq "$1 ends the program with exit code 0" 0 "$APP_RC"
    else
        fail "the program is still running ${2:-10} s after $1"
        kill_app
    fi
}

# sql DB STATEMENT: runs it with the sqlite3 command-line shell, waiting out a
# lock the program may hold for a moment.
sql() {
    sqlite3 -batch -noheader -cmd '.timeout 3000' "$1" "$2"
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

# The program's badge: its tool window (the tray icon, the menus and the
# boxes are windows of other kinds).
find_badge() {
    local w
    for w in $(xdotool search --pid "$1" 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q '_NET_WM_WINDOW_TYPE_UTILITY' || continue
        echo "$w"
        return 0
    done
    return 1
}

override_redirect() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; }

# The mapped override-redirect windows of a process (menus, popups), one a
# line. The badge, one too on X11, is left out.
popups_of() {
    local w badge
    badge=$(find_badge "$1")
    for w in $(xdotool search --pid "$1" 2>/dev/null); do
        [ "$w" = "$badge" ] && continue
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
# (Given no window at all, xwininfo would grab the pointer and wait for a click.)
map_state() {
    local s
    [ -n "$1" ] || { echo gone; return 0; }
    s=$(xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Map State: *//p')
    echo "${s:-gone}"
}

is_mapped() { [ "$(map_state "$1")" = IsViewable ]; }
is_unmapped() { [ "$(map_state "$1")" != IsViewable ]; }

# geometry W: "X Y WIDTH HEIGHT", absolute.
geometry() {
    [ -n "$1" ] || return 1
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

# Whether the window manager keeps W above the others.
has_above() { case "$(wm_state "$1")" in *_NET_WM_STATE_ABOVE*) return 0 ;; esac; return 1; }

# The window's title (UTF-8).
window_name() { xdotool getwindowname "$1" 2>/dev/null; }

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

# Shared by the Wine tests: the Wine this machine can run, an X server, a Wine
# prefix cached in the build folder, and small helpers. Source it; then call
# nw_setup BUILD_DIR [BUILD64_DIR].
#
# The program we ship is 32-bit. Where this machine cannot run the 32-bit
# Wine (see scripts/wine-host.sh), the tests run the x86-64 build of the same
# sources under wine64 instead: NW_RUN_DIR is the folder whose namewheel.exe
# and resinfo.exe the tests start, and NW_RUNS says which build that is.
# shellcheck shell=bash
NW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/wine-host.sh
source "$NW_ROOT/scripts/wine-host.sh"
# Results, waits, the X server and the program's start: shared with the Linux
# end-to-end tests.
# shellcheck source=scripts/desktop.sh
source "$NW_ROOT/scripts/desktop.sh"

# nw_dirs [BUILD_DIR [BUILD64_DIR]]: the folders the scripts are given: build,
# the 32-bit program's (build-win32 unless told), and build64, the x86-64
# one's (win64 beside build unless told).
nw_dirs() {
    build=${1:-$NW_ROOT/build-win32}
    build64=${2:-$(dirname "$(cd "$build" 2>/dev/null && pwd || echo "$build")")/win64}
}

# Wine as chosen by nw_setup: the loader and the server.
nw_wine() { "$NW_WINE_LOADER" "$@"; }
nw_wineserver() { "$NW_WINE_SERVER" "$@"; }

# At exit, before the processes are stopped: every program of the prefix ends.
nw_end_wine() {
    if [[ -n ${WINEPREFIX:-} && -n ${NW_WINE_SERVER:-} ]]; then
        nw_wineserver -k >/dev/null 2>&1 || true
    fi
}

# A tool this machine lacks is no fault of the program: the test is skipped,
# and says why (scripts/win32-packages.sh installs them where it can).
nw_require_tools() {
    local tool missing=()
    for tool in Xvfb xdotool sqlite3 iconv localedef file i686-w64-mingw32-objdump; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    ((${#missing[@]} == 0)) ||
        skip "missing tools: ${missing[*]} (scripts/win32-packages.sh could not install them here)"
}

# Chooses the Wine and the build it runs; says which, and why.
nw_choose_wine() {
    local build64=$1
    wine_for_host "$NW_BUILD"
    case $NW_WINE_ARCH in
        win32)
            NW_RUN_DIR=$NW_BUILD
            NW_RUNS="the 32-bit program under the 32-bit Wine"
            ;;
        win64)
            NW_RUN_DIR=$build64
            NW_RUNS="the x86-64 build of the same sources under wine64"
            if [[ ! -f $NW_RUN_DIR/namewheel.exe || ! -f $NW_RUN_DIR/resinfo.exe ]]; then
                NAMEWHEEL_SQLITE_DIR=$NW_BUILD/sqlite bash "$NW_ROOT/scripts/build-win32.sh" --x64 "$NW_RUN_DIR" >"$NW_BUILD/win64-build.log" 2>&1 || {
                    tail -n 20 "$NW_BUILD/win64-build.log"
                    die "the x86-64 Windows build failed"
                }
            fi
            ;;
        *) skip "no Wine runs here: $NW_WINE_WHY" ;;
    esac
    echo "Wine: running $NW_RUNS ($NW_WINE_WHY)"
    export WINEARCH=$NW_WINE_ARCH WINELOADER=$NW_WINE_LOADER WINESERVER=$NW_WINE_SERVER
}

# Chinese (PRC) for Wine: with this locale its ANSI code page is 936. The
# locale is compiled into the cache when the system has not got it.
nw_locale() {
    local cache=$1
    if locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
        { export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
        return
    fi
    if [[ ! -f $cache/locale/zh_CN.UTF-8/LC_CTYPE ]]; then
        mkdir -p "$cache/locale"
        localedef -i zh_CN -f UTF-8 "$cache/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
        [[ -f $cache/locale/zh_CN.UTF-8/LC_CTYPE ]] ||
            skip "cannot make the zh_CN.UTF-8 locale here (the locales package has its sources)"
    fi
    export LOCPATH=$cache/locale
    # The shell itself does not see LOCPATH and would complain.
    { export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
}

# A prefix for the chosen Wine, made once and kept in the build folder: the X11 driver
# unmanaged (no window manager here), Wine's own fonts in C:\windows\Fonts and
# font links to WenQuanYi Micro Hei, so that Chinese text renders.
nw_prefix() {
    local cache=$1
    export WINEPREFIX=$cache/prefix-$WINEARCH
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=-all
    local stamp=$WINEPREFIX/.namewheel-ready
    local version
    version=$(nw_wine --version 2>/dev/null)
    if [[ -f $stamp && $(cat "$stamp") == "$version" ]]; then
        return
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$cache"
    note "making the Wine prefix (once; kept in $WINEPREFIX)"
    nw_wine wineboot -i >/dev/null 2>&1
    nw_wineserver -w
    nw_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$fonts"
    cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
    local face
    for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" SimSun NSimSun; do
        nw_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
    done
    # 新宋体 is not installed: draw it with the linked Chinese face.
    nw_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v '新宋体' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
    nw_wineserver -w
    nw_wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed 2>/dev/null | grep -q 'REG_SZ *N' ||
        die "the Wine prefix was not set up"
    echo "$version" >"$stamp"
}

# nw_dpi DPI: the DPI Wine tells the programs started from now on (LogPixels:
# 96, 120, 144, 192…). Each Wine process reads it once, when it starts; those
# that run already (Wine's own desktop) keep theirs, which a DPI-aware program
# never asks for: no restart of the prefix is needed. The prefix remembers a
# DPI other than 96 until it is set back: a run cut short is put right by the
# next nw_setup.
nw_dpi() {
    local mark=$WINEPREFIX/.namewheel-dpi
    [[ $(cat "$mark" 2>/dev/null || echo 96) == "$1" ]] && return 0
    echo "$1" >"$mark"
    nw_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 ||
        die "cannot set LogPixels to $1"
    [[ $1 == 96 ]] && rm -f "$mark"
    return 0
}

# Everything the tests need: tools, the Wine and its build, cache, locale,
# prefix, a temporary folder (TEST_TMP), an X server of 1280 x 1024, and the
# clean-up at exit.
nw_setup() {
    NW_BUILD=$(cd "$1" && pwd)
    NW_CACHE=$NW_BUILD/wine
    nw_require_tools
    nw_choose_wine "${2:-$(dirname "$NW_BUILD")/win64}"
    desktop_init
    EXIT_HOOKS+=(nw_end_wine)
    start_x 1280x1024
    nw_locale "$NW_CACHE"
    nw_prefix "$NW_CACHE"
    nw_dpi 96
}

# nw_start DIR NAME.exe: the program, started in DIR by the chosen Wine: APP_PID.
nw_start() { start_app "$1" "$NW_WINE_LOADER" "$2"; }

# nw_helper NAME [LIBRARY...]: builds the test helper tests/win32/NAME.cpp
# into TEST_TMP/NAME.exe with the compiler of the program under test.
nw_helper() {
    local name=$1 compiler
    shift
    case $(file -b "$NW_RUN_DIR/namewheel.exe") in
        *x86-64*) compiler=x86_64-w64-mingw32-g++-posix ;;
        *) compiler=i686-w64-mingw32-g++-posix ;;
    esac
    "$compiler" -std=c++20 -O2 -municode -static -s "$NW_ROOT/tests/win32/$name.cpp" "$NW_ROOT/common/text.cpp" \
        -I"$NW_ROOT" -o "$TEST_TMP/$name.exe" "${@/#/-l}" >"$TEST_TMP/$name.log" 2>&1 || {
        cat "$TEST_TMP/$name.log"
        die "cannot build $name.exe with $compiler"
    }
}

# ---- driving the running program ----

# The program's visible windows (X windows of the class Wine gives an .exe).
program_windows() { xdotool search --onlyvisible --classname "^${NW_PROGRAM_CLASS:-namewheel\\.exe}\$" 2>/dev/null || true; }

# The visible window whose title starts with PREFIX, or nothing.
window_titled() {
    local w
    for w in $(program_windows); do
        [[ $(xdotool getwindowname "$w" 2>/dev/null) == "$1"* ]] && { echo "$w"; return 0; }
    done
    return 1
}

# Right-clicks the icon in Wine's own tray window until the menu is up
# (Wine's first popup may close itself at once). Prints the menu's window.
open_wine_tray_menu() {
    local tray before attempt w
    tray=$(xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -n 1)
    [[ -n $tray ]] || return 1
    read -r _ _ _ tray_height < <(geometry "$tray")
    for attempt in 1 2 3 4 5 6; do
        before=$(program_windows | sort)
        # The first icon sits at the left of the tray's one row, under its caption.
        xdotool mousemove --window "$tray" 12 $((tray_height - 14)) click 3
        for _ in $(seq 1 15); do
            sleep 0.1
            w=$(comm -13 <(echo "$before") <(program_windows | sort) | head -n 1)
            if [[ -n $w ]]; then
                sleep 0.4
                # Still there a moment later: it did not close itself.
                if program_windows | grep -qx "$w"; then
                    echo "$w"
                    return 0
                fi
            fi
        done
        note "tray menu not up after right-click $attempt; again" >&2
        xdotool key Escape 2>/dev/null || true
        sleep 0.5
    done
    return 1
}

# Chooses item INDEX (from 0) of the open menu in window w with the mouse:
# eight items of one height between the menu's 3-pixel edges.
choose_item() {
    local w=$1 index=$2 width height item
    read -r _ _ width height < <(geometry "$w")
    item=$(((height - 6) / 8))
    xdotool mousemove --window "$w" $((width / 2)) $((3 + index * item + item / 2)) click 1
}

# Sends a key to window w, once it has the focus.
key_to() {
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key "$2"
}

# Waits until the caption of window w says the last tick was just after a
# fifth one (its seconds end in 1 or 6), up to ten seconds.
after_fifth_tick() {
    local title seconds
    for _ in $(seq 1 100); do
        title=$(xdotool getwindowname "$1" 2>/dev/null)
        seconds=${title##*:}
        seconds=${seconds%)}
        [[ $seconds =~ ^[0-9]+$ ]] && ((10#$seconds % 5 == 1)) && return 0
        sleep 0.1
    done
    return 1
}

# The draw window once it is up (within SECONDS, 30 unless told): MAIN.
wait_main_window() {
    MAIN=
    wait_until "${1:-30}" window_titled '青枫大转盘' >/dev/null && MAIN=$(window_titled '青枫大转盘')
    [[ -n $MAIN ]]
}

# press_button W: a click on the draw window's button, found from the client
# area's place in the outer window.
press_button() {
    local width height border client_top
    read -r _ _ width height < <(geometry "$1")
    border=$(((width - 474) / 2))
    client_top=$((height - 151 - border))
    xdotool mousemove --window "$1" $((border + 200 + 81 / 2)) $((client_top + 111 + 32 / 2)) click 1
}

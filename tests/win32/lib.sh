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

NW_FAILED=0
NW_XVFB_PID=
NW_WINE_PIDS=()

nw_pass() { echo "PASS: $*"; }
nw_fail() {
  echo "FAIL: $*"
  NW_FAILED=1
}
nw_note() { echo "  ... $*"; }

# Waits until the command succeeds, up to SECONDS (tenths of a second between tries).
nw_wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  while ((tries-- > 0)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Wine as chosen by nw_setup: the loader and the server.
nw_wine() { "$NW_WINE_LOADER" "$@"; }
nw_wineserver() { "$NW_WINE_SERVER" "$@"; }

nw_cleanup() {
  local pid
  if [[ -n ${WINEPREFIX:-} && -n ${NW_WINE_SERVER:-} ]]; then
    nw_wineserver -k >/dev/null 2>&1 || true
  fi
  for pid in "${NW_WINE_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [[ -n $NW_XVFB_PID ]]; then
    kill "$NW_XVFB_PID" 2>/dev/null || true
    wait "$NW_XVFB_PID" 2>/dev/null || true
    NW_XVFB_PID=
  fi
}

# A tool this machine lacks is no fault of the program: the test is skipped,
# and says why (scripts/win32-packages.sh installs them where it can).
nw_require_tools() {
  local tool missing=()
  for tool in Xvfb xdotool sqlite3 iconv localedef file i686-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    echo "SKIPPED: missing tools: ${missing[*]} (scripts/win32-packages.sh could not install them here)"
    exit 77
  fi
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
          echo "FAIL: the x86-64 Windows build failed:"
          tail -n 20 "$NW_BUILD/win64-build.log"
          exit 1
        }
      fi
      ;;
    *)
      echo "SKIPPED: no Wine runs here: $NW_WINE_WHY"
      exit 77
      ;;
  esac
  echo "Wine: running $NW_RUNS ($NW_WINE_WHY)"
  export WINEARCH=$NW_WINE_ARCH WINELOADER=$NW_WINE_LOADER WINESERVER=$NW_WINE_SERVER
}

# An X server of its own, on a free display number.
nw_start_xvfb() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
  NW_XVFB_PID=$!
  if ! nw_wait_for 10 test -s "$fd_file"; then
    rm -f "$fd_file"
    echo "FAIL: Xvfb did not start"
    exit 1
  fi
  export DISPLAY=":$(head -n 1 "$fd_file")"
  rm -f "$fd_file"
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
    [[ -f $cache/locale/zh_CN.UTF-8/LC_CTYPE ]] || {
      echo "SKIPPED: cannot make the zh_CN.UTF-8 locale here (the locales package has its sources)"
      exit 77
    }
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
  nw_note "making the Wine prefix (once; kept in $WINEPREFIX)"
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
  if ! nw_wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed 2>/dev/null | grep -q 'REG_SZ *N'; then
    echo "FAIL: the Wine prefix was not set up"
    exit 1
  fi
  echo "$version" >"$stamp"
}

# Everything the tests need: tools, the Wine and its build, cache, locale,
# prefix, X server, trap.
nw_setup() {
  NW_BUILD=$(cd "$1" && pwd)
  NW_CACHE=$NW_BUILD/wine
  nw_require_tools
  nw_choose_wine "${2:-$(dirname "$NW_BUILD")/win64}"
  trap nw_cleanup EXIT
  nw_start_xvfb
  nw_locale "$NW_CACHE"
  nw_prefix "$NW_CACHE"
}

# The visible X windows whose title is exactly NAME.
nw_windows_named() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true
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

# "left top width height" of a window.
geometry_of() {
  xdotool getwindowgeometry --shell "$1" 2>/dev/null |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

# Right-clicks the icon in Wine's own tray window until the menu is up
# (Wine's first popup may close itself at once). Prints the menu's window.
open_tray_menu() {
  local tray before attempt w
  tray=$(xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -n 1)
  [[ -n $tray ]] || return 1
  read -r _ _ _ tray_height < <(geometry_of "$tray")
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
    nw_note "tray menu not up after right-click $attempt; again" >&2
    xdotool key Escape 2>/dev/null || true
    sleep 0.5
  done
  return 1
}

# Chooses item INDEX (from 0) of the open menu in window w with the mouse:
# eight items of one height between the menu's 3-pixel edges.
choose_item() {
  local w=$1 index=$2 width height item
  read -r _ _ width height < <(geometry_of "$w")
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

# Waits up to SECONDS for the background program PID to end: code is its exit code.
ended_with() {
  local pid=$1 seconds=$2
  for _ in $(seq 1 $((seconds * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      code=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

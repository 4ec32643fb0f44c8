# Shared by the Wine tests: an X server, a win32 Wine prefix cached in the
# build folder, and small helpers. Source it; then call nw_setup BUILD_DIR.
# shellcheck shell=bash

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

nw_cleanup() {
  local pid
  if [[ -n ${WINEPREFIX:-} ]]; then
    wineserver -k >/dev/null 2>&1 || true
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

nw_require_tools() {
  local tool missing=()
  for tool in wine wineboot wineserver Xvfb xdotool sqlite3 iconv localedef file "${NW_MINGW:-i686-w64-mingw32}-objdump"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    echo "FAIL: missing tools: ${missing[*]} (scripts/win32-packages.sh installs them)"
    exit 1
  fi
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
      echo "FAIL: cannot make the zh_CN.UTF-8 locale (the locales package has its sources)"
      exit 1
    }
  fi
  export LOCPATH=$cache/locale
  # The shell itself does not see LOCPATH and would complain.
  { export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
}

# A win32 prefix, made once and kept in the build folder: the X11 driver
# unmanaged (no window manager here), Wine's own fonts in C:\windows\Fonts and
# font links to WenQuanYi Micro Hei, so that Chinese text renders.
nw_prefix() {
  local cache=$1
  export WINEARCH=win32
  export WINEPREFIX=$cache/prefix
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEDEBUG=-all
  local stamp=$WINEPREFIX/.namewheel-ready
  local version
  version=$(wine --version 2>/dev/null)
  if [[ -f $stamp && $(cat "$stamp") == "$version" ]]; then
    return
  fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$cache"
  nw_note "making the Wine prefix (once; kept in $WINEPREFIX)"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
  local face
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" SimSun NSimSun; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  done
  # 新宋体 is not installed: draw it with the linked Chinese face.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v '新宋体' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  wineserver -w
  if ! wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed 2>/dev/null | grep -q 'REG_SZ *N'; then
    echo "FAIL: the Wine prefix was not set up"
    exit 1
  fi
  echo "$version" >"$stamp"
}

# Everything the tests need: tools, cache, locale, prefix, X server, trap.
nw_setup() {
  NW_BUILD=$(cd "$1" && pwd)
  NW_CACHE=$NW_BUILD/wine
  nw_require_tools
  trap nw_cleanup EXIT
  nw_start_xvfb
  nw_locale "$NW_CACHE"
  nw_prefix "$NW_CACHE"
}

# The visible X windows whose title is exactly NAME.
nw_windows_named() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true
}

# Which Wine this machine can run the Windows program under (sourced, not run).
#
# Some machines run x86-64 code only: no 32-bit program starts there, and so
# neither does the 32-bit Wine. On others the 32-bit Wine cannot be installed
# (its i386 libraries must match the amd64 ones to the version, and a mirror
# may lag). There the x86-64 build of the same sources runs under wine64.

# True when this machine runs 32-bit x86 programs: writes a 96-byte i386
# program that does nothing but exit with 42, into DIR (default $TMPDIR or
# /tmp), and runs it.
host_runs_i386() {
  local dir=${1:-${TMPDIR:-/tmp}} probe status
  probe=$(mktemp "$dir/i386-probe.XXXXXX") || return 1
  # ELF header, one loadable segment, then: mov eax,1; mov ebx,42; int 0x80.
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# Sets NW_WINE_ARCH (win32, win64, or none when no Wine runs here),
# NW_WINE_LOADER and NW_WINE_SERVER (the Wine to run programs with) and
# NW_WINE_WHY (one line saying why that one). DIR as for host_runs_i386.
wine_for_host() {
  NW_WINE_LOADER=/usr/lib/wine/wine64
  NW_WINE_SERVER=/usr/lib/wine/wineserver64
  NW_WINE_ARCH=win64
  local has_wine64=yes
  [ -x "$NW_WINE_LOADER" ] && "$NW_WINE_SERVER" --version >/dev/null 2>&1 || has_wine64=no
  if ! host_runs_i386 "$@"; then
    NW_WINE_WHY="this machine runs no 32-bit code"
  elif [ ! -x /usr/lib/wine/wine ] || [ ! -x /usr/lib/wine/wineserver32 ]; then
    NW_WINE_WHY="the 32-bit Wine (wine32:i386) is not installed; scripts/win32-packages.sh could not install it here"
  elif ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
    NW_WINE_WHY="the 32-bit Wine is installed but does not start"
  else
    NW_WINE_LOADER=/usr/lib/wine/wine
    NW_WINE_SERVER=/usr/lib/wine/wineserver32
    NW_WINE_ARCH=win32
    NW_WINE_WHY="this machine runs 32-bit code and has the 32-bit Wine"
    return 0
  fi
  if [ $has_wine64 = no ]; then
    NW_WINE_ARCH=none
    NW_WINE_WHY="$NW_WINE_WHY, and the 64-bit Wine (wine64) is not installed or does not start"
  fi
}

#!/bin/bash
# The Windows program's boxes under Wine, and ending it at awkward moments:
# the error report (the title as caption, the stop icon, the period rule) with
# a title lower-cased beyond A to Z; the tray menu while that start-up box
# waits; the notice 请选导入名单; 关闭 during a spin.
#   tests/win32/boxes.sh [BUILD_DIR [BUILD64_DIR]]     (see run-tests.sh)
# The boxes are read the way Windows sees them, by boxinfo.exe (built here
# from boxinfo.cpp with the compiler of the program under test).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-win32}
build64=${2:-$(dirname "$(cd "$build" 2>/dev/null && pwd || echo "$build")")/win64}
# shellcheck source=tests/win32/lib.sh
source "$here/lib.sh"
# Its program is also started as AÉ.exe: any .exe's windows are its.
NW_PROGRAM_CLASS='[^.]*\.exe'

nw_setup "$build" "$build64"
exe=$NW_RUN_DIR/namewheel.exe
[[ -f $exe ]] || { echo "FAIL: no $exe (the win32.build test makes it)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/namewheel-boxes.XXXXXX")
cleanup_all() {
  nw_cleanup
  rm -rf "$work"
}
trap cleanup_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

case $(file -b "$exe") in
  *x86-64*) compiler=x86_64-w64-mingw32-g++-posix ;;
  *) compiler=i686-w64-mingw32-g++-posix ;;
esac
if ! "$compiler" -std=c++20 -O2 -municode -static -s "$here/boxinfo.cpp" "$root/common/text.cpp" -I"$root" -o "$work/boxinfo.exe" -lgdi32 -luser32 \
  >"$work/boxinfo.log" 2>&1; then
  echo "FAIL: cannot build boxinfo.exe with $compiler:"
  cat "$work/boxinfo.log"
  exit 1
fi

# The boxes that are up: caption<TAB>text<TAB>icon<TAB>buttons, one a line.
boxes() {
  rm -f "$work/boxes.txt"
  (cd "$work" && nw_wine boxinfo.exe boxes.txt >/dev/null 2>&1)
  cat "$work/boxes.txt" 2>/dev/null
}
has_box() { [[ -n $(boxes) ]]; }
no_box() { [[ -z $(boxes) ]]; }

start_program() {
  local dir=$1 name=$2
  (cd "$dir" && nw_wine "$name" >"$dir/program.log" 2>&1) &
  program=$!
  NW_WINE_PIDS+=("$program")
}

# ---- the error report of the start-up, captioned with a title lower-cased beyond A to Z ----

run1=$work/run1
mkdir -p "$run1"
cp "$exe" "$run1/AÉ.exe"
{
  printf '张三\r\n'
  printf '长%.0s' $(seq 21)
  printf '\r\n'
} | iconv -f UTF-8 -t GBK >"$run1/名单.txt"
start_program "$run1" AÉ.exe
if nw_wait_for 30 has_box; then
  IFS=$'\t' read -r caption text icon buttons < <(boxes | head -n 1)
  [[ $caption == "Aé" ]] && nw_pass "the error report's caption is the title: $caption" ||
    nw_fail "the error report's caption is '$caption', not the title 'Aé'"
  [[ $icon == stop ]] && nw_pass "the error report has the stop icon" || nw_fail "the error report's icon: $icon"
  case $text in
    *名单.txt*第\ 2\ 行*最多\ 20\ 个.) nw_pass "the error report says what is wrong, ending in the added period: $text" ;;
    *) nw_fail "the error report's text: '$text'" ;;
  esac
  [[ $buttons != *"|"* && -n $buttons ]] && nw_pass "one button: $buttons" || nw_fail "the buttons: '$buttons'"
else
  nw_fail "no error report at start-up for a 名单.txt with a 21-character name"
fi
[[ -e $run1/cs.db ]] && nw_fail "a refused 名单.txt left a cs.db"

# While that box waits, the menu is live: 显示大转盘 (before the badge
# exists), then 关闭, which ends the program once the box has gone.
menu=$(open_tray_menu)
if [[ -n $menu ]]; then
  choose_item "$menu" 0
  sleep 1.5
  if kill -0 "$program" 2>/dev/null; then
    nw_pass "显示大转盘 while the start-up box waits: the program runs on"
  else
    ended_with "$program" 1
    nw_fail "显示大转盘 while the start-up box waits ended the program (code ${code:-?})"
  fi
else
  nw_fail "the tray menu did not open while the start-up box waits"
fi
if kill -0 "$program" 2>/dev/null; then
  # Wine's popup menu may close itself under the click: when the program is
  # still there and no menu is, the item was not chosen; choose it again.
  chosen=0 ended=no
  for attempt in 1 2 3; do
    menu=$(open_tray_menu) || break
    choose_item "$menu" 3
    chosen=$attempt
    if ended_with "$program" 10; then
      ended=yes
      break
    fi
    program_windows | grep -qx "$menu" && break  # the menu is still up: the click was not lost
    nw_note "关闭 chosen ($attempt), the program still runs and its menu is gone; again"
  done
  if ((chosen == 0)); then
    nw_fail "the tray menu did not open a second time while the start-up box waits"
  elif [[ $ended == yes ]]; then
    ((code == 0)) && nw_pass "关闭 while the start-up box waits ends the program, exit code 0" ||
      nw_fail "关闭 while the start-up box waits: exit code $code"
  else
    nw_fail "the program still runs 10 s after 关闭 was chosen while the start-up box waited"
  fi
fi
nw_wineserver -k >/dev/null 2>&1
sleep 1

# ---- an empty 名单.txt at first start: an empty store, then the notice ----

run2=$work/run2
mkdir -p "$run2"
cp "$exe" "$run2/namewheel.exe"
: >"$run2/名单.txt"
start_program "$run2" namewheel.exe
main=
nw_wait_for 30 window_titled '青枫大转盘' >/dev/null && main=$(window_titled '青枫大转盘')
[[ -n $main ]] || { nw_fail "no draw window within 30 s"; cat "$run2/program.log"; exit 1; }
if nw_wait_for 5 test -s "$run2/cs.db" && [[ $(sqlite3 "$run2/cs.db" 'select count(*) from cs' 2>&1) == 0 ]]; then
  nw_pass "an empty 名单.txt at first start gives an empty cs.db"
else
  nw_fail "an empty 名单.txt at first start: cs.db $(ls -l "$run2/cs.db" 2>&1)"
fi
no_box && nw_pass "and no box" || nw_fail "a box at start-up: $(boxes)"

read -r _ _ main_w main_h < <(geometry_of "$main")
border=$(((main_w - 474) / 2))
client_top=$((main_h - 151 - border))
button_x=$((border + 200 + 81 / 2))
button_y=$((client_top + 111 + 32 / 2))
xdotool mousemove --window "$main" "$button_x" "$button_y" click 1
if nw_wait_for 10 has_box; then
  IFS=$'\t' read -r caption text icon buttons < <(boxes | head -n 1)
  if [[ $caption == 提示 && $text == 请选导入名单 && $icon == information && -n $buttons && $buttons != *"|"* ]]; then
    nw_pass "a press on the empty roster: the notice 提示 / 请选导入名单, information icon, one button ($buttons)"
  else
    nw_fail "the notice: caption '$caption', text '$text', icon '$icon', buttons '$buttons'"
  fi
  box=$(window_titled '提示')
  for _ in 1 2 3; do
    [[ -n $box ]] && { xdotool windowfocus --sync "$box" 2>/dev/null; xdotool key Return; }
    nw_wait_for 3 no_box && break
  done
  no_box || nw_fail "the notice did not close on Return"
else
  nw_fail "a press on the empty roster showed no box"
fi
nw_wineserver -k >/dev/null 2>&1
sleep 1

# ---- 关闭 during a spin: the draw is recorded, then the program ends ----

run3=$work/run3
mkdir -p "$run3"
cp "$exe" "$run3/namewheel.exe"
printf '张三\r\n李四\r\n王五\r\n' | iconv -f UTF-8 -t GBK >"$run3/名单.txt"
start_program "$run3" namewheel.exe
main=
nw_wait_for 30 window_titled '青枫大转盘' >/dev/null && main=$(window_titled '青枫大转盘')
[[ -n $main ]] || { nw_fail "no draw window within 30 s"; exit 1; }
nw_wait_for 5 test -s "$run3/cs.db"
sleep 0.5
xdotool mousemove --window "$main" "$button_x" "$button_y" click 1
sleep 0.5
menu=$(open_tray_menu)
if [[ -n $menu ]]; then
  choose_item "$menu" 3
  sleep 1.5
  if kill -0 "$program" 2>/dev/null; then
    nw_pass "关闭 during a spin: the program goes on until the spin is stopped"
  else
    nw_fail "关闭 during a spin ended the program at once"
  fi
  [[ $(sqlite3 "$run3/cs.db" 'select total(c) from cs' 2>&1) == 0.0 ]] || nw_fail "a draw was recorded before the stop"
  xdotool mousemove --window "$main" "$button_x" "$button_y" click 1
  if ended_with "$program" 10; then
    ((code == 0)) && nw_pass "the stopping press ends the program, exit code 0" || nw_fail "exit code $code"
  else
    nw_fail "the program still runs 10 s after the stopping press"
  fi
  drawn=$(sqlite3 "$run3/cs.db" 'select count(*) || " " || total(c) from cs where c <> 0' 2>&1)
  [[ $drawn == "1 1.0" ]] && nw_pass "the draw was recorded before the end" || nw_fail "after the end: '$drawn'"
else
  nw_fail "the tray menu did not open during the spin"
fi
nw_wineserver -k >/dev/null 2>&1

if ((NW_FAILED)); then
  echo "win32 boxes: FAILED"
  exit 1
fi
echo "win32 boxes: all passed"

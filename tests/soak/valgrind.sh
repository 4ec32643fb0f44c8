#!/usr/bin/env bash
# One whole session of the real program under valgrind's memcheck, on a
# private X desktop with a tray: start, a spin, an import, a count reset,
# close. Fails on a definite leak or any memory error in namewheel's own
# code; prints valgrind's leak summary.
#   valgrind.sh PATH/TO/namewheel        (VALGRIND_LOG=F keeps the log)
. "$(dirname "$0")/../e2e/lib.sh"
e2e_require trayer valgrind
e2e_init "$1"
start_desktop tray

dir=$(e2e_app_dir valgrind)
make_store "$dir/cs.db"
make_roster "$TEST_TMP/class.txt" 赵明 钱华 孙芳 李明 周华
vlog=${VALGRIND_LOG:-$TEST_TMP/valgrind.log}
APP_LOG=$dir/program.log
# Errors in the system's libraries (Qt, fontconfig, X) are not ours: only a
# definite leak, or an error with namewheel's own code on its stack, counts.
# Source files are named by their full path, to tell ours from the rest. A
# child the program forks (libdbus looking for a session bus) says nothing: at
# the fork it loses every thread but one, and what only those threads' stacks
# held would show as a leak of its own.
(cd "$dir" && exec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --num-callers=30 --fullpath-after= --child-silent-after-fork=yes \
    --log-file="$vlog" ./namewheel) >>"$APP_LOG" 2>&1 &
APP_PID=$!

wait_until 120 draw_window >/dev/null || die "no draw window under valgrind in 120 s"
WIN=$(draw_window)
pass "the program starts under valgrind"

# --- a spin ------------------------------------------------------------------
total() { sql "$dir/cs.db" 'select sum(c) from cs'; }
wait_until 20 is_mapped "$WIN"
check "the draw window comes to its corner" wait_placed 60
# The window folds ten seconds after it was brought up, and under valgrind
# a step takes that long: it is brought up before each spin.
show_draw_window 60 || fail "the draw window did not come up for the spin"
spin_once "$WIN"
drawn() { [ "$(total)" = 8 ]; }
check "a spin records one draw" wait_until 30 drawn

# --- the tray menu -------------------------------------------------------------
# Under valgrind the menu takes a moment to come up and to take the keyboard.
menu() { menu_command "$1" 30 20 1; }

# --- an import -------------------------------------------------------------------
menu m || die "the tray menu did not open"
wait_until 30 has_dialog || { shot no-dialog; die "导入名单 opened no file dialog"; }
DIALOG=$(dialogs_of "$APP_PID" | head -n 1)
# Typing starts once the dialog is drawn: it has made its file-name field.
colours() {
    local g
    g=($(geometry "$DIALOG"))
    [ ${#g[@]} -eq 4 ] && import -window root -crop "${g[2]}x${g[3]}+${g[0]}+${g[1]}" +repage -format %k info: 2>/dev/null
}
drawn_dialog() { [ "$(colours)" -gt 16 ] 2>/dev/null; }
wait_until 60 drawn_dialog || note "the file dialog shows $(colours) colours"
type_into "$DIALOG" "$TEST_TMP/class.txt" && key_into "$DIALOG" Return
imported() { [ "$(sql "$dir/cs.db" 'select group_concat(xm) from cs')" = "赵明,钱华,孙芳,李明,周华" ]; }
check "the import replaces the roster" wait_until 60 imported

# --- another spin, then a count reset ---------------------------------------------
show_draw_window 60 || fail "the draw window did not come up for the spin on the new roster"
spin_once "$WIN"
one() { [ "$(total)" = 1 ]; }
check "a spin on the new roster records one draw" wait_until 30 one
menu q || die "the tray menu did not open for the reset"
wait_until 30 find_visible_window "$APP_PID" '^提示$' >/dev/null || fail "the reset showed no notice"
BOX=$(find_visible_window "$APP_PID" '^提示$')
[ -n "$BOX" ] && key_into "$BOX" Return
zero() { [ "$(total)" = 0 ]; }
check "the reset sets every count to 0" wait_until 30 zero

# --- close ---------------------------------------------------------------------------
menu c || die "the tray menu did not open for 关闭"
expect_exit 关闭 120

sed -n 's/^==[0-9]*== *//p' "$vlog" | grep -E '^(definitely|indirectly|possibly) lost:|^ERROR SUMMARY:' |
    sed 's/^/  valgrind: /'
# A definite leak or an error counts when namewheel's own code is near the top
# of its stack (in the first six frames: the code that allocated or touched the
# memory), by a frame in a file of this source tree (its build folder too) or
# in the executable. The rest (libdbus, glib, Qt's caches) is the system's,
# listed but not counted.
tree() { sed 's/[.*^$+?(){}|[]/[&]/g'; }
top=$(cd "$(dirname "$0")/../.." && pwd)
own_frame="[(]($(echo "$top" | tree)|$(cd "$top" && pwd -P | tree))/[^:()]+:[0-9]+[)]|[(]in [^)]*/namewheel[)]"
awk -v own="$own_frame" '
    /^==[0-9]+== [^ ]/ && block == "" { block = $0; next }
    /^==[0-9]+== $/ { if (block != "") { print block "\n"; } block = ""; frames = 0; next }
    block != "" && /^==[0-9]+== +(at|by) / { if (++frames > 6) next }
    block != "" && /^==[0-9]+== +(Address|Block)/ { frames = 99 }
    block != "" { block = block "\n" $0 }
' "$vlog" >"$TEST_TMP/records.txt"
ours=$(awk -v RS='\n\n' -v own="$own_frame" '($0 ~ /definitely lost|Invalid|uninitialised|Mismatched|overlap/) && $0 ~ own { n++; print > "/dev/stderr" } END { print n + 0 }' \
    "$TEST_TMP/records.txt" 2>"$TEST_TMP/own.txt")
theirs=$(awk -v RS='\n\n' -v own="$own_frame" '$0 ~ /definitely lost in loss record/ && $0 !~ own { n++ } END { print n + 0 }' "$TEST_TMP/records.txt")
note "definite leaks in the system's libraries only, not counted: $theirs"
if [ "$ours" = 0 ]; then
    pass "no definite leak and no memory error through namewheel's own code"
else
    fail "$ours definite leaks or memory errors through namewheel's own code:"
    head -n 80 "$TEST_TMP/own.txt"
fi
finish

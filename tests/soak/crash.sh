#!/usr/bin/env bash
# Kills the real program with kill -9 at random moments and checks what each
# kill leaves behind, on a private X desktop with a tray (see ../e2e/lib.sh).
#
#   crash.sh PATH/TO/namewheel [SCENARIO...]
#     seed    during the start-up seed of a new store from a 1 000 000-line 名单.txt
#     import  during an import (tray menu, file dialog) of that file over a roster of 30
#     reset   during a count reset of 300 000 rows
#     draw    right after the stopping press of a draw
#   CRASH_RUNS=N   kills per scenario (20)
#   CRASH_SEED=N   seeds the random moments, to repeat a run
#   CRASH_LOG=F    appends one line per kill to F
#
# After each kill a copy of the store files is checked (SQLite rolls a hot
# journal back just as the program would): PRAGMA integrity_check is ok and
# cs.db holds the old roster or the whole new one (seed, import), all counts
# reset or none (reset), every draw whose press had been recorded (draw).
# Then the program is started again on the files the kill left: once its
# window is up, no temporary store and no journal is left, and the store is
# what the copy said.
. "$(dirname "$0")/../e2e/lib.sh"
e2e_require trayer
e2e_init "$1"
shift
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(seed import reset draw)
runs=${CRASH_RUNS:-20}
RANDOM=${CRASH_SEED:-$$}
note "random seed ${CRASH_SEED:-$$}, $runs kills per scenario"
start_desktop tray

BIG=$TEST_TMP/big.txt
BIG_LINES=1000000
awk -v n=$BIG_LINES 'BEGIN { for (i = 1; i <= n; i++) printf "学生%07d\n", i }' >"$BIG" || die "cannot write $BIG"

log_line() {
    echo "  $*"
    [ -n "${CRASH_LOG:-}" ] && echo "$*" >>"$CRASH_LOG"
    return 0
}

# random_ms MAX: a whole number of milliseconds in 0 .. MAX.
random_ms() { echo $(((RANDOM * 32768 + RANDOM) % ($1 + 1))); }
sleep_ms() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }

# crash_app: kill -9, the way a power cut or a crash ends the program.
crash_app() {
    kill -9 "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=""
}

# The store files a kill left, by name: "cs.db cs.db-journal ..." or "-".
leftovers() {
    local names
    names=$(cd "$1" && ls -1 | grep -E '^cs\.db' | tr '\n' ' ' | sed 's/ $//')
    echo "${names:--}"
}

# snapshot DIR: a copy of the store files in a folder of its own; prints it.
snapshot() {
    local copy=$TEST_TMP/snapshot
    rm -rf "$copy"
    mkdir -p "$copy"
    cp -p "$1"/cs.db* "$copy"/ 2>/dev/null
    echo "$copy"
}

integrity() { [ -e "$1" ] && sql "$1" 'pragma integrity_check' 2>&1 | tr '\n' ' ' | sed 's/ $//'; }

# start_and_check_clean DIR: starts the program on what the kill left and
# waits for its window; then no temporary store or journal may be there.
start_and_check_clean() {
    start_app "$1"
    wait_until 120 draw_window >/dev/null || { fail "the program did not start again in $1"; return 1; }
    local left
    left=$(cd "$1" && ls -1 | grep -E '^cs\.db(\.tmp.*|-journal)$' | tr '\n' ' ')
    [ -z "$left" ] || fail "after the next start these are still there: $left"
    [ -z "$left" ]
}

# kill_at_random NAME MAX_MS PREPARE BEGIN CONTENT ALLOWED AFTER: the runs of
# one scenario. For each, in a fresh folder:
#   PREPARE DIR   puts the files the scenario starts from there;
#   BEGIN DIR     starts the program and brings it to the moment the clock
#                 starts (it says what failed, and the run is left out);
# then a kill at a random moment in 0 .. MAX_MS. CONTENT DIR names what a
# store folder holds: the copy of what the kill left must hold one of ALLOWED
# (space separated), and after the next start the store must hold AFTER
# ("same": what the copy held).
kill_at_random() {
    local name=$1 max=$2 prepare=$3 begin=$4 content=$5 allowed=$6 after=$7
    local i dir delay left verdict expected
    for i in $(seq "$runs"); do
        dir=$(e2e_app_dir "$name-$i")
        "$prepare" "$dir"
        "$begin" "$dir" || { crash_app; continue; }
        delay=$(random_ms "$max")
        sleep_ms "$delay"
        crash_app
        left=$(leftovers "$dir")
        verdict=$("$content" "$(snapshot "$dir")")
        case " $allowed " in
            *" $verdict "*) pass "$name $i: killed at $delay ms, left [$left]: $verdict" ;;
            *) fail "$name $i: killed at $delay ms, left [$left]: $verdict" ;;
        esac
        expected=$after
        [ "$after" = same ] && expected=$verdict
        start_and_check_clean "$dir" &&
            expect_eq "$name $i: after the next start the store holds what it should" "$expected" "$("$content" "$dir")"
        crash_app
        log_line "$name $i delay=${delay}ms left=[$left] verdict=$verdict"
        rm -rf "$dir"
    done
}

# --- the tray menu ---------------------------------------------------------

# import_file FILE: picks the import item and types FILE into the dialog;
# returns once Enter has been pressed.
import_file() {
    menu_command m || { fail "the tray menu did not open"; return 1; }
    wait_until 10 has_dialog || { fail "导入名单 opened no file dialog"; return 1; }
    local dialog
    dialog=$(dialogs_of "$APP_PID" | head -n 1)
    type_into "$dialog" "$1" && key_into "$dialog" Return
}

# --- seed --------------------------------------------------------------------
seed_content() {
    # none, new, or what is wrong
    local db=$1/cs.db
    [ -e "$db" ] || { echo none; return; }
    local check
    check=$(integrity "$db")
    [ "$check" = ok ] || { echo "integrity: $check"; return; }
    local got
    got=$(sql "$db" "select count(*), min(xm), max(xm), sum(c) from cs" 2>&1)
    [ "$got" = "$BIG_LINES|学生0000001|学生1000000|0" ] && echo new || echo "partial: $got"
}

seed_prepare() { ln "$BIG" "$1/名单.txt" 2>/dev/null || cp "$BIG" "$1/名单.txt"; }
seed_begin() { start_app "$1"; }

scenario_seed() {
    local dir start took
    dir=$(e2e_app_dir seed-calibrate)
    seed_prepare "$dir"
    start=$(now_ms)
    seed_begin "$dir"
    wait_until 120 draw_window >/dev/null || die "the seed of $BIG_LINES names did not finish in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted seed stores all $BIG_LINES names" new "$(seed_content "$dir")"
    crash_app
    note "seed: $took ms from start to the window"
    # A seed cut short is made again, whole, at the next start.
    kill_at_random seed $((took * 13 / 10)) seed_prepare seed_begin seed_content "none new" new
}

# --- import ------------------------------------------------------------------
OLD_ROSTER="insert into cs values ('张伟',2),('王芳',0),('李娜',5),('刘洋',1),('陈静',3),('杨帆',0),
    ('赵磊',4),('黄敏',1),('周杰',2),('吴昊',0),('徐丽',6),('孙强',1),('胡军',2),('朱琳',0),('高峰',3),
    ('林涛',1),('何静',2),('郭勇',0),('马超',5),('罗敏',1),('梁宇',2),('宋佳',0),('郑浩',3),('谢婷',1),
    ('韩冰',4),('唐亮',0),('冯雪',2),('于洋',1),('董梅',3),('萧然',0);"
OLD_DUMP=""

import_content() {
    local db=$1/cs.db check got
    [ -e "$db" ] || { echo "no store"; return; }
    check=$(integrity "$db")
    [ "$check" = ok ] || { echo "integrity: $check"; return; }
    got=$(sql "$db" "select group_concat(xm || ':' || c, ',') from (select * from cs order by rowid)" 2>&1)
    [ "$got" = "$OLD_DUMP" ] && { echo old; return; }
    got=$(sql "$db" "select count(*), min(xm), max(xm), sum(c) from cs" 2>&1)
    [ "$got" = "$BIG_LINES|学生0000001|学生1000000|0" ] && echo new || echo "neither: $got"
}

import_prepare() {
    sql "$1/cs.db" "create table cs(xm char(20),c int); $OLD_ROSTER" || die "cannot make cs.db"
}

import_begin() {
    start_app "$1"
    wait_until 30 draw_window >/dev/null || { fail "import: no draw window"; return 1; }
    import_file "$BIG"
}

scenario_import() {
    local dir start took
    dir=$(e2e_app_dir import-calibrate)
    import_prepare "$dir"
    OLD_DUMP=$(sql "$dir/cs.db" "select group_concat(xm || ':' || c, ',') from (select * from cs order by rowid)")
    import_begin "$dir" || die "cannot import through the tray menu"
    start=$(now_ms)
    new_rows() { [ "$(sql "$dir/cs.db" 'select count(*) from cs' 2>/dev/null)" = "$BIG_LINES" ]; }
    wait_until 120 new_rows || die "the import of $BIG_LINES names did not finish in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted import stores all $BIG_LINES names" new "$(import_content "$dir")"
    crash_app
    note "import: $took ms from Enter in the dialog to the new store"
    # A little past the calibrated end, so that some kills come after the rename.
    kill_at_random import $((took * 13 / 10)) import_prepare import_begin import_content "old new" same
}

# --- reset -------------------------------------------------------------------
RESET_ROWS=300000
RESET_SUM=""

reset_prepare() {
    sql "$1/cs.db" "create table cs(xm char(20),c int);
        with recursive n(i) as (select 1 union all select i + 1 from n where i < $RESET_ROWS)
        insert into cs select '学生' || i, i % 7 + 1 from n;" || die "cannot make cs.db"
}

reset_begin() {
    start_app "$1"
    wait_until 60 draw_window >/dev/null || { fail "reset: no draw window"; return 1; }
    menu_command q || { fail "reset: the tray menu did not open"; return 1; }
}

reset_content() {
    local db=$1/cs.db check got
    check=$(integrity "$db")
    [ "$check" = ok ] || { echo "integrity: $check"; return; }
    got=$(sql "$db" "select count(*), sum(c), sum(c * rowid) from cs" 2>&1)
    [ "$got" = "$RESET_SUM" ] && { echo none; return; }
    [ "$got" = "$RESET_ROWS|0|0" ] && echo all || echo "some: $got"
}

scenario_reset() {
    local dir start took
    dir=$(e2e_app_dir reset-calibrate)
    reset_prepare "$dir"
    RESET_SUM=$(sql "$dir/cs.db" "select count(*), sum(c), sum(c * rowid) from cs")
    reset_begin "$dir" || die "the reset could not be started"
    start=$(now_ms)
    wait_until 120 find_visible_window "$APP_PID" '^提示$' >/dev/null || die "the reset gave no notice in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted reset sets every count to 0" all "$(reset_content "$dir")"
    crash_app
    note "reset: $took ms from the menu key to the notice"
    kill_at_random reset "$took" reset_prepare reset_begin reset_content "none all" same
}

# --- draw --------------------------------------------------------------------
total_draws() { sql "$1" 'select sum(c) from cs' 2>/dev/null; }

scenario_draw() {
    local dir i k j delay left verdict check total after
    for i in $(seq "$runs"); do
        dir=$(e2e_app_dir "draw-$i")
        sql "$dir/cs.db" "create table cs(xm char(20),c int);
            insert into cs values ('甲',0),('乙',0),('丙',0),('丁',0),('戊',0);" || die "cannot make cs.db"
        start_app "$dir"
        wait_until 30 draw_window >/dev/null || { fail "draw $i: no draw window"; crash_app; continue; }
        WIN=$(draw_window)
        wait_until 5 is_mapped "$WIN"
        k=$((RANDOM % 3 + 1))
        for j in $(seq "$k"); do
            show_draw_window || fail "draw $i: the draw window did not come up for press $j"
            spin_once "$WIN"
            recorded() { [ "$(total_draws "$dir/cs.db")" = "$j" ]; }
            wait_until 10 recorded || fail "draw $i: press $j was not recorded"
        done
        # The last draw: killed a moment after the stopping press.
        delay=$(random_ms 40)
        show_draw_window || fail "draw $i: the draw window did not come up for the last press"
        spin_once "$WIN" && sleep_ms "$delay"
        crash_app
        left=$(leftovers "$dir")
        copy=$(snapshot "$dir")
        check=$(integrity "$copy/cs.db")
        total=$(total_draws "$copy/cs.db")
        verdict="integrity $check, $total draws of $k recorded (+1 pressed)"
        if [ "$check" = ok ] && { [ "$total" = "$k" ] || [ "$total" = $((k + 1)) ]; }; then
            pass "draw $i: killed $delay ms after the press, left [$left]: $verdict"
        else
            fail "draw $i: killed $delay ms after the press, left [$left]: $verdict"
        fi
        start_and_check_clean "$dir" && expect_eq "draw $i: after the next start the draws are kept" "$total" "$(total_draws "$dir/cs.db")"
        crash_app
        log_line "draw $i delay=${delay}ms left=[$left] verdict=$verdict"
        rm -rf "$dir"
    done
}

for scenario in "${scenarios[@]}"; do
    case $scenario in
        seed|import|reset|draw) note "=== $scenario"; "scenario_$scenario" ;;
        *) die "unknown scenario '$scenario'" ;;
    esac
done
finish

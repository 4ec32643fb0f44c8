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
e2e_start_desktop tray

BIG=$E2E_TMP/big.txt
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

kill_app() {
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
    local copy=$E2E_TMP/snapshot
    rm -rf "$copy"
    mkdir -p "$copy"
    cp -p "$1"/cs.db* "$copy"/ 2>/dev/null
    echo "$copy"
}

integrity() { [ -e "$1" ] && sql "$1" 'pragma integrity_check' 2>&1 | tr '\n' ' ' | sed 's/ $//'; }

# start_and_check_clean DIR: starts the program on what the kill left and
# waits for its window; then no temporary store or journal may be there.
start_and_check_clean() {
    e2e_start_app "$1"
    wait_until 120 draw_window >/dev/null || { fail "the program did not start again in $1"; return 1; }
    local left
    left=$(cd "$1" && ls -1 | grep -E '^cs\.db(\.tmp.*|-journal)$' | tr '\n' ' ')
    [ -z "$left" ] || fail "after the next start these are still there: $left"
    [ -z "$left" ]
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

scenario_seed() {
    local dir start end took i delay left verdict after
    dir=$(e2e_app_dir seed-calibrate)
    ln "$BIG" "$dir/名单.txt" 2>/dev/null || cp "$BIG" "$dir/名单.txt"
    start=$(now_ms)
    e2e_start_app "$dir"
    wait_until 120 draw_window >/dev/null || die "the seed of $BIG_LINES names did not finish in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted seed stores all $BIG_LINES names" new "$(seed_content "$dir")"
    e2e_kill_app
    note "seed: $took ms from start to the window"
    for i in $(seq "$runs"); do
        dir=$(e2e_app_dir "seed-$i")
        ln "$BIG" "$dir/名单.txt" 2>/dev/null || cp "$BIG" "$dir/名单.txt"
        delay=$(random_ms $((took * 13 / 10)))
        e2e_start_app "$dir"
        sleep_ms "$delay"
        kill_app
        left=$(leftovers "$dir")
        verdict=$(seed_content "$(snapshot "$dir")")
        case $verdict in none|new) pass "seed $i: killed at $delay ms, left [$left]: $verdict" ;;
            *) fail "seed $i: killed at $delay ms, left [$left]: $verdict" ;; esac
        start_and_check_clean "$dir" && {
            after=$(seed_content "$dir")
            expect_eq "seed $i: after the next start the store is whole" new "$after"
        }
        e2e_kill_app
        log_line "seed $i delay=${delay}ms left=[$left] verdict=$verdict"
        rm -rf "$dir"
    done
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

import_dir() {
    local dir
    dir=$(e2e_app_dir "$1")
    sql "$dir/cs.db" "create table cs(xm char(20),c int); $OLD_ROSTER" || die "cannot make cs.db"
    echo "$dir"
}

scenario_import() {
    local dir start took i delay left verdict after new_rows
    dir=$(import_dir import-calibrate)
    OLD_DUMP=$(sql "$dir/cs.db" "select group_concat(xm || ':' || c, ',') from (select * from cs order by rowid)")
    e2e_start_app "$dir"
    wait_until 30 draw_window >/dev/null || die "no draw window"
    import_file "$BIG" || die "cannot import through the tray menu"
    start=$(now_ms)
    new_rows() { [ "$(sql "$dir/cs.db" 'select count(*) from cs' 2>/dev/null)" = "$BIG_LINES" ]; }
    wait_until 120 new_rows || die "the import of $BIG_LINES names did not finish in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted import stores all $BIG_LINES names" new "$(import_content "$dir")"
    e2e_kill_app
    note "import: $took ms from Enter in the dialog to the new store"
    for i in $(seq "$runs"); do
        dir=$(import_dir "import-$i")
        e2e_start_app "$dir"
        wait_until 30 draw_window >/dev/null || { fail "import $i: no draw window"; e2e_kill_app; continue; }
        import_file "$BIG" || { e2e_kill_app; continue; }
        # A little past the calibrated end, so that some kills come after the
        # rename.
        delay=$(random_ms $((took * 13 / 10)))
        sleep_ms "$delay"
        kill_app
        left=$(leftovers "$dir")
        verdict=$(import_content "$(snapshot "$dir")")
        case $verdict in old|new) pass "import $i: killed at $delay ms, left [$left]: $verdict" ;;
            *) fail "import $i: killed at $delay ms, left [$left]: $verdict" ;; esac
        start_and_check_clean "$dir" && {
            after=$(import_content "$dir")
            expect_eq "import $i: after the next start the store is as the copy said" "$verdict" "$after"
        }
        e2e_kill_app
        log_line "import $i delay=${delay}ms left=[$left] verdict=$verdict"
        rm -rf "$dir"
    done
}

# --- reset -------------------------------------------------------------------
RESET_ROWS=300000
RESET_SUM=""

reset_dir() {
    local dir
    dir=$(e2e_app_dir "$1")
    sql "$dir/cs.db" "create table cs(xm char(20),c int);
        with recursive n(i) as (select 1 union all select i + 1 from n where i < $RESET_ROWS)
        insert into cs select '学生' || i, i % 7 + 1 from n;" || die "cannot make cs.db"
    echo "$dir"
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
    local dir start took i delay left verdict after
    dir=$(reset_dir reset-calibrate)
    RESET_SUM=$(sql "$dir/cs.db" "select count(*), sum(c), sum(c * rowid) from cs")
    e2e_start_app "$dir"
    wait_until 60 draw_window >/dev/null || die "no draw window"
    menu_command q || die "the tray menu did not open"
    start=$(now_ms)
    wait_until 120 find_visible_window "$APP_PID" '^提示$' >/dev/null || die "the reset gave no notice in 120 s"
    took=$(($(now_ms) - start))
    expect_eq "an uninterrupted reset sets every count to 0" all "$(reset_content "$dir")"
    e2e_kill_app
    note "reset: $took ms from the menu key to the notice"
    for i in $(seq "$runs"); do
        dir=$(reset_dir "reset-$i")
        e2e_start_app "$dir"
        wait_until 60 draw_window >/dev/null || { fail "reset $i: no draw window"; e2e_kill_app; continue; }
        menu_command q || { fail "reset $i: the tray menu did not open"; e2e_kill_app; continue; }
        delay=$(random_ms "$took")
        sleep_ms "$delay"
        kill_app
        left=$(leftovers "$dir")
        verdict=$(reset_content "$(snapshot "$dir")")
        case $verdict in none|all) pass "reset $i: killed at $delay ms, left [$left]: $verdict reset" ;;
            *) fail "reset $i: killed at $delay ms, left [$left]: $verdict" ;; esac
        start_and_check_clean "$dir" && {
            after=$(reset_content "$dir")
            expect_eq "reset $i: after the next start the store is as the copy said" "$verdict" "$after"
        }
        e2e_kill_app
        log_line "reset $i delay=${delay}ms left=[$left] verdict=$verdict"
        rm -rf "$dir"
    done
}

# --- draw --------------------------------------------------------------------
total_draws() { sql "$1" 'select sum(c) from cs' 2>/dev/null; }

# one_draw WINDOW: a press that starts a spin, a short spin, the stopping press.
one_draw() {
    click_in "$1" 240 127 && sleep 0.2 && click_in "$1" 240 127
}

scenario_draw() {
    local dir i k j win delay left verdict check total after
    for i in $(seq "$runs"); do
        dir=$(e2e_app_dir "draw-$i")
        sql "$dir/cs.db" "create table cs(xm char(20),c int);
            insert into cs values ('甲',0),('乙',0),('丙',0),('丁',0),('戊',0);" || die "cannot make cs.db"
        e2e_start_app "$dir"
        wait_until 30 draw_window >/dev/null || { fail "draw $i: no draw window"; e2e_kill_app; continue; }
        win=$(draw_window)
        wait_until 5 is_mapped "$win"
        k=$((RANDOM % 3 + 1))
        for j in $(seq "$k"); do
            one_draw "$win"
            recorded() { [ "$(total_draws "$dir/cs.db")" = "$j" ]; }
            wait_until 10 recorded || fail "draw $i: press $j was not recorded"
        done
        # The last draw: killed a moment after the stopping press.
        delay=$(random_ms 40)
        click_in "$win" 240 127 && sleep 0.2 && click_in "$win" 240 127 && sleep_ms "$delay"
        kill_app
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
        e2e_kill_app
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
e2e_finish

#!/usr/bin/env bash
# The real program on a disk that fails under a draw and under a count reset:
# for every step of the command that changes the store's folder (counted by
# failing_disk_shim.so, loaded with LD_PRELOAD), the command runs with that
# step failing, once or from then on. Then, with the disk back:
# - a copy of the store (opened as the next start would) is whole and holds
#   the counts before the command when an error box came, after it otherwise
#   (and after it with an error box when what failed is the sync of the
#   folder once the journal is gone: the change is in, but not confirmed);
# - the next draw adds exactly one, in the same run of the program.
#   tests/e2e/failing_disk.sh PATH/TO/namewheel PATH/TO/failing_disk_shim.so [draw|reset]...
. "$(dirname "$0")/lib.sh"
e2e_init "$1"
SHIM=${2:-}
shift 2 || true
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(draw reset)
[ -r "$SHIM" ] || die "no shim at '$SHIM'"
SHIM=$(cd "$(dirname "$SHIM")" && pwd)/$(basename "$SHIM")
e2e_require
# A sanitized program wants its runtime first in the list of loaded
# libraries: the shim cannot come before it.
ldd "$E2E_EXE" | grep -q 'libasan' &&
    skip "the program is built with AddressSanitizer, which LD_PRELOAD cannot go with"
start_desktop tray

CONTROL=$TEST_TMP/control
STEPS=$TEST_TMP/steps
GENERATION=0
arm() {
    GENERATION=$((GENERATION + 1))
    : >"$STEPS"
    echo "fail $1 $2 $GENERATION" >"$CONTROL"
}
heal() { echo heal >"$CONTROL"; }

# The counts of a copy of the store, as the next start would find them
# (SQLite plays back a journal a failed write left), and its integrity.
copy_of() {
    local copy=$TEST_TMP/copy
    rm -rf "$copy" && mkdir -p "$copy" && cp "$1"/cs.db* "$copy"/ 2>/dev/null
    echo "$copy/cs.db"
}
counts() { sql "$(copy_of "$1")" 'select group_concat(c, " ") from (select c from cs order by rowid)'; }
integrity() { sql "$(copy_of "$1")" 'pragma integrity_check' 2>&1 | tr '\n' ' ' | sed 's/ $//'; }

BEFORE="2 0 1 0"
start_on_store() {
    local dir=$1
    sql "$dir/cs.db" "create table cs(xm char(20),c int);
        insert into cs values ('甲',2),('乙',0),('丙',1),('丁',0);" || die "cannot make cs.db"
    heal
    LD_PRELOAD=$SHIM FAILING_DISK_DIR=$dir FAILING_DISK_CONTROL=$CONTROL FAILING_DISK_LOG=$STEPS start_app "$dir"
    wait_until 30 draw_window >/dev/null || return 1
    WIN=$(draw_window)
    wait_until 5 is_mapped "$WIN" && wait_placed 10
}

# The sum of counts given as "2 0 1 0"; -1 for none.
sum() {
    [ -n "$1" ] || { echo -1; return; }
    echo $(($(echo "$1" | tr ' ' '+')))
}

# run_command draw|reset: the command, until it has finished: an error box,
# the notice, or (a draw) its count in the file.
run_command() {
    local dir=$1 before_sum
    before_sum=$(sum "$BEFORE")
    case $2 in
        draw)
            show_draw_window || { fail "draw: the draw window did not come up for the spin"; return 1; }
            spin_once "$WIN"
            drawn() { has_dialog || [ "$(sum "$(counts "$dir")")" = $((before_sum + 1)) ]; }
            wait_until 10 drawn
            ;;
        reset)
            menu_command q 10 5
            wait_until 10 has_dialog
            ;;
    esac
}

# Whether the first step that failed is the sync of the folder right after
# the journal was deleted: the commit is in the file by then.
unconfirmed_commit() {
    local line
    line=$(grep -n -m 1 ' (fails)$' "$STEPS" | cut -d: -f1)
    [ -n "$line" ] && [ "$line" -gt 1 ] &&
        [ "$(sed -n "$((line - 1))p" "$STEPS")" = "delete cs.db-journal" ] &&
        sed -n "${line}p" "$STEPS" | grep -q '^sync '
}

walk() {
    local command=$1 dir steps n mode box now total what
    dir=$(e2e_app_dir "$command-count")
    start_on_store "$dir" || die "$command: no draw window"
    arm 0 once
    run_command "$dir" "$command"
    steps=$(wc -l <"$STEPS")
    heal
    note "$command: $steps steps on a disk that works: $(tr '\n' ',' <"$STEPS")"
    kill_app
    [ "$steps" -gt 0 ] || { fail "$command: no step counted: is the shim loaded?"; return; }
    for mode in once on; do
        for n in $(seq "$steps"); do
            dir=$(e2e_app_dir "$command-$mode-$n")
            start_on_store "$dir" || { fail "$command $mode $n: no draw window"; kill_app; continue; }
            arm "$n" "$mode"
            run_command "$dir" "$command"
            sleep 0.3
            box=""
            if has_dialog; then
                box=$(dialogs_of "$APP_PID" | head -n 1)
                box=$(window_name "$box")
            fi
            heal
            now=$(counts "$dir")
            what="$command, step $n of $steps failing $mode ($(grep -n fails "$STEPS" | head -n 1 | cut -d: -f2-)): box '${box:-none}', counts $now"
            expect_eq "$what: integrity" ok "$(integrity "$dir")"
            if [ "$command" = reset ] && [ "$box" = 提示 ]; then
                expect_eq "$what: the notice, so all reset" "0 0 0 0" "$now"
            elif [ -n "$box" ] && unconfirmed_commit; then
                if [ "$command" = draw ]; then
                    expect_eq "$what: the journal was gone, so one draw (and a box)" $(($(sum "$BEFORE") + 1)) "$(sum "$now")"
                else
                    expect_eq "$what: the journal was gone, so all reset (and a box)" "0 0 0 0" "$now"
                fi
            elif [ -n "$box" ]; then
                expect_eq "$what: an error box, so nothing changed" "$BEFORE" "$now"
            elif [ "$command" = draw ]; then
                expect_eq "$what: no box, so one draw" $(($(sum "$BEFORE") + 1)) "$(sum "$now")"
            else
                fail "$what: the reset gave no box at all"
            fi
            # With the disk back, the next draw counts once. A box still up
            # five seconds after Enter (on a loaded machine the key can go
            # astray) is given Enter again.
            for try in 1 2 3 4 5; do
                has_dialog || break
                box=$(dialogs_of "$APP_PID" | head -n 1)
                key_into "$box" Return
                wait_until 5 is_unmapped "$box"
            done
            total=$(sum "$now")
            show_draw_window || fail "$what: the draw window did not come up for the next draw"
            spin_once "$WIN"
            next() { [ "$(sum "$(counts "$dir")")" -gt "$total" ] || has_dialog; }
            wait_until 10 next
            sleep 0.3
            box=""
            has_dialog && box=", and a box came: '$(window_name "$(dialogs_of "$APP_PID" | head -n 1)")'"
            expect_eq "$what: the next draw adds one$box" $((total + 1)) "$(sum "$(counts "$dir")")"
            kill_app
            rm -rf "$dir"
        done
    done
}

for command in "${commands[@]}"; do
    case $command in
        draw | reset) walk "$command" ;;
        *) die "unknown command '$command'" ;;
    esac
done
finish

#!/usr/bin/env bash
# Builds the libFuzzer targets under clang with ASan and UBSan, makes the
# locales of the legacy code pages, and runs each target for a while on its
# seed corpus. Ends non-zero on any crash, failed check or sanitizer report
# (the input that did it is kept in BUILD/artifacts/).
#
#   scripts/fuzz.sh [--build DIR] [--seconds N] [--jobs N] [--only-build] [TARGET...]
#
# TARGET is roster or connection_string (both when none is given). Ends with
# 77 (skipped) when clang-14 or its libFuzzer runtime is not installed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-fuzz
seconds=60
jobs=1
only_build=false
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --only-build) only_build=true; shift ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=(roster connection_string)
mkdir -p "$build"
build=$(cd "$build" && pwd)

compiler=$(command -v clang++-14 || true)
if [ -z "$compiler" ] || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    echo "SKIP: clang-14 with libFuzzer (clang-14, libclang-rt-14-dev) is not installed"
    exit 77
fi

# The legacy code pages a Chinese (or any other) user's locale may name, made
# in a folder of our own: the system's locale archive is left alone.
# GB18030 itself needs none: it is what the C and UTF-8 locales decode with.
locales="zh_CN.GBK:zh_CN:GBK zh_CN.GB2312:zh_CN:GB2312 zh_TW.BIG5:zh_TW:BIG5 zh_HK.BIG5-HKSCS:zh_HK:BIG5-HKSCS
         ja_JP.SHIFT_JIS:ja_JP:SHIFT_JIS ja_JP.EUC-JP:ja_JP:EUC-JP ko_KR.EUC-KR:ko_KR:EUC-KR
         ru_RU.KOI8-R:ru_RU:KOI8-R ru_RU.CP1251:ru_RU:CP1251 en_US.ISO-8859-1:en_US:ISO-8859-1
         th_TH.TIS-620:th_TH:TIS-620 vi_VN.TCVN5712-1:vi_VN:TCVN5712-1 vi_VN.CP1258:vi_VN:CP1258"
export LOCPATH=$build/locales
mkdir -p "$LOCPATH"
names=""
for entry in $locales; do
    IFS=: read -r name source charmap <<<"$entry"
    if [ ! -e "$LOCPATH/$name/LC_CTYPE" ]; then
        localedef -i "$source" -f "$charmap" "$LOCPATH/$name" >/dev/null 2>&1 ||
            [ -e "$LOCPATH/$name/LC_CTYPE" ] || { echo "note: cannot make locale $name (is the locales package installed?)"; continue; }
    fi
    names="$names $name"
done
export NAMEWHEEL_FUZZ_LOCALES=$names

cmake -S "$top/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_C_COMPILER="$(command -v clang-14)" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --parallel "${NAMEWHEEL_BUILD_JOBS:-2}"
$only_build && exit 0

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts"
cd "$build"  # libFuzzer writes its fuzz-N.log files into the current folder
status=0
for target in "${targets[@]}"; do
    case $target in
        roster) seeds=$top/fuzz/corpus/roster ;;
        connection_string) seeds=$top/fuzz/corpus/connection ;;
        *) echo "unknown target '$target'"; exit 2 ;;
    esac
    # What a run finds is kept for the next one in the build folder; the seeds
    # in the source tree are only read.
    work=$build/corpus/$target
    mkdir -p "$work"
    echo "=== ${target}_fuzzer, ${seconds} s, $jobs job(s)"
    # With more than one job, libFuzzer runs each in a process of its own,
    # logging to fuzz-N.log here.
    parallel=()
    [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
    if ! "$build/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        "${parallel[@]}" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/${target}-" "$work" "$seeds" 2>"$build/$target.log"; then
        status=1
        echo "FAIL: ${target}_fuzzer found a fault:"
        grep -v '^#' "$build/$target.log" | tail -n 40
        [ "$jobs" -gt 1 ] && tail -n 40 "$build"/fuzz-*.log
    else
        grep -E '^(roster_fuzzer:|stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "$build/$target.log" || true
        echo "PASS: ${target}_fuzzer, no fault in $seconds s"
    fi
done
exit $status

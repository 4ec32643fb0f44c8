#!/usr/bin/env bash
# Draws the README's picture of a term in a class of 45 (docs/fairness.png):
# how often each name was drawn under the program's rule, a spin among the ten
# least-drawn names, beside a plain uniform pick among all of them, with the
# largest gap of each. The counts are those bench/run measures (its "term"
# part, through the draw window's own handlers); the picture is drawn by
# gnuplot (Debian's gnuplot-nox) with a Chinese font.
#   bench/fairness_picture.sh [OUT.png]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs/fairness.png}
. "$top/scripts/packages.sh"
install_packages gnuplot-nox fonts-wqy-microhei >&2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figures=$(BENCH_ONLY=term BENCH_TERM_TABLE="$work/term45.txt" "$top/bench/run")
figure() { awk -v name="$1" '$1 == "figure" && $2 == name { print $3 }' <<<"$figures"; }
draws=$(figure term45_draws)
gap=$(figure term45_max_minus_min)
uniform_gap=$(figure term45_uniform_max_minus_min)
[ -n "$draws" ] && [ -n "$gap" ] && [ -n "$uniform_gap" ] || { echo "bench/run gave no term figures" >&2; exit 1; }
# Each side's counts from the fewest to the most.
awk '{ print $2 }' "$work/term45.txt" | sort -n >"$work/program.txt"
awk '{ print $3 }' "$work/term45.txt" | sort -n >"$work/uniform.txt"
[ "$(wc -l <"$work/program.txt")" = 45 ] || { echo "the term's table does not hold 45 names" >&2; exit 1; }
top_count=$(sort -n "$work/program.txt" "$work/uniform.txt" | tail -n 1)

gnuplot <<GNUPLOT
set terminal pngcairo size 960,440 font "WenQuanYi Micro Hei,11"
set output "$out"
set multiplot layout 1,2 title "A term in a class of 45: $draws draws · 一个学期，45 人的班，共抽 $draws 次" font ",13"
set style fill solid 0.85 noborder
set boxwidth 0.8
set yrange [0:$((top_count + 4))]
set xrange [0:46]
set xtics ("" 0)
set grid ytics lc rgb "#dddddd"
set xlabel "the 45 names, fewest draws first · 45 个名字，次数少的在前"
set ylabel "times drawn · 被抽次数"
set title "this program: only the ten least-drawn · 本程序：只在最少的十个里抽\nlargest gap $gap · 最多与最少相差 $gap 次"
plot "$work/program.txt" using (column(0) + 1):1 with boxes lc rgb "#2e7d32" notitle
set title "plain uniform pick among all · 普通随机抽取\nlargest gap $uniform_gap · 最多与最少相差 $uniform_gap 次"
plot "$work/uniform.txt" using (column(0) + 1):1 with boxes lc rgb "#c62828" notitle
unset multiplot
GNUPLOT
echo "$out: $draws draws, largest gap $gap (this program) against $uniform_gap (uniform)"

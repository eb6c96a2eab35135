#!/usr/bin/env bash
# Time to solution of the bundled examples, this build against another (e.g.
# the previous main's fendrix), run after run in turn so that both see the
# same load: wall-clock seconds of the whole run (setup, stepping, far field,
# results file) with -r, so that both take the same steps, on 1 and 2
# threads; medians over the rounds, and whether the results files are equal.
#
#   bash bench/examples_against.sh OTHER_FENDRIX [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/bench/common.sh"
this=$(simulator_path "$here/build/fendrix")
other=$(simulator_path "${1:?usage: $0 OTHER_FENDRIX [ROUNDS]}")
rounds=$(round_count "${2:-3}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
examples="patch_antenna dipole branch_line_coupler lowpass_filter"
for side in this other; do
    mkdir -p "$work/$side"
    for e in $examples; do cp "$here/examples/$e.txt" "$work/$side/"; done
done

for ((r = 0; r < rounds; r++)); do
    for e in $examples; do
        for t in 1 2; do
            for side in other this; do
                binary=$this
                [ "$side" = other ] && binary=$other
                timed_run "$work/$side" "$binary" "$e.txt" -v0 -r -t"$t"
                echo "$e $t $side $run_wall" >> "$work/times"
            done
        done
    done
done
printf "%-20s %7s %9s %9s %8s %s\n" "example" "threads" "other s" "this s" "ratio" "results"
for e in $examples; do
    same=equal
    cmp -s "$work/this/$e.dat" "$work/other/$e.dat" || same=DIFFERENT
    for t in 1 2; do
        median() { awk -v e="$e" -v t="$t" -v s="$1" '$1 == e && $2 == t && $3 == s {print $4}' "$work/times" |
            sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
        a=$(median other)
        b=$(median this)
        awk -v e="$e" -v t="$t" -v a="$a" -v b="$b" -v s="$same" \
            'BEGIN {printf "%-20s %7d %9.2f %9.2f %8.2f %s\n", e, t, a, b, a / b, s}'
    done
done

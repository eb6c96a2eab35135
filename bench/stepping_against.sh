#!/usr/bin/env bash
# Stepping rate of this build against another (an older commit built apart),
# run after run in turn (A B A B ...) so that both see the same load on a
# shared machine; prints each rate's median over the rounds and its spread
# (largest minus smallest, in per cent of the median).
#
#   bash bench/stepping_against.sh OTHER_BUILD [THIS_BUILD] [ROUNDS]
#
# Table 1: N x N x N vacuum boxes with Mur faces, N = 48 to 224, 1 and 2
# threads, without windows (1 step per sweep) and with each build's own
# choice of steps per sweep ("auto", the steps it chose in brackets), each
# chunk one runSteps call (bench_stepping_rate's default chunk length).
# Table 2: the 200^3 box (8 million cells) in chunks of 7 steps, as the run
# loop takes them on that box (bench_stepping_rate --chunk 7; the other build
# needs that option too, stepping each chunk with runSteps).
set -euo pipefail
other=$(cd "$1" && pwd)
this=$(cd "${2:-build}" && pwd)
rounds=${3:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

run() {  # label args...
    local label=$1
    shift
    for r in $(seq "$rounds"); do
        for side in other this; do
            local dir=$other
            [ "$side" = this ] && dir=$this
            "$dir/bench_stepping_rate" --width 4 --sweep 1,0 --runs 2 "$@" |
                awk -v s="$side" 'NR > 2 { print s, $1, $2, $4, $5 }' >>"$out/$label"
        done
    done
}

for n in 48 96 160 200 224; do run table1 --size "$n"; done
run table2 --size 200 --steps 210 --chunk 7

for table in table1 table2; do
    echo "== $table: MC/s, median of $rounds runs (spread %)"
    /usr/bin/python3 - "$out/$table" <<'EOF'
import sys, statistics
rates, chosen = {}, {}
for line in open(sys.argv[1]):
    side, cells, threads, sweep, rate = line.split()
    kind = "auto" if sweep.endswith("(a)") else sweep
    key = (int(cells), int(threads), kind)
    rates.setdefault(key, {}).setdefault(side, []).append(float(rate))
    if kind == "auto":
        chosen.setdefault(key, {})[side] = sweep[:-3]
print(f"{'cells':>9} {'threads':>7} {'sweep':>9} {'other':>16} {'this':>16} {'this/other':>10}")
def cell(v):
    m = statistics.median(v)
    return m, f"{m:8.1f} ({100 * (max(v) - min(v)) / m:4.1f}%)"
for key, sides in sorted(rates.items()):
    cells, threads, kind = key
    if kind == "auto":
        kind = f"auto {chosen[key]['other']}/{chosen[key]['this']}"
    o, ot = cell(sides["other"])
    t, tt = cell(sides["this"])
    print(f"{cells:9d} {threads:7d} {kind:>9} {ot:>16} {tt:>16} {t / o:9.2f}x")
EOF
done

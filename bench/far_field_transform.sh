#!/usr/bin/env bash
# What the far field costs on the bundled patch antenna, for this build and
# another side by side in one run (e.g. the previous main's):
#
#   bench/far_field_transform.sh OTHER_FENDRIX [ROUNDS]
#
# Per build, the CPU time of the whole run (-r, one thread unless THREADS says
# otherwise) with the Radiation line and without it: the difference is the
# whole far field, the face sampling during the run and the transform after
# it. Where perf is installed, one more recorded run splits the transform
# (the direction sums and their cosines and sines) from the rest. Rounds
# alternate the builds so that both see the same load; each keeps its least
# CPU time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/bench/common.sh"
this=$(simulator_path "$here/build/fendrix")
other=$(simulator_path "${1:?usage: $0 OTHER_FENDRIX [ROUNDS]}")
rounds=$(round_count "${2:-3}")
threads=${THREADS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/examples/patch_antenna.txt" "$work/full.txt"
grep -v '^Radiation' "$work/full.txt" > "$work/plain.txt"

least() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }
# Per cent of the samples in the transform's functions (either build's names).
transformShare() {
    command -v perf > /dev/null || { echo "-"; return; }
    (cd "$work" && perf record -q -F 2000 -o perf.data "$1" full.txt -v0 -r -t"$threads" > /dev/null 2>&1) || {
        echo "-"
        return
    }
    perf report -i "$work/perf.data" --no-children --stdio 2> /dev/null |
        awk 'tolower($0) ~ /transformrow|cossin|__sin|__cos/ {t += $1} END {printf "%.1f%%", t}'
}

declare -A best
for ((r = 0; r < rounds; r++)); do
    for build in other this; do
        binary=$this
        [ "$build" = other ] && binary=$other
        for run in full plain; do
            timed_run "$work" "$binary" "$run.txt" -v0 -r -t"$threads"
            best[$build.$run]=$(least "$run_cpu" "${best[$build.$run]:-}")
        done
    done
done
printf "%-6s %9s %18s %16s %16s\n" "build" "run CPU s" "without far field" "far-field share" "transform share"
for build in other this; do
    binary=$this
    [ "$build" = other ] && binary=$other
    awk -v b="$build" -v f="${best[$build.full]}" -v p="${best[$build.plain]}" -v t="$(transformShare "$binary")" \
        'BEGIN {printf "%-6s %9.2f %18.2f %15.1f%% %16s\n", b, f, p, 100 * (f - p) / f, t}'
done
awk -v a="${best[other.full]}" -v b="${best[this.full]}" 'BEGIN {printf "whole run: this build %.2f times faster\n", a / b}'

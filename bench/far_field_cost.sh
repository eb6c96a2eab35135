#!/usr/bin/env bash
# Cost of the far field at more frequencies (--far-field-freq) on the bundled
# patch antenna, side by side in one run: the run without the option, then
# with 1, 8 and 64 more frequencies inside its band, each with -r (the same
# steps every time) and one thread unless THREADS says otherwise.
#
#   bench/far_field_cost.sh [FENDRIX_BINARY] [ROUNDS]
#
# Per run: CPU seconds (user + system, steady under a shared machine's load),
# the stepping loop's and the far-field transform's wall seconds as the run
# reports them, and the transform's share of the run. The rounds alternate the
# runs so that all see the same load; each keeps its least CPU time. Ratios
# are against the run without the option.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/bench/common.sh"
binary=$(simulator_path "${1:-$here/build/fendrix}")
rounds=$(round_count "${2:-1}")
threads=${THREADS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/examples/patch_antenna.txt" "$work/"

# n frequencies spread over 1.6 to 3.2 GHz (the band is 1.5 to 3.5 GHz)
list() { awk -v n="$1" 'BEGIN {for (i = 0; i < n; i++) printf "%s%.6g", (i ? "," : ""), 1.6e9 + (i + 0.5) * 1.6e9 / n}'; }

declare -A best loop transform
for ((r = 0; r < rounds; r++)); do
    for n in 0 1 8 64; do
        option=()
        [ "$n" -gt 0 ] && option=(--far-field-freq="$(list "$n")")
        timed_run "$work" "$binary" patch_antenna.txt -v0 -r -t"$threads" "${option[@]}"
        cpu=$run_cpu
        if [ -z "${best[$n]:-}" ] || awk -v a="$cpu" -v b="${best[$n]}" 'BEGIN {exit !(a < b)}'; then
            best[$n]=$cpu
            loop[$n]=$(awk '/^Performed/ {print $5}' "$work/out.txt")
            transform[$n]=$(awk '/^Time for calculating radiation/ {print $5}' "$work/out.txt")
        fi
    done
done
printf "%-12s %8s %6s %9s %12s %16s\n" "frequencies" "CPU s" "ratio" "loop s" "transform s" "transform share"
for n in 0 1 8 64; do
    awk -v n="$n" -v c="${best[$n]}" -v c0="${best[0]}" -v l="${loop[$n]}" -v t="${transform[$n]}" \
        'BEGIN {printf "%-12s %8.2f %6.2f %9.1f %12.1f %15.1f%%\n", (n ? "1 + " n : "1 (none)"), c, c / c0, l, t, 100 * t / (l + t)}'
done

#!/usr/bin/env bash
# Speed and memory of the perfectly matched layer on the bundled dipole
# (--pml=8) and patch antenna (--pml=4), each against the same description
# with the first-order absorber, side by side in one run.
#
#   bench/pml_cost.sh [FENDRIX_BINARY] [ROUNDS]
#
# The layer needs the far-field box outside it, so both runs of a pair use
# the description with its Radiation margin raised to N + 2, and a step limit
# of a few pulse lengths (the rate, not the results, is measured). The rounds
# alternate the two runs so that both see the same load on a shared machine;
# each keeps its best rate. Rates are million cell updates per second over the
# whole run; memory is the peak resident size.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$here/build/fendrix}")
rounds=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cells of a description: the product of its three mesh-line counts
cells() { awk '/^[xyz]Mesh /{n = split($2, v, ","); c = (c ? c : 1) * n} END {print c}' "$1"; }

# rate (MC/s) and peak memory (MB) of one run of `binary DESCRIPTION OPTIONS` in $work
run() {
    local description=$1; shift
    (cd "$work" && /usr/bin/time -f "%M" -o time.txt "$binary" "$description" -v0 "$@" > out.txt 2> err.txt)
    awk -v c="$(cells "$work/$description")" -v m="$(cat "$work/time.txt")" \
        '/^Performed/ {printf "%.1f %.1f\n", $2 * c / $5 / 1e6, m / 1024}' "$work/out.txt"
}

printf "%-14s %-8s %12s %12s %10s %10s\n" example layer "MC/s off" "MC/s on" "MB off" "MB on"
for pair in "dipole 8 1" "patch_antenna 4 5"; do
    set -- $pair
    name=$1 layer=$2 pulses=$3
    sed -e "s/^Sim [0-9]* /Sim $pulses /" -e "s/^\(Radiation [^ ]* [^ ]* [^ ]*\) [0-9]*$/\1 $((layer + 2))/" \
        "$here/examples/$name.txt" > "$work/$name.txt"
    off=(0 0) on=(0 0)
    best_off=0 best_on=0
    for _ in $(seq "$rounds"); do
        off=($(run "$name.txt"))
        best_off=$(awk -v a="$best_off" -v b="${off[0]}" 'BEGIN {print (b > a ? b : a)}')
        on=($(run "$name.txt" --pml="$layer"))
        best_on=$(awk -v a="$best_on" -v b="${on[0]}" 'BEGIN {print (b > a ? b : a)}')
    done
    printf "%-14s %-8s %12.1f %12.1f %10s %10s   rate ratio %.2f, memory ratio %.2f\n" "$name" "--pml=$layer" \
        "$best_off" "$best_on" "${off[1]}" "${on[1]}" \
        "$(awk -v a="$best_on" -v b="$best_off" 'BEGIN {print a / b}')" \
        "$(awk -v a="${on[1]}" -v b="${off[1]}" 'BEGIN {print a / b}')"
done

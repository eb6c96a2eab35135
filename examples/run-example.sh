#!/usr/bin/env bash
# Builds fendrix and simulates a bundled description (default: the 50-ohm
# microstrip through-line). Usage: bash examples/run-example.sh [DESCRIPTION.txt]
# THREADS=N sets the stepping threads (default 1). Waiting threads spin, so more
# than one pays only on cores that nothing else is using at the time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target fendrix
description=$(realpath "${1:-examples/microstrip_line.txt}")
cd "$(dirname "$description")"
../build/fendrix "$(basename "$description")" -v0 -t"${THREADS:-1}"
echo "Results written to $(pwd)/$(sed -n 's/^Sim [^ ]* [^ ]* [^ ]* //p' "$description")"

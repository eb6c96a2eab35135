#!/usr/bin/env bash
# Runs the property-based fuzz of the tools and of the simulator's command line
# (tools/tests/test_fuzz.py, test_fuzz_options.py) for a
# while: rounds of FENDRIX_FUZZ_EXAMPLES examples per property with fresh
# random seeds, until FENDRIX_FUZZ_SECONDS (default 1800) have passed. Stops at
# the first failure and leaves its report in fuzz-tools.log at the repository root.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${FENDRIX_FUZZ_SECONDS:-1800}
export FENDRIX_FUZZ_EXAMPLES=${FENDRIX_FUZZ_EXAMPLES:-500}
export FENDRIX_BINARY=${FENDRIX_BINARY:-$root/build/fendrix}
export PYTHONPATH=$root/tools
log=$root/fuzz-tools.log
end=$((SECONDS + seconds))
round=0
while [ $SECONDS -lt $end ]; do
  round=$((round + 1))
  seed=$RANDOM$RANDOM
  echo "round $round, seed $seed, $((end - SECONDS)) s left"
  if ! /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tools/tests/test_fuzz.py" "$root/tools/tests/test_fuzz_options.py" \
        --hypothesis-seed="$seed" >"$log" 2>&1; then
    tail -40 "$log"
    echo "FAILED in round $round (seed $seed); the report is in $log"
    exit 1
  fi
done
echo "passed $round rounds of $FENDRIX_FUZZ_EXAMPLES examples per property"
rm -f "$log"

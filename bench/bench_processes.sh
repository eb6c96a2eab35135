#!/usr/bin/env bash
# One run over several processes against one process, side by side on this
# machine, on an N x N x N vacuum box with absorbing faces (default N = 172,
# about 5 million cells) that the step limit ends, so every run does the same
# steps:
#   - 1 process x 2 threads against 2 processes x 1 thread (cell-update rate);
#   - each process's share of the stepping spent trading border planes;
#   - peak memory of each process at 1, 2 and 3 processes;
#   - the results file of every run against the one-process file, byte for byte.
#
#   bash bench/bench_processes.sh [BUILD_DIR] [N] [ROUNDS]
#
# Needs the fendrix binary built with MPI, mpiexec and /usr/bin/time.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
n=${2:-172}
rounds=${3:-3}
fendrix="$build/fendrix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_rmaps_base_oversubscribe=1

lines() { python3 -c "import sys; print('$1Mesh ' + ','.join('%.6g' % (i * 1e-3) for i in range($n)))"; }
mid=$(python3 -c "print('%.6g' % ($n // 2 * 1e-3))")
{
  echo "Sim 1 0 4 out.dat"          # the step limit: one pulse length (about 400 steps)
  echo "Freq 2 1e9 8.6e9 11"
  echo "Boundary 2 2 2 2 2 2"
  lines x; lines y; lines z
  echo "Electric 1 2 50 x $mid,$mid,$mid $mid,$mid,$(python3 -c "print('%.6g' % (($n // 2 + 2) * 1e-3))")"
} > box.txt

cells=$((n * n * n))
rate() {  # million cell updates per second from "Performed N iterations in T sec"
  python3 -c "import re,sys; s=open('$1').read(); m=re.search(r'Performed (\d+) iterations in ([\d.]+) sec', s); print('%.0f' % (int(m.group(1)) * $cells / 1e6 / float(m.group(2))))"
}

echo "Grid: $n x $n x $n = $cells cells"
"$fendrix" box.txt -v0 > one.log 2>&1
cp out.dat reference.dat
echo "Steps: $(grep -o 'Performed [0-9]*' one.log | cut -d' ' -f2)"

echo
echo "== Rate, best of $rounds rounds, alternating (MC/s)"
best1=0; best2=0
for r in $(seq "$rounds"); do
  "$fendrix" box.txt -v0 -t2 > threads.log 2>&1
  cmp -s out.dat reference.dat || { echo "results differ: 1 process x 2 threads"; exit 1; }
  mpiexec -np 2 --bind-to core "$fendrix" box.txt -v1 -t1 > ranks.log 2>&1
  cmp -s out.dat reference.dat || { echo "results differ: 2 processes x 1 thread"; exit 1; }
  a=$(rate threads.log); b=$(rate ranks.log)
  [ "$a" -gt "$best1" ] && best1=$a
  [ "$b" -gt "$best2" ] && best2=$b
  echo "round $r: 1 x 2 threads $a, 2 x 1 thread $b, $(grep 'Border plane exchange' ranks.log)"
done
echo "best: 1 process x 2 threads $best1 MC/s, 2 processes x 1 thread $best2 MC/s," \
     "ratio $(python3 -c "print('%.2f' % ($best2 / $best1))")"

echo
echo "== Peak memory per process (MB, maximum resident set)"
for p in 1 2 3; do
  rm -f mem.*
  mpiexec -np "$p" sh -c "/usr/bin/time -f %M -o mem.\$OMPI_COMM_WORLD_RANK '$fendrix' box.txt -v0 >/dev/null 2>&1"
  cmp -s out.dat reference.dat || { echo "results differ: $p processes"; exit 1; }
  printf "%d processes:" "$p"
  for f in $(ls mem.* | sort -t. -k2 -n); do printf " %.0f" "$(python3 -c "print($(tail -1 "$f") / 1024)")"; done
  echo
done
echo "Every results file matched the one-process file byte for byte."

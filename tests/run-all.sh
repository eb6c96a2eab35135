#!/usr/bin/env bash
# Builds fendrix and passes every test: release, ASan + UBSan, the threaded
# tests under TSan, a short fuzzing run of the parser, the Python tools.
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps.sh
jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENDRIX_SANITIZE=ON \
      -DFENDRIX_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

echo "== ThreadSanitizer (stepping)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENDRIX_TSAN=ON \
      -DFENDRIX_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target fendrix_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/fendrix_tests \
  --gtest_filter='Stepping*:Results.AnalyticDipole*:Program.ResultsAreBitIdentical*:Pml.ThreadsAndWindows*'

echo "== Fuzzing the description parser (60 s; tests/fuzz/run-fuzzer.sh runs longer)"
FUZZ_BUILD=build-fuzz-ci bash tests/fuzz/run-fuzzer.sh 60

echo "== Python tools"
FENDRIX_BINARY="$PWD/build/fendrix" PYTHONPATH=tools /usr/bin/python3 -m pytest -q tools/tests

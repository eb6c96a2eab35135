#!/usr/bin/env bash
# Fuzzes the description parser (and the grid build of small grids) under
# AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: bash tests/fuzz/run-fuzzer.sh [SECONDS] [JOBS]   (default 60 s, 1 job)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
jobs=${2:-1}
build=${FUZZ_BUILD:-build-fuzz}
mkdir -p "$build"
sources=$(ls common/*.cpp driver/*.cpp input/*.cpp geometry/*.cpp grid/*.cpp engine/*.cpp probes/*.cpp results/*.cpp \
          | grep -v driver/main.cpp)
# One compiler call; the sources are few enough.
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I. $sources tests/fuzz/parse_fuzzer.cpp -lpthread -o "$build/parse_fuzzer"
work="$build/corpus"
mkdir -p "$work"
cp -n tests/fuzz/corpus/* "$work"/ 2>/dev/null || true
# Findings land in $build/ as crash-* / leak-* / timeout-* files.
"$build/parse_fuzzer" "$work" -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
    -max_len=4096 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/" -print_final_stats=1 \
    2>&1 | tail -n 25
